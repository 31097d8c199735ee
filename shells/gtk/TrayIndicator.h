#pragma once
// The tray icon as a StatusNotifier item (an Ayatana AppIndicator), for
// desktops whose panel has a StatusNotifier host and no XEmbed tray (GNOME
// with the AppIndicator extension, KDE Plasma on Wayland, and so on). Where an
// XEmbed tray exists the popup keeps its GtkStatusIcon.
#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>

#include "shells/gtk/TrayKind.h"

struct _AppIndicator;

namespace kivo::gtk {

// Looks at the display and the session bus and picks the kind of tray icon
// (ChooseTrayKind), traced as "tray kind <name> ...". The bus is asked only
// when no XEmbed tray exists, and for a short while at most.
TrayKind DetectTrayKind();

class CTrayIndicator {
public:
    // An indicator titled `title` (UTF-8) with the program's icon and `menu`
    // (a reference is taken; its items do what they do in the XEmbed tray's
    // menu). `onSecondary` runs on the secondary activation (a middle click
    // on the item). Null when the indicator cannot be made: no indicator
    // support built in, or no place for the icon file.
    static std::unique_ptr<CTrayIndicator> Create(const std::string& title, GtkWidget* menu,
                                                  std::function<void()> onSecondary);
    ~CTrayIndicator();
    CTrayIndicator(const CTrayIndicator&) = delete;
    CTrayIndicator& operator=(const CTrayIndicator&) = delete;

private:
    CTrayIndicator() = default;

    static void OnSecondary(GtkMenuItem*, gpointer self);
    static void OnConnectionChanged(struct _AppIndicator*, gboolean connected, gpointer);

    struct _AppIndicator* m_indicator = nullptr;
    GtkWidget* m_menu = nullptr;
    GtkWidget* m_secondaryMenu = nullptr;
    GtkWidget* m_secondaryItem = nullptr;
    std::function<void()> m_onSecondary;
    std::string m_iconFile;
    std::string m_tempDir;  // removed with the indicator when the icon went there
};

}  // namespace kivo::gtk
