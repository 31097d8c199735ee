#pragma once
// The application object: single-instance guard, the program's core with its
// one settings record, and the main window for the life of the process.
#include "app/Core.h"
#include "app/UiHost.h"

class CHotListApp {
public:
    CHotListApp() = default;
    CHotListApp(const CHotListApp&) = delete;
    CHotListApp& operator=(const CHotListApp&) = delete;

    // Start-up up to the main window: takes the guard "kivo" and loads the
    // settings. False when another copy runs; this copy then ends at once,
    // silently, without touching the settings file.
    bool InitInstance();
    // The desktop program's start, after InitInstance: a user without a
    // settings file gets start at login as CConfig::AdoptStartAtLogin says.
    void SetUpStartAtLoginOnFirstStart();

    kivo::app::Core m_core;
    CConfig& m_config = m_core.config;
    // The main window while it runs; the update job posts its quit request here.
    IUiHost* m_pMainWnd = nullptr;

private:
    bool m_bSettingsLoaded = false;
};

extern CHotListApp theApp;
