#pragma once
// The main popup: its initialisation, timers, commands, key filter, tray
// icon and page, over the toolkit's view of the window. The shells tell it
// what happened as intents (below), each shell mapping its toolkit's events
// to them in one table; every command is routed here, in OnCommand.
#include <string>

#include "app/Scheduler.h"
#include "ui/HotListView.h"
#include "ui/StandInPage.h"

class CConfig;
namespace kivo::app {
struct Core;
}
namespace kivo::net {
struct RefreshReport;
}

// The keys the popup's key filter looks at; any other key is Key::Other.
enum class Key { Other, Escape, Enter };

class CHotListDlg {
public:
    // `jobs` starts the background jobs the timers ask for.
    CHotListDlg(kivo::app::Core& core, IHotListView& view, IJobStarter& jobs);
    CHotListDlg(const CHotListDlg&) = delete;
    CHotListDlg& operator=(const CHotListDlg&) = delete;

    // Called once the window and its controls exist. False when the start-up
    // hand-over started a waiting installer and asked to quit.
    bool OnInitDialog();
    void OnDestroy();
    void OnTimer(unsigned nIDEvent);

    // A command: an image button (IDC_VISIT, IDC_CLOSE, IDC_SEARCH), a tray
    // menu item (ID_...), the system menu's About item (IDM_ABOUTBOX), OK or
    // Cancel (IDC_OK, IDC_CANCEL: the window's close request). Other ids do
    // nothing.
    void OnCommand(int nId);
    // The chooser's selection changed: a list chosen.
    void OnSelchangeCategory();
    // The tray icon activated (its double click).
    void OnTrayActivated();
    // The tray icon's menu asked for, at (x, y) on the screen.
    void OnTrayMenu(int x, int y);
    // A key pressed, before the focused control (`nFocusedId`, 0: none of
    // the popup's) sees it: true when the key is consumed.
    bool OnKey(Key key, int nFocusedId);
    // A left-button press on the window's surface or a plain image.
    void OnLButtonDown();
    // The page view's reports on the page it was given.
    void OnPageLoaded(const std::string& uri);
    void OnPageFailed(const std::string& uri, const std::string& reason);
    // A cache refresh ended, on its worker thread (any thread may call it).
    // When it stored a new copy of the page on show, the view is given that
    // page again on the user-interface thread.
    void OnRefreshed(const kivo::net::RefreshReport& report);
    // A message from a later start of the program (or a desktop action):
    // "show" does what the tray icon's double click does, "settings",
    // "about" and "exit" what the tray menu's entries do; anything else is
    // ignored.
    void OnLaterCopy(const std::string& message);

    // Timer 2: the top-right corner of the usable screen.
    void PlacePopup();

    static std::string SearchAddress(const std::string& text);
    static std::string SiteAddress();

private:
    void ShowCategory(int nIndex);
    void ShowRefreshedPage(const kivo::net::RefreshReport& report);
    void OnVisitSite();
    void OnHide();
    void OnSearch();
    void OnExit();
    void OnCancel();
    void OnSettings();
    void OnAbout();

    kivo::app::Core& m_core;
    CConfig& m_config;
    IHotListView& m_view;
    CScheduler m_scheduler;
    CStandInPage m_page;
    TrayIconData m_nid{};
    bool m_bTrayAdded = false;
    // The category whose page is on show, 1..14; 0 for the server's bare
    // page folder (a default outside the catalogue).
    int m_nShownCategory = 0;
};
