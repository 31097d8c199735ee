#pragma once
// Modal dialogs built from their templates at 1.5 pixels per dialog unit.
#include <gtk/gtk.h>

#include <string>

#include "ui/Dialog.h"

namespace kivo::gtk {

// A message box as the program's others are, whatever the locale: the icon of
// `type` and one button, "确定", answering GTK_RESPONSE_OK. `text` is GBK.
GtkWidget* NewMessageBox(GtkWindow* parent, GtkMessageType type, const std::string& text);
// The label of that button, UTF-8, as the trace reports it.
std::string MessageBoxButton(GtkWidget* box);

class CGtkDialogs : public IDialogRunner {
public:
    // Dialogs belong to `group`, so that their modal grab holds the popup
    // but not the tray icon; the first stands over `owner`.
    CGtkDialogs(GtkWindowGroup* group, GtkWindow* owner) : m_group(group), m_owner(owner) {}

    int RunModal(CDialogBase& dlg) override;

    // A modal warning over `parent` (null: the innermost dialog or the owner).
    void MessageBox(GtkWindow* parent, const std::string& text, const std::string& caption);
    GtkWindow* Innermost() const { return m_innermost != nullptr ? m_innermost : m_owner; }

private:
    GtkWindowGroup* m_group;
    GtkWindow* m_owner;
    GtkWindow* m_innermost = nullptr;
};

}  // namespace kivo::gtk
