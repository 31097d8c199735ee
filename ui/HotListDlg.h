#pragma once
// The main popup: its initialisation, timers, commands, key filter and tray
// icon, over the toolkit's view of the window.
#include <string>

#include "app/Scheduler.h"
#include "ui/HotListView.h"

class CConfig;
namespace kivo::app {
struct Core;
}

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
    // Timer 2: the top-right corner of the usable screen.
    void PlacePopup();

    // Image buttons (BN_CLICKED), menu commands and the chooser.
    void OnCommand(int nId, int nCode);
    void OnSelchangeCategory();
    void OnVisitSite();
    void OnHide();
    void OnSearch();
    void OnExit();
    // The window's close request.
    void OnCancel();
    void OnSettings();
    void OnAbout();
    void OnSysCommand(unsigned nID);
    long OnTrayNotify(unsigned wParam, long lParam);
    // A message from a later start of the program (or a desktop action):
    // "show" does what the tray icon's double click does, "settings",
    // "about" and "exit" what the tray menu's entries do; anything else is
    // ignored.
    void OnLaterCopy(const std::string& message);

    // The key filter, before the focused control sees a key press: true when
    // the key is consumed. `nTargetId` is the focused control's id.
    bool PreTranslateKeyDown(unsigned nVirtKey, int nTargetId);
    // A left-button press on the window's surface or a plain image.
    void OnLButtonDown();

    static std::string SearchAddress(const std::string& text);
    static std::string SiteAddress();

private:
    void ShowCategory(int nIndex);

    kivo::app::Core& m_core;
    CConfig& m_config;
    IHotListView& m_view;
    CScheduler m_scheduler;
    TrayIconData m_nid{};
    bool m_bTrayAdded = false;
};
