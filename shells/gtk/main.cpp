// kivo: the desktop program on Linux (GTK 3). The command line
// is ignored. KIVO_TRACE=1 prints what the program does on standard output
// (see GtkShell.h).
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "app/HotListApp.h"
#include "app/Jobs.h"
#include "shells/gtk/GtkPopup.h"
#include "shells/gtk/GtkShell.h"
#include "ui/HotListDlg.h"

// The embedded skin (res/kivo.gresource.xml).
void kivo_register_resource(void);

int main() {
    if (!theApp.InitInstance()) return 0;  // another copy runs: silently gone
    if (!gtk_init_check(nullptr, nullptr)) return 1;  // no display: no window
    kivo::gtk::Trace("start " + std::to_string(static_cast<long>(::getpid())));
    kivo_register_resource();
    kivo::gtk::InstallStyle();

    CConfig& config = theApp.m_config;
    static kivo::gtk::CGtkPopup popup(config.HttpClient());
    theApp.m_pMainWnd = &popup;
    static CThreadJobs jobs({config, theApp.m_pMainWnd, {}});
    static CHotListDlg dlg(config, popup, jobs);
    popup.DoModal(dlg);
    std::fflush(stdout);
    // Nothing is saved at exit, and running jobs end with the process.
    std::_Exit(0);
}
