// kivo.exe: the program on Windows. The command line is ignored. KIVO_TRACE=1
// logs what the shell does (see Trace.h).
#include "shells/win32/WinApi.h"

#include "app/Jobs.h"
#include "net/PageCache.h"
#include "shells/win32/PopupWindow.h"
#include "shells/win32/Trace.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // ActiveX hosting: OLE on this thread, before the main window, whose
    // template holds the WebBrowser control.
    const HRESULT hrOle = OleInitialize(nullptr);
    // Another copy runs: this one ends at once, silently.
    if (!theApp.InitInstance()) return 0;
    kivo::win32::Trace("start " + std::to_string(GetCurrentProcessId()) + ", code page " + std::to_string(GetACP()));

    // Kept until the process ends: a worker thread may still hold the window
    // as the application's main window.
    static kivo::win32::CPopupWindow popup;
    theApp.m_pMainWnd = &popup;
    kivo::app::Core& core = theApp.m_core;
    // Set before any job starts (their timers are armed by the popup).
    static CHotListDlg* pDlg = nullptr;
    static CThreadJobs jobs(
        kivo::app::MakeUpdateJob(core.updater, theApp.m_pMainWnd,
                      [](const kivo::app::UpdateReport& report) { kivo::win32::Trace("update: " + report.Summary()); }),
        kivo::app::MakeRefreshJob(core.pages, [](const kivo::net::RefreshReport& report) {
            kivo::win32::Trace("refresh: " + report.Summary());
            pDlg->OnRefreshed(report);
        }));
    static CHotListDlg dlg(core, popup, jobs);
    pDlg = &dlg;
    popup.DoModal(dlg);

    if (SUCCEEDED(hrOle)) OleUninitialize();
    kivo::win32::Trace("end");
    // Nothing is saved at exit, and running jobs end with the process.
    ExitProcess(0);
}
