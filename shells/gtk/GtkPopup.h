#pragma once
// The popup window on GTK 3: the skinned, shaped window with its page view,
// chooser and search box, the tray icon and menu, the timers, and the
// requests worker threads make of the user-interface thread.
#include <gtk/gtk.h>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "shells/gtk/GtkDialogs.h"
#include "shells/gtk/PageView.h"
#include "shells/gtk/TrayIndicator.h"
#include "ui/HotListDlg.h"
#include "ui/HotListView.h"
#include "ui/Resource.h"

namespace kivo::gtk {

class CGtkPopup : public IHotListView {
public:
    // The page view's http:// pages come through `http`.
    explicit CGtkPopup(std::shared_ptr<kivo::platform::IHttpClient> http);
    ~CGtkPopup() override;
    CGtkPopup(const CGtkPopup&) = delete;
    CGtkPopup& operator=(const CGtkPopup&) = delete;

    // Builds the window, runs the dialog's initialisation, shows it and runs
    // until its modal run ends; then the window is destroyed.
    int DoModal(CHotListDlg& dlg);

    // A message of a later start of the program or of a desktop action
    // (CHotListDlg::OnLaterCopy), from any thread. It is carried out on the
    // user-interface thread once the popup is up; before that it waits, and
    // it is dropped when the popup never comes up.
    void PostLaterCopy(const std::string& message);

    // IUiHost
    void SetTimer(unsigned nIDEvent, unsigned nElapseMs) override;
    void KillTimer(unsigned nIDEvent) override;
    void ShowNotice(const char* szText, const char* szCaption) override;
    void PostQuit() override;

    // IDialogRunner
    int RunModal(CDialogBase& dlg) override;

    // IHotListView
    void AppendSystemMenuItem(unsigned nId, const std::string& text) override;
    void SetToolWindowStyle() override;
    void SetIcons(int nIcon) override;
    void SetHeaderBitmap(int nBitmap) override;
    void SetCloseBitmap(int nBitmap) override;
    void SetChooserSelection(int nIndex) override;
    int GetChooserSelection() override;
    bool GetSearchText(std::string& text) override;
    void Navigate(const std::string& url) override;
    void ShowOwnPage(const std::string& html) override;
    void OpenInBrowser(const std::string& url) override;
    void GetClientSize(int& width, int& height) override;
    int GetFullScreenWidth() override;
    void MoveWindow(int x, int y, int width, int height) override;
    void SetWindowShape(const CRegion& shape) override;
    void ShowWindow(bool bShow) override;
    void SetForegroundWindow() override;
    void StartWindowDrag() override;
    void AddTrayIcon(const TrayIconData& nid) override;
    void RemoveTrayIcon(const TrayIconData& nid) override;
    void TrackPopupMenu(const MenuItem* pItems, int nItems, int x, int y) override;
    void EndModal(int nResult) override;
    void TraceLine(const std::string& line) override;
    void PostIntent(std::function<void()> intent) override;

private:
    struct Timer;
    struct Command;
    struct Notice;
    struct LaterCopy;
    struct Intent;

    void Build();
    // The tray icon, or the StatusNotifier item where no XEmbed tray exists.
    void CreateTrayIcon(const std::string& tip);
    int FocusedControl() const;
    // The key filter's answer for a key press.
    bool FilterKey(guint keyval, int nFocusedId);
    void DeferCommand(unsigned nId);
    void ApplyShape();
    PageViewEvents PageEvents();
    void CancelOwnPage();
    // Whether a tray shows the icon (embedded XEmbed icon or an indicator).
    bool HasTray() const;
    // The right button at (x, y) on the screen, on the skin or an image button.
    void OnSkinMenu(int x, int y);
    void ClickImageButton(GtkWidget* button);
    void SetUpImageButton(GtkWidget* button, int nId);
    // Placement: whether the window stands where MoveWindow put it, and a
    // second way there for window managers that ignore a mapped window's move.
    void CheckPlacement(bool bLastTry);
    void PlaceByMapping();
    // The tray menu, built on first use: the XEmbed icon and the indicator
    // show the same one.
    GtkWidget* TrayMenu(const MenuItem* pItems, int nItems);

    static gboolean OnTimerSource(gpointer data);
    static gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer self);
    static gint OnChooserMenuKey(GtkWidget*, GdkEventKey* event, gpointer self);
    static gboolean OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean OnImageButtonPress(GtkWidget* widget, GdkEventButton* event, gpointer self);
    static void OnChooserChanged(GtkComboBox*, gpointer self);
    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self);
    static void OnDestroy(GtkWidget*, gpointer self);
    static gboolean OnMapped(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean OnConfigure(GtkWidget*, GdkEvent*, gpointer self);
    static void OnSizeAllocate(GtkWidget*, GdkRectangle*, gpointer self);
    static gboolean OnFirstPaintIdle(gpointer self);
    static gboolean OnOwnPageIdle(gpointer self);
    static gboolean OnPlaceCheck(gpointer self);
    static gboolean OnLaterCopyIdle(gpointer data);
    static gboolean OnIntentIdle(gpointer data);
    static gboolean OnImageButtonKey(GtkWidget* widget, GdkEventKey* event, gpointer self);
    static gboolean OnImageButtonDrawn(GtkWidget* widget, cairo_t* cr, gpointer);
    static gboolean OnDrawShaped(GtkWidget*, cairo_t* cr, gpointer self);
    static gboolean OnTrayButton(GtkStatusIcon*, GdkEventButton* event, gpointer self);
    static void OnTrayEmbedded(GObject* icon, GParamSpec*, gpointer);
    static void OnMenuItem(GtkMenuItem* item, gpointer self);
    static void PlaceMenu(GtkMenu*, gint* x, gint* y, gboolean* pushIn, gpointer self);
    static gboolean OnCommandIdle(gpointer data);
    static gboolean OnQuitIdle(gpointer self);
    static gboolean OnNoticeIdle(gpointer data);
    static void OnNoticeResponse(GtkDialog* dialog, gint, gpointer data);

    CHotListDlg* m_pDlg = nullptr;
    GtkWindowGroup* m_group = nullptr;
    GtkWidget* m_window = nullptr;
    GtkWidget* m_header = nullptr;
    GtkWidget* m_close = nullptr;
    GtkWidget* m_chooser = nullptr;
    GtkWidget* m_search = nullptr;
    GtkWidget* m_page = nullptr;  // the page view's widget
    std::shared_ptr<kivo::platform::IHttpClient> m_http;
    std::unique_ptr<IPageView> m_pageView;
    // Until the skin has painted, the page view, the icons and the tray
    // wait: the page to show then, whether the icons are asked for, and the
    // tray icon's tip (UTF-8) while one is asked for.
    std::string m_pendingUri;
    bool m_bPendingIcons = false;
    std::optional<std::string> m_pendingTrayTip;
    bool m_bSkinPainted = false;
    // The program's own page (UTF-8), until the view has finished with the
    // page before it.
    std::string m_ownPage;
    guint m_ownPageSource = 0;
    GtkWidget* m_menu = nullptr;
    GtkStatusIcon* m_tray = nullptr;
    std::unique_ptr<CTrayIndicator> m_indicator;  // instead of m_tray where no XEmbed tray exists
    GMainLoop* m_loop = nullptr;
    cairo_region_t* m_shape = nullptr;  // the window's shape, kept for each mapping
    std::unique_ptr<CGtkDialogs> m_dialogs;
    std::map<unsigned, guint> m_timers;
    GdkEventButton m_press{};                // the left-button press being handled
    GtkWidget* m_lastClickWidget = nullptr;  // the image button pressed last
    guint32 m_lastClickTime = 0;
    int m_menuX = 0, m_menuY = 0;
    // Where timer 2 placed the window, until it is seen there.
    int m_placeX = 0, m_placeY = 0;
    guint m_placeCheck = 0;
    bool m_bPlacing = false;
    bool m_bPlacedByMapping = false;
    bool m_bAwaitingMap = false;
    bool m_bUp = false;  // initialised and in its modal run
    int m_nResult = IDC_CANCEL;
    bool m_bSettingChooser = false;
    bool m_bMapped = false;
    std::atomic<bool> m_bQuitPosted{false};
};

}  // namespace kivo::gtk
