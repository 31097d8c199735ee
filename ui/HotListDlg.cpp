#include "ui/HotListDlg.h"

#include "app/Core.h"
#include "net/Catalogue.h"
#include "net/PageCache.h"
#include "net/SearchAddress.h"
#include "platform/System.h"
#include "ui/Resource.h"
#include "ui/SettingsDlg.h"
#include "ui/Texts.h"

namespace {

bool IsCategoryIndex(int nIndex) { return nIndex >= 0 && nIndex < kCategoryCount; }

}  // namespace

CHotListDlg::CHotListDlg(kivo::app::Core& core, IHotListView& view, IJobStarter& jobs)
    : m_core(core),
      m_config(core.config),
      m_view(view),
      m_scheduler(view, jobs, [this] { PlacePopup(); }),
      m_page(view) {}

std::string CHotListDlg::SearchAddress(const std::string& text) { return kszSearchPrefix + text; }

std::string CHotListDlg::SiteAddress() { return "http://" KIVO_SITE_HOST; }

bool CHotListDlg::OnInitDialog() {
    if (kszAboutMenuItem[0] != '\0') m_view.AppendSystemMenuItem(IDM_ABOUTBOX, kszAboutMenuItem);
    m_view.SetToolWindowStyle();
    m_core.PrepareFolders();
    m_view.SetIcons(IDR_MAINFRAME);
    if (!m_core.updater.RunStartupHandover(m_view)) return false;
    m_scheduler.ArmUpdateCheck();

    // A default outside 1..14 shows no banner and selects nothing.
    const int nIndex = CategoryIndex(m_config.m_nCategory);
    m_view.SetHeaderBitmap(nIndex >= 0 ? g_nCategoryBanner[nIndex] : 0);
    m_view.SetChooserSelection(nIndex);
    m_nShownCategory = nIndex + 1;

    int width = 0, height = 0;
    m_view.GetClientSize(width, height);
    m_view.SetWindowShape(MakePopupShape(width, height));
    m_nid = TrayIconData{kTrayIconId, IDR_MAINFRAME, kszTrayTip};
    m_view.AddTrayIcon(m_nid);
    m_bTrayAdded = true;
    m_page.Navigate(m_core.GetPageUrl(0));
    m_scheduler.ArmPlacementAndRefresh();
    return true;
}

void CHotListDlg::OnDestroy() {
    if (!m_bTrayAdded) return;
    m_view.RemoveTrayIcon(m_nid);
    m_bTrayAdded = false;
}

void CHotListDlg::OnTimer(unsigned nIDEvent) {
    if (nIDEvent == kTimerPageRetry)
        m_page.OnRetryTimer();
    else
        m_scheduler.OnTimer(nIDEvent);
}

void CHotListDlg::PlacePopup() {
    int width = 0, height = 0;
    m_view.GetClientSize(width, height);
    m_view.MoveWindow(m_view.GetFullScreenWidth() - width - 10, 10, width, height);
}

void CHotListDlg::OnCommand(int nId) {
    switch (nId) {
        case IDC_VISIT:
        case ID_VISIT_SITE:
            OnVisitSite();
            break;
        case IDC_CLOSE:
            OnHide();
            break;
        case IDC_SEARCH:
            OnSearch();
            break;
        case ID_SETTINGS:
            OnSettings();
            break;
        case ID_EXIT:
            OnExit();
            break;
        case ID_ABOUT:
        case IDM_ABOUTBOX:
            OnAbout();
            break;
        case IDC_OK:
            OnExit();
            break;
        case IDC_CANCEL:
            OnCancel();
            break;
        default:
            break;
    }
}

void CHotListDlg::ShowCategory(int nIndex) {
    m_view.SetHeaderBitmap(g_nCategoryBanner[nIndex]);
    // The hide button lies inside the header: set again, it stays on top.
    m_view.SetCloseBitmap(IDB_CLOSE);
    m_nShownCategory = nIndex + 1;
    m_page.Navigate(m_core.GetPageUrl(m_nShownCategory));
}

void CHotListDlg::OnRefreshed(const kivo::net::RefreshReport& report) {
    m_view.PostIntent([this, report] { ShowRefreshedPage(report); });
}

void CHotListDlg::ShowRefreshedPage(const kivo::net::RefreshReport& report) {
    // The refresh's items 1..14 are the pages of categories 1..14.
    if (m_nShownCategory < 1 || m_nShownCategory >= kRefreshItemCount) return;
    const auto& item = report.items[static_cast<std::size_t>(m_nShownCategory)];
    if (!item || *item != kivo::net::TransferResult::kReplaced) return;
    // The same page again, or its new copy where the server's page showed:
    // the view keeps showing the old one until the new one is ready.
    const std::string url = m_core.GetPageUrl(m_nShownCategory);
    m_view.TraceLine("page refreshed " + url);
    m_page.Navigate(url);
}

void CHotListDlg::OnSelchangeCategory() {
    // The default list does not change: only the settings dialog sets it.
    const int nIndex = m_view.GetChooserSelection();
    if (IsCategoryIndex(nIndex)) ShowCategory(nIndex);
}

void CHotListDlg::OnVisitSite() { m_view.OpenInBrowser(SiteAddress()); }

void CHotListDlg::OnHide() { m_view.ShowWindow(false); }

void CHotListDlg::OnSearch() {
    std::string text;
    // Text GBK cannot hold never reaches the address: nothing is opened.
    if (!m_view.GetSearchText(text)) return;
    m_view.OpenInBrowser(SearchAddress(text));
}

void CHotListDlg::OnExit() { m_view.EndModal(IDC_OK); }

void CHotListDlg::OnCancel() { m_view.EndModal(IDC_CANCEL); }

void CHotListDlg::OnSettings() {
    {
        CSettingsDlg dlg(m_config, m_core.transfers);
        dlg.DoModal(m_view);
    }
    int bCheckUpdate = 0;
    {
        auto lock = m_config.Lock();
        bCheckUpdate = m_config.m_bCheckUpdate;
    }
    m_scheduler.OnSettingsClosed(bCheckUpdate != 0);
}

void CHotListDlg::OnAbout() {
    CAboutDlg dlg;
    dlg.DoModal(m_view);
}

void CHotListDlg::OnTrayActivated() {
    m_view.ShowWindow(true);
    m_view.SetForegroundWindow();
    m_page.OnShown();
}

void CHotListDlg::OnTrayMenu(int x, int y) { m_view.TrackPopupMenu(g_trayMenu, g_nTrayMenuItems, x, y); }

void CHotListDlg::OnLaterCopy(const std::string& message) {
    if (message == "show")
        OnTrayActivated();
    else if (message == "settings")
        OnSettings();
    else if (message == "about")
        OnAbout();
    else if (message == "exit")
        OnExit();
}

bool CHotListDlg::OnKey(Key key, int nFocusedId) {
    if (key == Key::Escape) return true;
    if (key == Key::Enter) {
        if (nFocusedId == IDC_SEARCH_TEXT) OnSearch();
        return true;
    }
    return false;
}

void CHotListDlg::OnLButtonDown() { m_view.StartWindowDrag(); }

void CHotListDlg::OnPageLoaded(const std::string& uri) { m_page.OnLoaded(uri); }

void CHotListDlg::OnPageFailed(const std::string& uri, const std::string& reason) { m_page.OnFailed(uri, reason); }
