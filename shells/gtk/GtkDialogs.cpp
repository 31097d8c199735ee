#include "shells/gtk/GtkDialogs.h"

#include <map>
#include <vector>

#include "net/Catalogue.h"
#include "platform/linux/Gbk.h"
#include "shells/gtk/GtkShell.h"
#include "ui/Resource.h"
#include "ui/Templates.h"
#include "ui/Texts.h"

namespace kivo::gtk {

namespace {

// One open dialog: its window, controls by id and the modal run.
class CGtkDialogView : public IDialogView {
public:
    CGtkDialogView(CGtkDialogs& dialogs, CDialogBase& dlg, const DialogTemplate& tmpl, GtkWindowGroup* group,
                   GtkWindow* parent);
    ~CGtkDialogView() override;
    CGtkDialogView(const CGtkDialogView&) = delete;
    CGtkDialogView& operator=(const CGtkDialogView&) = delete;

    int Run();
    GtkWindow* Window() const { return GTK_WINDOW(m_window); }

    bool GetItemText(int nId, std::string& text) override;
    void SetItemText(int nId, const std::string& text) override;
    int GetCurSel(int nId) override;
    void SetCurSel(int nId, int nIndex) override;
    int GetCheck(int nId) override;
    void SetCheck(int nId, int nCheck) override;
    void ShowMessage(const std::string& text, const std::string& caption) override;
    void EndDialog(int nResult) override;

private:
    struct Binding {
        CGtkDialogView* view;
        int nId;
    };
    GtkWidget* Item(int nId) const;
    void Bind(GtkWidget* widget, int nId, const char* signal, GCallback callback);

    static void OnClicked(GtkButton*, gpointer data);
    static gboolean OnFocusIn(GtkWidget*, GdkEvent*, gpointer data);
    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data);
    static gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data);

    CGtkDialogs& m_dialogs;
    CDialogBase& m_dlg;
    const DialogTemplate& m_tmpl;
    GtkWidget* m_window = nullptr;
    GMainLoop* m_loop = nullptr;
    int m_nResult = IDC_CANCEL;
    bool m_bEnded = false;
    std::map<int, GtkWidget*> m_items;
    std::vector<Binding*> m_bindings;
};

CGtkDialogView::CGtkDialogView(CGtkDialogs& dialogs, CDialogBase& dlg, const DialogTemplate& tmpl,
                               GtkWindowGroup* group, GtkWindow* parent)
    : m_dialogs(dialogs), m_dlg(dlg), m_tmpl(tmpl) {
    m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    g_object_ref_sink(m_window);
    GtkWindow* window = GTK_WINDOW(m_window);
    gtk_style_context_add_class(gtk_widget_get_style_context(m_window), "kivo-dialog");
    gtk_window_set_title(window, ToUtf8(tmpl.szCaption).c_str());
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_modal(window, TRUE);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_skip_taskbar_hint(window, TRUE);
    if (parent != nullptr) {
        gtk_window_set_transient_for(window, parent);
        gtk_window_set_position(window, GTK_WIN_POS_CENTER_ON_PARENT);
    } else {
        gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    }
    if (group != nullptr) gtk_window_group_add_window(group, window);
    if (GdkPixbuf* icon = LoadIcon(32)) {
        gtk_window_set_icon(window, icon);
        g_object_unref(icon);
    }
    int width = 0, height = 0;
    WindowPixels(tmpl, width, height);
    gtk_widget_set_size_request(m_window, width, height);

    GtkWidget* fixed = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(m_window), fixed);
    std::vector<GtkWidget*> focusChain;
    // A text just before a list or an edit box in template order is its
    // label, for assistive technology as on Windows.
    GtkWidget* caption = nullptr;
    for (int i = 0; i < tmpl.nItems; ++i) {
        const DialogItem& item = tmpl.pItems[i];
        PixelRect rect = ItemPixels(item);
        GtkWidget* widget = nullptr;
        const std::string text = item.szText != nullptr ? ToUtf8(item.szText) : std::string();
        switch (item.kind) {
            case ItemKind::DefPushButton:
            case ItemKind::PushButton:
                widget = gtk_button_new_with_label(text.c_str());
                Bind(widget, item.nId, "clicked", G_CALLBACK(OnClicked));
                if (item.kind == ItemKind::DefPushButton) {
                    gtk_widget_set_can_default(widget, TRUE);
                    gtk_window_set_default(window, widget);
                }
                focusChain.push_back(widget);
                break;
            case ItemKind::Text: {
                widget = gtk_label_new(text.c_str());
                // One line each, as the template's texts are laid out.
                GtkLabel* label = GTK_LABEL(widget);
                gtk_label_set_xalign(label, 0.0f);
                gtk_label_set_yalign(label, 0.0f);
                break;
            }
            case ItemKind::DropList: {
                widget = gtk_combo_box_text_new();
                if (item.list != ListData::None)
                    for (const CategoryInfo& category : g_categories)
                        gtk_combo_box_text_append_text(
                            GTK_COMBO_BOX_TEXT(widget),
                            ToUtf8(item.list == ListData::PopupNames ? category.szPopupText : category.szSettingsText)
                                .c_str());
                rect.height = DluToPixels(14);  // closed; the list drops below
                focusChain.push_back(widget);
                break;
            }
            case ItemKind::Edit:
                widget = gtk_entry_new();
                gtk_entry_set_width_chars(GTK_ENTRY(widget), 1);
                gtk_entry_set_activates_default(GTK_ENTRY(widget), TRUE);
                Bind(widget, item.nId, "focus-in-event", G_CALLBACK(OnFocusIn));
                focusChain.push_back(widget);
                break;
            case ItemKind::CheckBox:
                widget = gtk_check_button_new_with_label(text.c_str());
                focusChain.push_back(widget);
                break;
            case ItemKind::Icon: {
                GdkPixbuf* icon = LoadIcon(32);
                widget = gtk_image_new_from_pixbuf(icon);
                if (icon != nullptr) g_object_unref(icon);
                rect.width = rect.height = 32;
                break;
            }
            default:
                widget = gtk_label_new(nullptr);
                break;
        }
        if (caption != nullptr && (item.kind == ItemKind::DropList || item.kind == ItemKind::Edit)) {
            gtk_label_set_mnemonic_widget(GTK_LABEL(caption), widget);
            atk_object_set_name(gtk_widget_get_accessible(widget), gtk_label_get_text(GTK_LABEL(caption)));
        }
        caption = item.kind == ItemKind::Text ? widget : nullptr;
        gtk_widget_set_size_request(widget, rect.width, rect.height);
        gtk_fixed_put(GTK_FIXED(fixed), widget, rect.x, rect.y);
        if (item.nId != IDC_STATIC) m_items[item.nId] = widget;
    }
    // Tab order is template order.
    GList* chain = nullptr;
    for (auto it = focusChain.rbegin(); it != focusChain.rend(); ++it) chain = g_list_prepend(chain, *it);
    gtk_container_set_focus_chain(GTK_CONTAINER(fixed), chain);
    g_list_free(chain);

    g_signal_connect(m_window, "delete-event", G_CALLBACK(OnDelete), this);
    g_signal_connect(m_window, "key-press-event", G_CALLBACK(OnKey), this);
}

CGtkDialogView::~CGtkDialogView() {
    gtk_widget_destroy(m_window);
    g_object_unref(m_window);
    for (Binding* binding : m_bindings) delete binding;
    if (m_loop != nullptr) g_main_loop_unref(m_loop);
}

void CGtkDialogView::Bind(GtkWidget* widget, int nId, const char* signal, GCallback callback) {
    auto* binding = new Binding{this, nId};
    m_bindings.push_back(binding);
    g_signal_connect(widget, signal, callback, binding);
}

GtkWidget* CGtkDialogView::Item(int nId) const {
    const auto it = m_items.find(nId);
    return it != m_items.end() ? it->second : nullptr;
}

int CGtkDialogView::Run() {
    m_dlg.Attach(this);
    m_dlg.OnInitDialog();
    if (m_bEnded) return m_nResult;
    gtk_widget_show_all(m_window);
    // A new dialog is the active window, the popup's own included.
    gtk_window_present(GTK_WINDOW(m_window));
    // The keyboard starts on the first tab stop.
    for (int i = 0; i < m_tmpl.nItems; ++i) {
        const DialogItem& item = m_tmpl.pItems[i];
        if (item.kind == ItemKind::DefPushButton || item.kind == ItemKind::PushButton) {
            if (GtkWidget* first = Item(item.nId)) gtk_widget_grab_focus(first);
            break;
        }
    }
    Trace("dialog " + std::to_string(m_tmpl.nId) + " shown");
    m_loop = g_main_loop_new(nullptr, FALSE);
    if (!ModalRuns::Run(m_loop) && !m_bEnded) m_nResult = IDC_CANCEL;
    Trace("dialog " + std::to_string(m_tmpl.nId) + " closed " + std::to_string(m_nResult));
    return m_nResult;
}

bool CGtkDialogView::GetItemText(int nId, std::string& text) {
    text.clear();
    GtkWidget* widget = Item(nId);
    if (widget == nullptr) return true;
    const char* utf8 = GTK_IS_ENTRY(widget)    ? gtk_entry_get_text(GTK_ENTRY(widget))
                       : GTK_IS_BUTTON(widget) ? gtk_button_get_label(GTK_BUTTON(widget))
                                               : nullptr;
    if (utf8 == nullptr) return true;
    const auto gbk = kivo::platform::Utf8ToGbk(utf8);
    if (!gbk) return false;
    text = *gbk;
    return true;
}

void CGtkDialogView::SetItemText(int nId, const std::string& text) {
    GtkWidget* widget = Item(nId);
    if (widget == nullptr) return;
    const std::string utf8 = ToUtf8(text);
    if (GTK_IS_ENTRY(widget))
        gtk_entry_set_text(GTK_ENTRY(widget), utf8.c_str());
    else if (GTK_IS_BUTTON(widget))
        gtk_button_set_label(GTK_BUTTON(widget), utf8.c_str());
}

int CGtkDialogView::GetCurSel(int nId) {
    GtkWidget* widget = Item(nId);
    return widget != nullptr && GTK_IS_COMBO_BOX(widget) ? gtk_combo_box_get_active(GTK_COMBO_BOX(widget)) : -1;
}

void CGtkDialogView::SetCurSel(int nId, int nIndex) {
    GtkWidget* widget = Item(nId);
    if (widget == nullptr || !GTK_IS_COMBO_BOX(widget)) return;
    gtk_combo_box_set_active(GTK_COMBO_BOX(widget), nIndex >= 0 && nIndex < kCategoryCount ? nIndex : -1);
}

int CGtkDialogView::GetCheck(int nId) {
    GtkWidget* widget = Item(nId);
    return widget != nullptr && GTK_IS_TOGGLE_BUTTON(widget) && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(widget))
               ? 1
               : 0;
}

void CGtkDialogView::SetCheck(int nId, int nCheck) {
    GtkWidget* widget = Item(nId);
    if (widget != nullptr && GTK_IS_TOGGLE_BUTTON(widget))
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widget), nCheck != 0);
}

void CGtkDialogView::ShowMessage(const std::string& text, const std::string& caption) {
    m_dialogs.MessageBox(Window(), text, caption);
}

void CGtkDialogView::EndDialog(int nResult) {
    m_nResult = nResult;
    m_bEnded = true;
    ModalRuns::End(m_loop);
}

void CGtkDialogView::OnClicked(GtkButton*, gpointer data) {
    auto* binding = static_cast<Binding*>(data);
    binding->view->m_dlg.OnClicked(binding->nId);
}

gboolean CGtkDialogView::OnFocusIn(GtkWidget*, GdkEvent*, gpointer data) {
    auto* binding = static_cast<Binding*>(data);
    binding->view->m_dlg.OnFocused(binding->nId);
    return FALSE;
}

gboolean CGtkDialogView::OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    static_cast<CGtkDialogView*>(data)->m_dlg.OnCancel();
    return TRUE;
}

gboolean CGtkDialogView::OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
    if (event->keyval != GDK_KEY_Escape) return FALSE;
    static_cast<CGtkDialogView*>(data)->m_dlg.OnCancel();
    return TRUE;
}

struct MessageRun {
    GMainLoop* loop;
};

void OnMessageResponse(GtkDialog*, gint, gpointer data) { ModalRuns::End(static_cast<MessageRun*>(data)->loop); }

}  // namespace

GtkWidget* NewMessageBox(GtkWindow* parent, GtkMessageType type, const std::string& text) {
    GtkWidget* box = gtk_message_dialog_new(parent, parent != nullptr ? GTK_DIALOG_MODAL : GtkDialogFlags(0), type,
                                            GTK_BUTTONS_NONE, "%s", ToUtf8(text).c_str());
    gtk_dialog_add_button(GTK_DIALOG(box), ToUtf8(kszOk).c_str(), GTK_RESPONSE_OK);
    gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
    // GTK 3 shows no icon for the message type by itself: the theme's.
    const char* iconName = type == GTK_MESSAGE_WARNING ? "dialog-warning" : "dialog-information";
    GtkWidget* icon = gtk_image_new_from_icon_name(iconName, GTK_ICON_SIZE_DIALOG);
    gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(box), icon);
    gtk_widget_show(icon);
    return box;
}

std::string MessageBoxButton(GtkWidget* box) {
    GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
    const char* label = button != nullptr ? gtk_button_get_label(GTK_BUTTON(button)) : nullptr;
    return label != nullptr ? label : "";
}

int CGtkDialogs::RunModal(CDialogBase& dlg) {
    const DialogTemplate* tmpl = FindTemplate(dlg.TemplateId());
    if (tmpl == nullptr || ModalRuns::Quitting()) return -1;
    GtkWindow* parent = Innermost();
    CGtkDialogView view(*this, dlg, *tmpl, m_group, parent);
    GtkWindow* outer = m_innermost;
    m_innermost = view.Window();
    const int result = view.Run();
    m_innermost = outer;
    dlg.Attach(nullptr);
    return result;
}

void CGtkDialogs::MessageBox(GtkWindow* parent, const std::string& text, const std::string& caption) {
    if (ModalRuns::Quitting()) return;
    if (parent == nullptr) parent = Innermost();
    GtkWidget* box = NewMessageBox(parent, GTK_MESSAGE_WARNING, text);
    gtk_window_set_title(GTK_WINDOW(box), ToUtf8(caption).c_str());
    if (m_group != nullptr) gtk_window_group_add_window(m_group, GTK_WINDOW(box));
    MessageRun run{g_main_loop_new(nullptr, FALSE)};
    g_signal_connect(box, "response", G_CALLBACK(OnMessageResponse), &run);
    gtk_widget_show_all(box);
    gtk_window_present(GTK_WINDOW(box));
    Trace("message " + ToUtf8(caption) + ": " + ToUtf8(text) + " [" + MessageBoxButton(box) + "]");
    ModalRuns::Run(run.loop);
    gtk_widget_destroy(box);
    g_main_loop_unref(run.loop);
    Trace("message closed");
}

}  // namespace kivo::gtk
