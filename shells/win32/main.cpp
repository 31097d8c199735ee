// kivo.exe: the program on Windows. KIVO_TRACE=1 logs what the shell does
// (see Trace.h).
//
//   kivo.exe [--settings | --about | --exit]
//
// The three actions are the tray menu's commands of those names. Another
// copy runs: it is told (with "show" when no action is given, so that it
// shows its popup), and this one ends at once with status 0. None runs: this
// one starts and then carries the command out, except --exit, which then has
// nothing to end and ends at once, showing nothing. Other arguments are
// ignored: the Run value names the program unquoted, so a folder with a space
// in its name reaches the program as words of its command line.
#include "shells/win32/WinApi.h"

#include <memory>
#include <string>

#include "app/Jobs.h"
#include "net/PageCache.h"
#include "platform/InstanceChannel.h"
#include "shells/win32/PopupWindow.h"
#include "shells/win32/Trace.h"

namespace {

// The action the command line asks for: "settings", "about", "exit", or
// empty for none.
std::string ActionOf(const wchar_t* commandLine) {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(commandLine, &argc);
    if (argv == nullptr) return {};
    std::string action;
    for (int i = 1; i < argc && action.empty(); ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--settings")
            action = "settings";
        else if (arg == L"--about")
            action = "about";
        else if (arg == L"--exit")
            action = "exit";
    }
    LocalFree(argv);
    return action;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::string action = ActionOf(GetCommandLineW());
    // ActiveX hosting: OLE on this thread, before the main window, whose
    // template holds the WebBrowser control.
    const HRESULT hrOle = OleInitialize(nullptr);
    if (!theApp.InitInstance()) {
        // Another copy runs: it does what was asked, this one is gone.
        kivo::platform::SendToRunningCopy("kivo", action.empty() ? "show" : action);
        return 0;
    }
    // No copy to end.
    if (action == "exit") return 0;
    kivo::win32::Trace("start " + std::to_string(GetCurrentProcessId()) + ", code page " + std::to_string(GetACP()));
    theApp.SetUpStartAtLoginOnFirstStart();

    // Kept until the process ends: a worker thread may still hold the window
    // as the application's main window.
    static kivo::win32::CPopupWindow popup;
    theApp.m_pMainWnd = &popup;
    kivo::app::Core& core = theApp.m_core;
    // Set before any job starts (their timers are armed by the popup).
    static CHotListDlg* pDlg = nullptr;
    static CThreadJobs jobs =
        kivo::app::MakeShellJobs(core, theApp.m_pMainWnd, kivo::win32::Trace,
                                 [](const kivo::net::RefreshReport& report) { pDlg->OnRefreshed(report); });
    static CHotListDlg dlg(core, popup, jobs);
    pDlg = &dlg;
    // Later starts, the Start-menu shortcut's among them, reach this copy.
    std::unique_ptr<kivo::platform::IInstanceChannel> channel =
        kivo::platform::ListenToLaterCopies("kivo", [](const std::string& message) { popup.PostLaterCopy(message); });
    kivo::win32::Trace(channel != nullptr ? "listening to later copies" : "no channel for later copies");
    if (!action.empty()) popup.PostLaterCopy(action);
    popup.DoModal(dlg);
    channel.reset();

    if (SUCCEEDED(hrOle)) OleUninitialize();
    kivo::win32::Trace("end");
    // Nothing is saved at exit, and running jobs end with the process.
    ExitProcess(0);
}
