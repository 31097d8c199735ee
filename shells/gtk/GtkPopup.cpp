#include "shells/gtk/GtkPopup.h"

#include <gdk/gdkx.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "net/Catalogue.h"
#include "platform/linux/Gbk.h"
#include "shells/gtk/GtkShell.h"
#include "ui/Resource.h"
#include "ui/Templates.h"
#include "ui/Texts.h"

namespace kivo::gtk {

struct CGtkPopup::Timer {
    CGtkPopup* popup;
    unsigned nIDEvent;
};

struct CGtkPopup::Command {
    CGtkPopup* popup;
    unsigned nId;
};

struct CGtkPopup::LaterCopy {
    CGtkPopup* popup;
    std::string message;
};

struct CGtkPopup::Intent {
    CGtkPopup* popup;
    std::function<void()> run;
};

struct CGtkPopup::Notice {
    std::string text;
    std::string caption;
    std::mutex mutex;
    std::condition_variable closed;
    bool done = false;
};

namespace {

constexpr const char* kIdKey = "kivo-id";
// How long a window manager has to carry out a move before the window is
// moved another way, and then before the placement counts as refused.
constexpr guint kPlaceWaitMs = 500;

bool IsWebAddress(const std::string& address) {
    return address.rfind("http://", 0) == 0 || address.rfind("https://", 0) == 0;
}

// `control` named `name` (UTF-8) and labelled by the image `caption` that
// shows that name, for assistive technology.
void TieCaption(GtkWidget* caption, GtkWidget* control, const char* name) {
    if (control == nullptr) return;
    AtkObject* target = gtk_widget_get_accessible(control);
    atk_object_set_name(target, name);
    if (caption == nullptr) return;
    AtkObject* label = gtk_widget_get_accessible(caption);
    atk_object_set_name(label, name);
    atk_object_set_role(label, ATK_ROLE_LABEL);
    atk_object_add_relationship(label, ATK_RELATION_LABEL_FOR, target);
    atk_object_add_relationship(target, ATK_RELATION_LABELLED_BY, label);
}

// The toolkit's keys the popup's key filter looks at.
struct KeyIntent {
    guint keyval;
    Key key;
};
constexpr KeyIntent kKeys[] = {
    {GDK_KEY_Escape, Key::Escape},
    {GDK_KEY_Return, Key::Enter},
    {GDK_KEY_KP_Enter, Key::Enter},
    {GDK_KEY_ISO_Enter, Key::Enter},
};

Key KeyOf(guint keyval) {
    for (const KeyIntent& entry : kKeys)
        if (entry.keyval == keyval) return entry.key;
    return Key::Other;
}

void SetPixbuf(GtkWidget* image, int nBitmap) {
    if (image == nullptr) return;
    GdkPixbuf* pixbuf = nBitmap > 0 ? LoadBitmap(nBitmap) : nullptr;
    if (pixbuf != nullptr) {
        gtk_image_set_from_pixbuf(GTK_IMAGE(image), pixbuf);
        g_object_unref(pixbuf);
    } else {
        gtk_image_clear(GTK_IMAGE(image));
    }
}

GtkWidget* NewImage(int nBitmap) {
    GtkWidget* image = gtk_image_new();
    SetPixbuf(image, nBitmap);
    return image;
}

// Moves a child of a GtkFixed to the end of its drawing order.
void RaiseChild(GtkWidget* child) {
    GtkWidget* fixed = gtk_widget_get_parent(child);
    int x = 0, y = 0;
    gtk_container_child_get(GTK_CONTAINER(fixed), child, "x", &x, "y", &y, nullptr);
    g_object_ref(child);
    gtk_container_remove(GTK_CONTAINER(fixed), child);
    gtk_fixed_put(GTK_FIXED(fixed), child, x, y);
    g_object_unref(child);
}

bool IsWithin(GtkWidget* widget, GtkWidget* container) {
    return widget != nullptr && container != nullptr &&
           (widget == container || gtk_widget_is_ancestor(widget, container));
}

}  // namespace

CGtkPopup::CGtkPopup(std::shared_ptr<kivo::platform::IHttpClient> http) : m_http(std::move(http)) {}

CGtkPopup::~CGtkPopup() {
    for (const auto& [id, source] : m_timers) g_source_remove(source);
    CancelOwnPage();
    if (m_placeCheck != 0) g_source_remove(m_placeCheck);
    if (m_loop != nullptr) g_main_loop_unref(m_loop);
    if (m_menu != nullptr) g_object_unref(m_menu);
    if (m_tray != nullptr) g_object_unref(m_tray);
    if (m_group != nullptr) g_object_unref(m_group);
    if (m_shape != nullptr) cairo_region_destroy(m_shape);
}

void CGtkPopup::Build() {
    const DialogTemplate* tmpl = FindTemplate(IDD_KIVO_DIALOG);
    m_group = gtk_window_group_new();
    m_window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* window = GTK_WINDOW(m_window);
    gtk_window_group_add_window(m_group, window);
    gtk_style_context_add_class(gtk_widget_get_style_context(m_window), "kivo-popup");
    gtk_window_set_title(window, "");
    gtk_window_set_decorated(window, FALSE);
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_keep_above(window, FALSE);
    // Shown where the system puts a new window; timer 2 then moves it.
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    int width = 0, height = 0;
    WindowPixels(*tmpl, width, height);
    gtk_window_set_default_size(window, width, height);
    gtk_widget_set_size_request(m_window, width, height);
    gtk_widget_add_events(m_window, GDK_BUTTON_PRESS_MASK);
    // Where a compositor shows windows, it may show the whole rectangle of
    // one whatever its X shape (XWayland on weston, Wayland itself): the
    // window then has alpha and paints nothing outside its shape.
    GdkScreen* screen = gtk_widget_get_screen(m_window);
    if (GdkVisual* alpha = gdk_screen_is_composited(screen) ? gdk_screen_get_rgba_visual(screen) : nullptr) {
        gtk_widget_set_visual(m_window, alpha);
        g_signal_connect(m_window, "draw", G_CALLBACK(OnDrawShaped), this);
    }

    GtkWidget* fixed = gtk_fixed_new();
    gtk_widget_set_size_request(fixed, width, height);
    gtk_container_add(GTK_CONTAINER(m_window), fixed);
    // Later children are drawn over earlier ones: the template's first item,
    // the top of its z-order, goes in last.
    std::vector<GtkWidget*> buttons;
    GtkWidget* searchCaption = nullptr;
    GtkWidget* chooserCaption = nullptr;
    for (int i = tmpl->nItems - 1; i >= 0; --i) {
        const DialogItem& item = tmpl->pItems[i];
        const PixelRect rect = ItemPixels(item);
        GtkWidget* widget = nullptr;
        switch (item.kind) {
            case ItemKind::ImageStatic:
                widget = NewImage(item.nBitmap);
                if (item.nId == IDC_HEADER) m_header = widget;
                if (item.nBitmap == IDB_CAPTION_SEARCH) searchCaption = widget;
                if (item.nBitmap == IDB_CAPTION_CHOOSE) chooserCaption = widget;
                break;
            case ItemKind::ImageButton: {
                widget = gtk_event_box_new();
                GtkWidget* image = NewImage(item.nBitmap);
                gtk_container_add(GTK_CONTAINER(widget), image);
                SetUpImageButton(widget, item.nId);
                if (item.nId == IDC_CLOSE) m_close = image;
                buttons.push_back(widget);
                break;
            }
            case ItemKind::Browser:
                m_pageView = CreatePageView(m_http, rect.width, rect.height, PageEvents());
                widget = m_page = m_pageView->Widget();
                break;
            case ItemKind::DropList: {
                widget = gtk_combo_box_text_new();
                m_chooser = widget;
                gtk_widget_set_name(widget, "kivo-chooser");
                for (const CategoryInfo& category : g_categories)
                    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(widget), ToUtf8(category.szPopupText).c_str());
                // The closed box keeps to its rectangle however long a name;
                // without the cell's own padding, every one of the fourteen
                // fits in it whole.
                GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(widget));
                for (GList* cell = cells; cell != nullptr; cell = cell->next)
                    g_object_set(cell->data, "ellipsize", PANGO_ELLIPSIZE_END, "xpad", 0, nullptr);
                g_list_free(cells);
                // The box has its rectangle: it need not measure all fourteen
                // names to find its size (the closed box shows one).
                if (GtkWidget* view = gtk_bin_get_child(GTK_BIN(widget)); view != nullptr && GTK_IS_CELL_VIEW(view))
                    gtk_cell_view_set_fit_model(GTK_CELL_VIEW(view), FALSE);
                gtk_widget_set_size_request(widget, rect.width, DluToPixels(12));
                g_signal_connect(widget, "changed", G_CALLBACK(OnChooserChanged), this);
                break;
            }
            case ItemKind::Edit:
                widget = gtk_entry_new();
                m_search = widget;
                gtk_widget_set_name(widget, "kivo-search");
                gtk_entry_set_width_chars(GTK_ENTRY(widget), 1);
                gtk_widget_set_size_request(widget, rect.width, rect.height);
                break;
            default:
                continue;
        }
        gtk_fixed_put(GTK_FIXED(fixed), widget, rect.x, rect.y);
    }
    // Tab order is template order: the page, the chooser, the search box,
    // then the site, hide and search buttons.
    GList* chain = g_list_append(g_list_append(g_list_append(nullptr, m_page), m_chooser), m_search);
    for (auto it = buttons.rbegin(); it != buttons.rend(); ++it) chain = g_list_append(chain, *it);
    gtk_container_set_focus_chain(GTK_CONTAINER(fixed), chain);
    g_list_free(chain);

    // What assistive technology reads: the window by the program's name, the
    // search box and the chooser by their captions, which are images.
    atk_object_set_name(gtk_widget_get_accessible(m_window), "Kivo");
    TieCaption(searchCaption, m_search, ToUtf8(kszSearchBoxName).c_str());
    TieCaption(chooserCaption, m_chooser, ToUtf8(kszChooserName).c_str());

    // The image buttons lie on images (the hide button inside the header,
    // the site button on the bottom bar) and show over them.
    for (GtkWidget* button : buttons) RaiseChild(button);

    // Escape and Enter are filtered also while the chooser's list is open:
    // its menu has the keyboard then, so the keys are seen before it.
    gtk_key_snooper_install(OnChooserMenuKey, this);

    g_signal_connect(m_window, "key-press-event", G_CALLBACK(OnKeyPress), this);
    g_signal_connect(m_window, "button-press-event", G_CALLBACK(OnButtonPress), this);
    g_signal_connect(m_window, "delete-event", G_CALLBACK(OnDelete), this);
    g_signal_connect(m_window, "destroy", G_CALLBACK(OnDestroy), this);
    g_signal_connect(m_window, "map-event", G_CALLBACK(OnMapped), this);
    g_signal_connect(m_window, "configure-event", G_CALLBACK(OnConfigure), this);
    g_signal_connect_after(m_window, "size-allocate", G_CALLBACK(OnSizeAllocate), this);
    m_dialogs = std::make_unique<CGtkDialogs>(m_group, window);
}

int CGtkPopup::DoModal(CHotListDlg& dlg) {
    m_pDlg = &dlg;
    Build();
    const bool bGoOn = dlg.OnInitDialog();
    if (bGoOn && m_window != nullptr) {
        gtk_widget_show_all(m_window);
        // The first tab stop, the page, takes the keyboard.
        if (m_page != nullptr) gtk_widget_grab_focus(m_page);
    }
    m_bUp = bGoOn;
    m_loop = g_main_loop_new(nullptr, FALSE);
    ModalRuns::Run(m_loop);
    m_bUp = false;
    Trace("popup ended " + std::to_string(m_nResult));
    dlg.OnDestroy();
    for (const auto& [id, source] : m_timers) g_source_remove(source);
    m_timers.clear();
    CancelOwnPage();
    if (m_window != nullptr) {
        g_signal_handlers_disconnect_by_data(m_window, this);
        gtk_widget_destroy(m_window);
        m_window = nullptr;
    }
    gdk_display_flush(gdk_display_get_default());
    m_pDlg = nullptr;
    return m_nResult;
}

void CGtkPopup::PostLaterCopy(const std::string& message) { g_idle_add(OnLaterCopyIdle, new LaterCopy{this, message}); }

gboolean CGtkPopup::OnLaterCopyIdle(gpointer data) {
    std::unique_ptr<LaterCopy> later(static_cast<LaterCopy*>(data));
    Trace("later copy " + later->message);
    CGtkPopup* popup = later->popup;
    if (popup->m_bUp && popup->m_pDlg != nullptr) popup->m_pDlg->OnLaterCopy(later->message);
    return G_SOURCE_REMOVE;
}

void CGtkPopup::PostIntent(std::function<void()> intent) {
    g_idle_add(OnIntentIdle, new Intent{this, std::move(intent)});
}

gboolean CGtkPopup::OnIntentIdle(gpointer data) {
    std::unique_ptr<Intent> intent(static_cast<Intent*>(data));
    if (intent->popup->m_bUp && intent->run) intent->run();
    return G_SOURCE_REMOVE;
}

// --- IUiHost --------------------------------------------------------------

void CGtkPopup::SetTimer(unsigned nIDEvent, unsigned nElapseMs) {
    KillTimer(nIDEvent);
    auto* timer = new Timer{this, nIDEvent};
    // The page's retry keeps its own pace (KIVO_PAGE_RETRY_SECONDS).
    const double scale = nIDEvent == kTimerPageRetry ? 1.0 : TimeScale();
    const auto ms = static_cast<guint>(nElapseMs / scale);
    m_timers[nIDEvent] = g_timeout_add_full(G_PRIORITY_DEFAULT, ms, OnTimerSource, timer,
                                            [](gpointer data) { delete static_cast<Timer*>(data); });
}

void CGtkPopup::KillTimer(unsigned nIDEvent) {
    const auto it = m_timers.find(nIDEvent);
    if (it == m_timers.end()) return;
    g_source_remove(it->second);
    m_timers.erase(it);
}

gboolean CGtkPopup::OnTimerSource(gpointer data) {
    auto* timer = static_cast<Timer*>(data);
    if (timer->popup->m_pDlg != nullptr) timer->popup->m_pDlg->OnTimer(timer->nIDEvent);
    return G_SOURCE_CONTINUE;
}

void CGtkPopup::ShowNotice(const char* szText, const char* szCaption) {
    Notice notice;
    notice.text = szText;
    notice.caption = szCaption;
    if (g_main_context_is_owner(g_main_context_default())) {
        OnNoticeIdle(&notice);
        while (!notice.done) g_main_context_iteration(nullptr, TRUE);
        return;
    }
    g_idle_add(OnNoticeIdle, &notice);
    // Only this worker waits; the popup stays usable beside the notice.
    std::unique_lock<std::mutex> lock(notice.mutex);
    notice.closed.wait(lock, [&] { return notice.done; });
}

gboolean CGtkPopup::OnNoticeIdle(gpointer data) {
    auto* notice = static_cast<Notice*>(data);
    GtkWidget* box = NewMessageBox(nullptr, GTK_MESSAGE_INFO, notice->text);
    gtk_window_set_title(GTK_WINDOW(box), ToUtf8(notice->caption).c_str());
    g_signal_connect(box, "response", G_CALLBACK(OnNoticeResponse), notice);
    gtk_widget_show_all(box);
    Trace("notice " + ToUtf8(notice->caption) + ": " + ToUtf8(notice->text) + " [" + MessageBoxButton(box) + "]");
    return G_SOURCE_REMOVE;
}

void CGtkPopup::OnNoticeResponse(GtkDialog* dialog, gint, gpointer data) {
    auto* notice = static_cast<Notice*>(data);
    gtk_widget_destroy(GTK_WIDGET(dialog));
    Trace("notice closed");
    // Every way of closing it counts as OK.
    std::lock_guard<std::mutex> lock(notice->mutex);
    notice->done = true;
    notice->closed.notify_all();
}

void CGtkPopup::PostQuit() {
    if (!m_bQuitPosted.exchange(true)) g_idle_add(OnQuitIdle, this);
}

gboolean CGtkPopup::OnQuitIdle(gpointer self) {
    Trace("quit");
    static_cast<CGtkPopup*>(self)->m_nResult = IDC_CANCEL;
    ModalRuns::QuitAll();
    return G_SOURCE_REMOVE;
}

void CGtkPopup::EndModal(int nResult) {
    m_nResult = nResult;
    ModalRuns::QuitAll();
}

int CGtkPopup::RunModal(CDialogBase& dlg) { return m_dialogs ? m_dialogs->RunModal(dlg) : -1; }

// --- IHotListView ---------------------------------------------------------

void CGtkPopup::AppendSystemMenuItem(unsigned, const std::string&) {
    // An undecorated GTK window has no system menu.
}

void CGtkPopup::SetToolWindowStyle() {
    if (m_window == nullptr) return;
    gtk_window_set_skip_taskbar_hint(GTK_WINDOW(m_window), TRUE);
    gtk_window_set_skip_pager_hint(GTK_WINDOW(m_window), TRUE);
}

void CGtkPopup::SetIcons(int) {
    if (m_window == nullptr) return;
    // At start the icons wait for the skin's first frame, as the tray does.
    m_bPendingIcons = !m_bSkinPainted;
    if (m_bPendingIcons) return;
    GList* icons = nullptr;
    for (int size : {16, 32, 48})
        if (GdkPixbuf* icon = LoadIcon(size)) icons = g_list_append(icons, icon);
    gtk_window_set_icon_list(GTK_WINDOW(m_window), icons);
    g_list_free_full(icons, g_object_unref);
}

void CGtkPopup::SetHeaderBitmap(int nBitmap) { SetPixbuf(m_header, nBitmap); }

void CGtkPopup::SetCloseBitmap(int nBitmap) {
    SetPixbuf(m_close, nBitmap);
    // Back to the top of the drawing order, over the new header.
    if (m_close != nullptr) RaiseChild(gtk_widget_get_parent(m_close));
}

void CGtkPopup::SetChooserSelection(int nIndex) {
    if (m_chooser == nullptr) return;
    m_bSettingChooser = true;
    gtk_combo_box_set_active(GTK_COMBO_BOX(m_chooser), nIndex >= 0 && nIndex < kCategoryCount ? nIndex : -1);
    m_bSettingChooser = false;
}

int CGtkPopup::GetChooserSelection() {
    return m_chooser != nullptr ? gtk_combo_box_get_active(GTK_COMBO_BOX(m_chooser)) : -1;
}

bool CGtkPopup::GetSearchText(std::string& text) {
    text.clear();
    if (m_search == nullptr) return true;
    const auto gbk = kivo::platform::Utf8ToGbk(gtk_entry_get_text(GTK_ENTRY(m_search)));
    if (!gbk) return false;
    text = *gbk;
    return true;
}

void CGtkPopup::Navigate(const std::string& url) {
    Trace("navigate " + ToUtf8(url));
    CancelOwnPage();  // another page is asked for
    if (!m_pageView) return;
    if (m_bSkinPainted)
        m_pageView->Load(ToUri(url));
    else
        m_pendingUri = ToUri(url);
}

void CGtkPopup::ShowOwnPage(const std::string& html) {
    // UTF-8 at the toolkit's edge, and the page says so. Shown once the view
    // has finished with the page before it.
    std::string utf8 = ToUtf8(html);
    const std::string gbk = "charset=\"gbk\"";
    if (const std::size_t at = utf8.find(gbk); at != std::string::npos)
        utf8.replace(at, gbk.size(), "charset=\"utf-8\"");
    m_ownPage = std::move(utf8);
    if (m_ownPageSource == 0) m_ownPageSource = g_idle_add(OnOwnPageIdle, this);
}

void CGtkPopup::CancelOwnPage() {
    m_ownPage.clear();
    if (m_ownPageSource != 0) g_source_remove(m_ownPageSource);
    m_ownPageSource = 0;
}

gboolean CGtkPopup::OnOwnPageIdle(gpointer self) {
    auto* popup = static_cast<CGtkPopup*>(self);
    popup->m_ownPageSource = 0;
    if (popup->m_pageView && !popup->m_ownPage.empty()) popup->m_pageView->LoadHtml(popup->m_ownPage);
    popup->m_ownPage.clear();
    return G_SOURCE_REMOVE;
}

void CGtkPopup::TraceLine(const std::string& line) { Trace(ToUtf8(line)); }

PageViewEvents CGtkPopup::PageEvents() {
    PageViewEvents events;
    events.loaded = [this](const std::string& uri) {
        if (m_pDlg != nullptr) m_pDlg->OnPageLoaded(uri);
    };
    events.title = [](const std::string& title) { Trace("page title " + title); };
    events.failed = [this](const std::string& uri, const std::string& reason) {
        if (m_pDlg != nullptr) m_pDlg->OnPageFailed(uri, reason);
    };
    events.linkActivated = [this](const std::string& address) {
        Trace("link " + ToUtf8(address));
        // The list stays; the link opens in the user's browser.
        if (IsWebAddress(address)) OpenInBrowser(address);
    };
    return events;
}

gboolean CGtkPopup::OnFirstPaintIdle(gpointer self) {
    // After the window's first frame, which has the whole skin.
    auto* popup = static_cast<CGtkPopup*>(self);
    popup->m_bSkinPainted = true;
    if (popup->m_pageView && !popup->m_pendingUri.empty()) popup->m_pageView->Load(popup->m_pendingUri);
    popup->m_pendingUri.clear();
    if (popup->m_bPendingIcons) popup->SetIcons(IDR_MAINFRAME);
    if (popup->m_pendingTrayTip) popup->CreateTrayIcon(*popup->m_pendingTrayTip);
    popup->m_pendingTrayTip.reset();
    return G_SOURCE_REMOVE;
}

void CGtkPopup::OpenInBrowser(const std::string& url) { kivo::gtk::OpenInBrowser(url); }

void CGtkPopup::GetClientSize(int& width, int& height) {
    width = height = 0;
    if (m_window == nullptr) return;
    // Until the window is made, the size it will have: asking the toolkit
    // then costs round trips to the X server before the first frame.
    if (gtk_widget_get_realized(m_window))
        gtk_window_get_size(GTK_WINDOW(m_window), &width, &height);
    else
        WindowPixels(*FindTemplate(IDD_KIVO_DIALOG), width, height);
}

int CGtkPopup::GetFullScreenWidth() {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
    if (monitor == nullptr) return 0;
    GdkRectangle area{};
    gdk_monitor_get_workarea(monitor, &area);
    // The right end of the usable area, where panels are left out.
    return area.x + area.width;
}

void CGtkPopup::MoveWindow(int x, int y, int width, int height) {
    if (m_window == nullptr) return;
    gtk_window_move(GTK_WINDOW(m_window), x, y);
    gtk_window_resize(GTK_WINDOW(m_window), width, height);
    ApplyShape();
    if (!GDK_IS_X11_DISPLAY(gtk_widget_get_display(m_window))) {
        // A Wayland compositor places its windows itself.
        Trace("could not place at " + std::to_string(x) + " " + std::to_string(y) + ": Wayland places windows itself");
        return;
    }
    // Reported once the window is seen there (configure events).
    m_placeX = x;
    m_placeY = y;
    m_bPlacing = true;
    m_bPlacedByMapping = false;
    if (m_placeCheck != 0) g_source_remove(m_placeCheck);
    m_placeCheck = g_timeout_add(kPlaceWaitMs, OnPlaceCheck, this);
}

void CGtkPopup::CheckPlacement(bool bLastTry) {
    // Mapped again: only once the window manager has mapped it does the
    // window stand anywhere.
    if (!m_bPlacing || (m_bAwaitingMap && !bLastTry)) return;
    const bool bMapped = gtk_widget_get_mapped(m_window) && !m_bAwaitingMap;
    int x = 0, y = 0;
    if (GdkWindow* window = gtk_widget_get_window(m_window)) gdk_window_get_origin(window, &x, &y);
    int width = 0, height = 0;
    GetClientSize(width, height);
    const std::string placed = "placed " + std::to_string(m_placeX) + " " + std::to_string(m_placeY) + " " +
                               std::to_string(width) + " " + std::to_string(height);
    if (bMapped && x == m_placeX && y == m_placeY) {
        Trace(placed);
    } else if (!bLastTry) {
        return;
    } else if (bMapped && !m_bPlacedByMapping) {
        // The window manager let the mapped window stand: it is mapped
        // again where it belongs.
        PlaceByMapping();
        m_placeCheck = g_timeout_add(kPlaceWaitMs, OnPlaceCheck, this);
        return;
    } else if (bMapped) {
        // Such a window manager shows the window where it was mapped, but
        // need not say so in the window's X position.
        Trace(placed + " when mapped; X reports " + std::to_string(x) + " " + std::to_string(y));
    } else {
        Trace("could not place at " + std::to_string(m_placeX) + " " + std::to_string(m_placeY) +
              ": the window is not shown");
    }
    m_bPlacing = false;
    if (m_placeCheck != 0) g_source_remove(m_placeCheck);
    m_placeCheck = 0;
}

gboolean CGtkPopup::OnPlaceCheck(gpointer self) {
    auto* popup = static_cast<CGtkPopup*>(self);
    popup->m_placeCheck = 0;
    popup->CheckPlacement(true);
    return G_SOURCE_REMOVE;
}

void CGtkPopup::PlaceByMapping() {
    // Some window managers (weston's for XWayland) move a window only to
    // where it stood when it was mapped, and take no move of a client window
    // for that. The window is withdrawn, moved while it is override-redirect,
    // which no window manager intercepts, and mapped again.
    m_bPlacedByMapping = true;
    gtk_window_set_position(GTK_WINDOW(m_window), GTK_WIN_POS_NONE);
    gtk_widget_hide(m_window);
    GdkWindow* window = gtk_widget_get_window(m_window);
    ::Display* display = GDK_WINDOW_XDISPLAY(window);
    const ::Window id = GDK_WINDOW_XID(window);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    XChangeWindowAttributes(display, id, CWOverrideRedirect, &attributes);
    XMoveWindow(display, id, m_placeX, m_placeY);
    attributes.override_redirect = False;
    XChangeWindowAttributes(display, id, CWOverrideRedirect, &attributes);
    m_bAwaitingMap = true;
    gtk_widget_show(m_window);
    Trace("window mapped again at " + std::to_string(m_placeX) + " " + std::to_string(m_placeY));
}

void CGtkPopup::SetWindowShape(const CRegion& shape) {
    if (m_window == nullptr) return;
    cairo_region_t* region = cairo_region_create();
    for (const ShapeRect& r : shape.Rects()) {
        const cairo_rectangle_int_t rect{r.x, r.y, r.width, r.height};
        cairo_region_union_rectangle(region, &rect);
    }
    // Drawn and hit only inside the region. GTK puts its own shapes back
    // when the window maps or changes, so the region is applied again then.
    gtk_widget_shape_combine_region(m_window, region);
    gtk_widget_input_shape_combine_region(m_window, region);
    if (m_shape != nullptr) cairo_region_destroy(m_shape);
    m_shape = region;
    ApplyShape();
}

void CGtkPopup::ApplyShape() {
    if (m_shape == nullptr || m_window == nullptr || !gtk_widget_get_realized(m_window)) return;
    GdkWindow* window = gtk_widget_get_window(m_window);
    gdk_window_shape_combine_region(window, m_shape, 0, 0);
    gdk_window_input_shape_combine_region(window, m_shape, 0, 0);
}

gboolean CGtkPopup::OnConfigure(GtkWidget*, GdkEvent*, gpointer self) {
    auto* popup = static_cast<CGtkPopup*>(self);
    popup->ApplyShape();
    popup->CheckPlacement(false);
    return FALSE;
}

gboolean CGtkPopup::OnDrawShaped(GtkWidget*, cairo_t* cr, gpointer self) {
    // Transparent outside the shape; the window's own drawing, which runs
    // after this, is clipped to it.
    auto* popup = static_cast<CGtkPopup*>(self);
    if (popup->m_shape == nullptr) return FALSE;
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_restore(cr);
    gdk_cairo_region(cr, popup->m_shape);
    cairo_clip(cr);
    return FALSE;
}

void CGtkPopup::OnSizeAllocate(GtkWidget*, GdkRectangle*, gpointer self) {
    static_cast<CGtkPopup*>(self)->ApplyShape();
}

void CGtkPopup::ShowWindow(bool bShow) {
    if (m_window == nullptr) return;
    if (bShow) {
        gtk_widget_show(m_window);
    } else {
        gtk_widget_hide(m_window);
        Trace("window hidden");
    }
}

void CGtkPopup::SetForegroundWindow() {
    if (m_window == nullptr) return;
    // Without an event (a later start asked), the X server's time stands in,
    // so that the window manager lets the window come forward.
    guint32 time = gtk_get_current_event_time();
    GdkWindow* window = gtk_widget_get_window(m_window);
    if (time == GDK_CURRENT_TIME && window != nullptr && GDK_IS_X11_WINDOW(window))
        time = gdk_x11_get_server_time(window);
    gtk_window_present_with_time(GTK_WINDOW(m_window), time);
    Trace("window raised");
}

void CGtkPopup::StartWindowDrag() {
    if (m_window == nullptr || m_press.type != GDK_BUTTON_PRESS) return;
    gtk_window_begin_move_drag(GTK_WINDOW(m_window), static_cast<gint>(m_press.button),
                               static_cast<gint>(m_press.x_root), static_cast<gint>(m_press.y_root), m_press.time);
}

void CGtkPopup::AddTrayIcon(const TrayIconData& nid) {
    if (m_tray != nullptr || m_indicator) return;
    // At start the tray waits for the skin's first frame: finding the tray
    // and making the icon cost more than the rest of the window.
    const std::string tip = ToUtf8(nid.szTip);
    if (m_bSkinPainted)
        CreateTrayIcon(tip);
    else
        m_pendingTrayTip = tip;
}

void CGtkPopup::CreateTrayIcon(const std::string& tip) {
    if (DetectTrayKind() == TrayKind::Indicator) {
        // A middle click on the item does what a double click on the icon does.
        m_indicator = CTrayIndicator::Create(tip, TrayMenu(g_trayMenu, g_nTrayMenuItems), [this] {
            if (m_pDlg != nullptr) m_pDlg->OnTrayActivated();
        });
        if (m_indicator) {
            Trace("tray indicator added, title " + tip);
            return;
        }
    }
    // An XEmbed icon needs X.
    if (!GDK_IS_X11_DISPLAY(gdk_display_get_default())) return;
    GdkPixbuf* icon = LoadIcon(48);
    m_tray = gtk_status_icon_new_from_pixbuf(icon);
    if (icon != nullptr) g_object_unref(icon);
    // No gtk_status_icon_set_name: it makes the icon's window anew, which
    // trays then embed twice (a Gdk-CRITICAL at every start). The window's
    // class is the program's name all the same (main sets it).
    gtk_status_icon_set_title(m_tray, tip.c_str());
    gtk_status_icon_set_tooltip_text(m_tray, tip.c_str());
    g_signal_connect(m_tray, "button-press-event", G_CALLBACK(OnTrayButton), this);
    g_signal_connect(m_tray, "notify::embedded", G_CALLBACK(OnTrayEmbedded), this);
    gtk_status_icon_set_visible(m_tray, TRUE);
    Trace("tray icon added, tip " + tip);
}

void CGtkPopup::RemoveTrayIcon(const TrayIconData&) {
    m_pendingTrayTip.reset();
    if (m_indicator) {
        m_indicator.reset();
        Trace("tray indicator removed");
        return;
    }
    if (m_tray == nullptr) return;
    gtk_status_icon_set_visible(m_tray, FALSE);
    g_signal_handlers_disconnect_by_data(m_tray, this);
    g_object_unref(m_tray);
    m_tray = nullptr;
    gdk_display_flush(gdk_display_get_default());
    Trace("tray icon removed");
}

GtkWidget* CGtkPopup::TrayMenu(const MenuItem* pItems, int nItems) {
    if (m_menu == nullptr) {
        // Built once: the menu never changes while the program runs.
        m_menu = gtk_menu_new();
        g_object_ref_sink(m_menu);
        for (int i = 0; i < nItems; ++i) {
            GtkWidget* item = pItems[i].nId == 0 ? gtk_separator_menu_item_new()
                                                 : gtk_menu_item_new_with_label(ToUtf8(pItems[i].szText).c_str());
            if (pItems[i].nId != 0) {
                g_object_set_data(G_OBJECT(item), kIdKey, GUINT_TO_POINTER(pItems[i].nId));
                g_signal_connect(item, "activate", G_CALLBACK(OnMenuItem), this);
            }
            gtk_menu_shell_append(GTK_MENU_SHELL(m_menu), item);
        }
        gtk_widget_show_all(m_menu);
    }
    return m_menu;
}

void CGtkPopup::TrackPopupMenu(const MenuItem* pItems, int nItems, int x, int y) {
    TrayMenu(pItems, nItems);
    m_menuX = x;
    m_menuY = y;
    std::string entries;
    for (int i = 0; i < nItems; ++i) {
        if (i > 0) entries += '|';
        entries += pItems[i].nId == 0 ? std::string("-") : ToUtf8(pItems[i].szText);
    }
    const guint32 time = gtk_get_current_event_time();
    gtk_menu_popup(GTK_MENU(m_menu), nullptr, nullptr, PlaceMenu, this, 3, time);
    Trace("menu " + std::to_string(x) + " " + std::to_string(y) + " " + entries);
}

void CGtkPopup::PlaceMenu(GtkMenu*, gint* x, gint* y, gboolean* pushIn, gpointer self) {
    // Top-left corner at the cursor; where the screen ends the menu opens to
    // the left of it or above it instead, as a tracked popup menu does.
    auto* popup = static_cast<CGtkPopup*>(self);
    GtkRequisition size{};
    gtk_widget_get_preferred_size(popup->m_menu, nullptr, &size);
    GdkRectangle area{0, 0, 0, 0};
    GdkDisplay* display = gdk_display_get_default();
    if (GdkMonitor* monitor = gdk_display_get_monitor_at_point(display, popup->m_menuX, popup->m_menuY))
        gdk_monitor_get_geometry(monitor, &area);
    *x = popup->m_menuX;
    *y = popup->m_menuY;
    if (*x + size.width > area.x + area.width && *x - size.width >= area.x) *x -= size.width;
    if (*y + size.height > area.y + area.height && *y - size.height >= area.y) *y -= size.height;
    *pushIn = FALSE;
}

void CGtkPopup::OnMenuItem(GtkMenuItem* item, gpointer self) {
    // Carried out once the menu has closed, as a command reaching the window.
    static_cast<CGtkPopup*>(self)->DeferCommand(GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), kIdKey)));
}

void CGtkPopup::DeferCommand(unsigned nId) { g_idle_add(OnCommandIdle, new Command{this, nId}); }

gboolean CGtkPopup::OnCommandIdle(gpointer data) {
    auto* command = static_cast<Command*>(data);
    Trace("command " + std::to_string(command->nId));
    if (command->popup->m_pDlg != nullptr) command->popup->m_pDlg->OnCommand(static_cast<int>(command->nId));
    delete command;
    return G_SOURCE_REMOVE;
}

// --- window events --------------------------------------------------------

int CGtkPopup::FocusedControl() const {
    GtkWidget* focus = m_window != nullptr ? gtk_window_get_focus(GTK_WINDOW(m_window)) : nullptr;
    if (IsWithin(focus, m_search)) return IDC_SEARCH_TEXT;
    if (IsWithin(focus, m_chooser)) return IDC_CATEGORY;
    if (IsWithin(focus, m_page)) return IDC_BROWSER;
    return 0;
}

bool CGtkPopup::FilterKey(guint keyval, int nFocusedId) {
    const Key key = KeyOf(keyval);
    return key != Key::Other && m_pDlg != nullptr && m_pDlg->OnKey(key, nFocusedId);
}

gboolean CGtkPopup::OnKeyPress(GtkWidget* window, GdkEventKey* event, gpointer self) {
    auto* popup = static_cast<CGtkPopup*>(self);
    // The page has the keys first: Enter and Space open its focused link.
    if (popup->FocusedControl() == IDC_BROWSER && gtk_window_propagate_key_event(GTK_WINDOW(window), event))
        return TRUE;
    return popup->FilterKey(event->keyval, popup->FocusedControl()) ? TRUE : FALSE;
}

gint CGtkPopup::OnChooserMenuKey(GtkWidget*, GdkEventKey* event, gpointer self) {
    auto* popup = static_cast<CGtkPopup*>(self);
    if (event->type != GDK_KEY_PRESS || popup->m_pDlg == nullptr || popup->m_chooser == nullptr) return FALSE;
    gboolean shown = FALSE;
    g_object_get(popup->m_chooser, "popup-shown", &shown, nullptr);
    if (!shown) return FALSE;
    return popup->FilterKey(event->keyval, IDC_CATEGORY) ? TRUE : FALSE;
}

gboolean CGtkPopup::OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer self) {
    auto* popup = static_cast<CGtkPopup*>(self);
    // Only presses on the window's own surface and on plain images, which
    // have no window of their own, arrive with the toplevel's window.
    if (event->type != GDK_BUTTON_PRESS || popup->m_pDlg == nullptr ||
        event->window != gtk_widget_get_window(popup->m_window))
        return FALSE;
    if (event->button == 3) {
        popup->OnSkinMenu(static_cast<int>(event->x_root), static_cast<int>(event->y_root));
        return TRUE;
    }
    if (event->button != 1) return FALSE;
    popup->m_press = *event;
    popup->m_pDlg->OnLButtonDown();
    popup->m_press = GdkEventButton{};
    return TRUE;
}

void CGtkPopup::OnSkinMenu(int x, int y) {
    // Where no tray shows the icon, its menu opens on the skin instead.
    if (!HasTray() && m_pDlg != nullptr) m_pDlg->OnTrayMenu(x, y);
}

bool CGtkPopup::HasTray() const {
    return m_indicator != nullptr || (m_tray != nullptr && gtk_status_icon_is_embedded(m_tray));
}

void CGtkPopup::SetUpImageButton(GtkWidget* button, int nId) {
    gtk_event_box_set_visible_window(GTK_EVENT_BOX(button), FALSE);
    gtk_widget_add_events(button, GDK_BUTTON_PRESS_MASK | GDK_KEY_PRESS_MASK);
    g_object_set_data(G_OBJECT(button), kIdKey, GINT_TO_POINTER(nId));
    g_signal_connect(button, "button-press-event", G_CALLBACK(OnImageButtonPress), this);
    // A button for the keyboard and for assistive technology: a tab stop
    // that Space presses, with its name and a tooltip.
    gtk_widget_set_can_focus(button, TRUE);
    g_signal_connect(button, "key-press-event", G_CALLBACK(OnImageButtonKey), this);
    g_signal_connect_after(button, "draw", G_CALLBACK(OnImageButtonDrawn), nullptr);
    const char* name = nId == IDC_CLOSE ? kszHideButton : nId == IDC_SEARCH ? kszSearchButton : kszSiteButton;
    const std::string utf8 = ToUtf8(name);
    gtk_widget_set_tooltip_text(button, utf8.c_str());
    AtkObject* accessible = gtk_widget_get_accessible(button);
    atk_object_set_name(accessible, utf8.c_str());
    atk_object_set_role(accessible, ATK_ROLE_PUSH_BUTTON);
}

void CGtkPopup::ClickImageButton(GtkWidget* button) {
    const int nId = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), kIdKey));
    Trace("clicked " + std::to_string(nId));
    if (m_pDlg != nullptr) m_pDlg->OnCommand(nId);
}

gboolean CGtkPopup::OnImageButtonPress(GtkWidget* widget, GdkEventButton* event, gpointer self) {
    // An image button reports its click when the left button goes down, and
    // never drags the window. The second press of a double click is not a
    // click of its own. The right button opens the menu, as on the skin.
    auto* popup = static_cast<CGtkPopup*>(self);
    if (event->type == GDK_BUTTON_PRESS && event->button == 3)
        popup->OnSkinMenu(static_cast<int>(event->x_root), static_cast<int>(event->y_root));
    if (event->type != GDK_BUTTON_PRESS || event->button != 1 || popup->m_pDlg == nullptr) return TRUE;
    gint doubleClickMs = 400;
    g_object_get(gtk_widget_get_settings(widget), "gtk-double-click-time", &doubleClickMs, nullptr);
    const bool second = popup->m_lastClickWidget == widget &&
                        event->time - popup->m_lastClickTime <= static_cast<guint32>(doubleClickMs);
    popup->m_lastClickWidget = second ? nullptr : widget;
    popup->m_lastClickTime = event->time;
    if (!second) popup->ClickImageButton(widget);
    return TRUE;
}

gboolean CGtkPopup::OnImageButtonKey(GtkWidget* widget, GdkEventKey* event, gpointer self) {
    if (event->keyval != GDK_KEY_space && event->keyval != GDK_KEY_KP_Space) return FALSE;
    static_cast<CGtkPopup*>(self)->ClickImageButton(widget);
    return TRUE;
}

gboolean CGtkPopup::OnImageButtonDrawn(GtkWidget* widget, cairo_t* cr, gpointer) {
    // The keyboard's place: a dotted frame over the image, light on the
    // dark skin (the theme's focus line is dark).
    if (!gtk_widget_has_visible_focus(widget)) return FALSE;
    const double dot = 1.0;
    cairo_save(cr);
    cairo_set_source_rgba(cr, 1.0, 1.0, 1.0, 0.85);
    cairo_set_line_width(cr, 1.0);
    cairo_set_dash(cr, &dot, 1, 0.0);
    cairo_rectangle(cr, 0.5, 0.5, gtk_widget_get_allocated_width(widget) - 1.0,
                    gtk_widget_get_allocated_height(widget) - 1.0);
    cairo_stroke(cr);
    cairo_restore(cr);
    return FALSE;
}

void CGtkPopup::OnChooserChanged(GtkComboBox*, gpointer self) {
    auto* popup = static_cast<CGtkPopup*>(self);
    if (popup->m_bSettingChooser || popup->m_pDlg == nullptr) return;
    popup->m_pDlg->OnSelchangeCategory();
}

gboolean CGtkPopup::OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
    // A close request cancels the modal run, as the dialog manager does.
    auto* popup = static_cast<CGtkPopup*>(self);
    Trace("close request");
    if (popup->m_pDlg != nullptr) popup->m_pDlg->OnCommand(IDC_CANCEL);
    return TRUE;
}

void CGtkPopup::OnDestroy(GtkWidget*, gpointer self) {
    // The window went away from outside: the modal run ends with it.
    auto* popup = static_cast<CGtkPopup*>(self);
    popup->m_window = popup->m_header = popup->m_close = popup->m_chooser = popup->m_search = popup->m_page = nullptr;
    ModalRuns::QuitAll();
}

gboolean CGtkPopup::OnMapped(GtkWidget*, GdkEvent*, gpointer self) {
    auto* popup = static_cast<CGtkPopup*>(self);
    popup->ApplyShape();
    Trace(popup->m_bMapped ? "window shown" : "window mapped");
    if (!popup->m_bMapped) g_idle_add(OnFirstPaintIdle, popup);
    popup->m_bMapped = true;
    popup->m_bAwaitingMap = false;
    popup->CheckPlacement(false);
    return FALSE;
}

gboolean CGtkPopup::OnTrayButton(GtkStatusIcon*, GdkEventButton* event, gpointer self) {
    auto* popup = static_cast<CGtkPopup*>(self);
    if (popup->m_pDlg == nullptr) return TRUE;
    // A double click shows the popup; the right button opens the menu at
    // the pointer.
    if (event->type == GDK_2BUTTON_PRESS && event->button == 1)
        popup->m_pDlg->OnTrayActivated();
    else if (event->type == GDK_BUTTON_PRESS && event->button == 3)
        popup->m_pDlg->OnTrayMenu(static_cast<int>(event->x_root), static_cast<int>(event->y_root));
    return TRUE;
}

void CGtkPopup::OnTrayEmbedded(GObject* icon, GParamSpec*, gpointer) {
    Trace(gtk_status_icon_is_embedded(GTK_STATUS_ICON(icon)) ? "tray icon embedded" : "tray icon not embedded");
}

}  // namespace kivo::gtk
