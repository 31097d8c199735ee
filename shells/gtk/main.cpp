// kivo: the desktop program on Linux (GTK 3). KIVO_TRACE=1 prints what the
// program does on standard output (see GtkShell.h).
//
//   kivo [--settings | --about | --exit]
//   kivo --help | --version
//
// The three actions are the app-menu entry's: the tray menu's command of
// that name. Another copy runs: it is told (with "show" when no action is
// given, so that it shows its popup), and this one ends at once. None runs:
// this one starts and then carries the command out, except --exit, which
// then has nothing to end. --help and --version print and end, starting
// nothing. Anything else is refused with the usage (exit status 2); without
// a display the program says so and ends with status 1.
#include <fontconfig/fontconfig.h>
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <unistd.h>

#include "app/HotListApp.h"
#include "app/Jobs.h"
#include "net/PageCache.h"
#include "platform/InstanceChannel.h"
#include "shells/gtk/GtkPopup.h"
#include "shells/gtk/GtkShell.h"
#include "ui/HotListDlg.h"

// The embedded skin (res/kivo.gresource.xml).
void kivo_register_resource(void);

namespace {

constexpr const char kUsage[] =
    "Usage: kivo [ACTION]\n"
    "Fourteen hot lists of the Chinese web in the notification area.\n"
    "\n"
    "Actions (for the copy that runs, or for this one when none runs):\n"
    "  --settings   open the settings dialog\n"
    "  --about      open the About dialog\n"
    "  --exit       end the copy that runs\n"
    "With no action, the copy that runs shows its popup.\n"
    "\n"
    "  --help       print this help and exit\n"
    "  --version    print the version and exit\n";

struct CommandLine {
    enum class What { Run, Help, Version, Wrong } what = What::Run;
    std::string action;  // "settings", "about", "exit" or empty
    std::string wrong;   // the argument refused
};

CommandLine ParseCommandLine(int argc, char** argv) {
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            line.what = CommandLine::What::Help;
            return line;
        }
        if (arg == "--version") {
            line.what = CommandLine::What::Version;
            return line;
        }
        if ((arg == "--settings" || arg == "--about" || arg == "--exit") && line.action.empty()) {
            line.action = arg.substr(2);
            continue;
        }
        line.what = CommandLine::What::Wrong;
        line.wrong = arg;
        return line;
    }
    return line;
}

// GDK looks for OpenGL visuals when a display's first GTK program opens it
// (and keeps the answer on the root window for the next ones), which maps
// the GL drivers into the process. Nothing here draws with GL: GDK is told
// so for its own start only, and the variable is gone before any program
// this one starts (a browser, an installer) could inherit it.
class NoGlWhileGdkStarts {
public:
    NoGlWhileGdkStarts() : m_set(std::getenv("GDK_GL") == nullptr) {
        if (m_set) ::setenv("GDK_GL", "disable", 1);
    }
    ~NoGlWhileGdkStarts() {
        if (m_set) ::unsetenv("GDK_GL");
    }
    NoGlWhileGdkStarts(const NoGlWhileGdkStarts&) = delete;
    NoGlWhileGdkStarts& operator=(const NoGlWhileGdkStarts&) = delete;

private:
    bool m_set;
};

// Opens the display; false when there is none.
bool StartGtk() {
    const NoGlWhileGdkStarts noGl;
    // The font configuration, which the skin's first text would wait for, is
    // read on a second core while GTK reads its theme on this one. It is
    // waited for before the environment changes again.
    std::thread fonts([] { FcInit(); });
    const bool opened = gtk_init_check(nullptr, nullptr);
    fonts.join();
    return opened;
}

}  // namespace

int main(int argc, char** argv) {
    const CommandLine line = ParseCommandLine(argc, argv);
    switch (line.what) {
        case CommandLine::What::Help:
            std::fputs(kUsage, stdout);
            return 0;
        case CommandLine::What::Version:
            std::puts("kivo " KIVO_VERSION);
            return 0;
        case CommandLine::What::Wrong:
            std::fprintf(stderr, "kivo: unknown argument '%s'\n%s", line.wrong.c_str(), kUsage);
            return 2;
        case CommandLine::What::Run:
            break;
    }
    const std::string& action = line.action;
    if (!theApp.InitInstance()) {
        // Another copy runs: it does what was asked, this one is gone.
        kivo::platform::SendToRunningCopy("kivo", action.empty() ? "show" : action);
        return 0;
    }
    // No copy to end.
    if (action == "exit") return 0;
    // In a Wayland session with XWayland the popup goes through X, where it
    // can place and shape itself; plain Wayland only where there is no X.
    gdk_set_allowed_backends("x11,*");
    g_set_prgname("kivo");
    if (!StartGtk()) {
        const char* display = std::getenv("DISPLAY");
        std::fprintf(stderr, "kivo: cannot open display%s%s\n", display != nullptr && display[0] != '\0' ? " " : "",
                     display != nullptr ? display : "");
        return 1;
    }
    kivo::gtk::Trace("start " + std::to_string(static_cast<long>(::getpid())));
    theApp.SetUpStartAtLoginOnFirstStart();
    kivo_register_resource();
    kivo::gtk::InstallStyle();

    kivo::app::Core& core = theApp.m_core;
    static kivo::gtk::CGtkPopup popup(core.transfers.HttpClient());
    theApp.m_pMainWnd = &popup;
    // Set before any job starts (their timers are armed by the popup).
    static CHotListDlg* pDlg = nullptr;
    static CThreadJobs jobs =
        kivo::app::MakeShellJobs(core, theApp.m_pMainWnd, kivo::gtk::Trace,
                                 [](const kivo::net::RefreshReport& report) { pDlg->OnRefreshed(report); });
    static CHotListDlg dlg(core, popup, jobs);
    pDlg = &dlg;
    // Later starts and desktop actions reach this copy.
    auto channel =
        kivo::platform::ListenToLaterCopies("kivo", [](const std::string& message) { popup.PostLaterCopy(message); });
    if (!action.empty()) popup.PostLaterCopy(action);
    popup.DoModal(dlg);
    channel.reset();
    std::fflush(stdout);
    // Nothing is saved at exit, and running jobs end with the process.
    std::_Exit(0);
}
