// kivo: the desktop program on Linux (GTK 3). KIVO_TRACE=1 prints what the
// program does on standard output (see GtkShell.h).
//
//   kivo [--settings | --about | --exit]
//
// The options are the app-menu entry's actions: the tray menu's command of
// that name. Another copy runs: it is told (with "show" when no option is
// given, so that it shows its popup), and this one ends at once. None runs:
// this one starts and then carries the command out. Anything else on the
// command line is ignored.
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

std::string ActionOf(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        for (const char* action : {"settings", "about", "exit"})
            if (std::strncmp(argv[i], "--", 2) == 0 && std::strcmp(argv[i] + 2, action) == 0) return action;
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    const std::string action = ActionOf(argc, argv);
    if (!theApp.InitInstance()) {
        // Another copy runs: it does what was asked, this one is gone.
        kivo::platform::SendToRunningCopy("kivo", action.empty() ? "show" : action);
        return 0;
    }
    // In a Wayland session with XWayland the popup goes through X, where it
    // can place and shape itself; plain Wayland only where there is no X.
    gdk_set_allowed_backends("x11,*");
    g_set_prgname("kivo");
    // The font configuration, which the skin's first text would wait for, is
    // read on a second core while GTK reads its theme on this one.
    std::thread([] { FcInit(); }).detach();
    if (!gtk_init_check(nullptr, nullptr)) return 1;  // no display: no window
    kivo::gtk::Trace("start " + std::to_string(static_cast<long>(::getpid())));
    kivo_register_resource();
    kivo::gtk::InstallStyle();

    kivo::app::Core& core = theApp.m_core;
    static kivo::gtk::CGtkPopup popup(core.transfers.HttpClient());
    theApp.m_pMainWnd = &popup;
    static CThreadJobs jobs(
        kivo::app::MakeUpdateJob(core.updater, theApp.m_pMainWnd,
                      [](const kivo::app::UpdateReport& report) { kivo::gtk::Trace("update: " + report.Summary()); }),
        kivo::app::MakeRefreshJob(core.pages,
                       [](const kivo::net::RefreshReport& report) { kivo::gtk::Trace("refresh: " + report.Summary()); }));
    static CHotListDlg dlg(core, popup, jobs);
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
