// Headless shell: the program's real start-up, timers, background jobs and
// hand-over without a desktop, printing what happens. Used by the tests and
// to try the program against a content server on a machine with no display.
//
//   kivo-headless [--once] [--time-scale N]
//     --once          one cache refresh, then a listing of the cache; exits
//     --time-scale N  run the timers N times faster than real time
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "app/HotListApp.h"
#include "app/Jobs.h"
#include "app/Scheduler.h"
#include "net/Catalogue.h"
#include "net/PageCache.h"
#include "net/ServerAddress.h"
#include "platform/InstanceChannel.h"
#include "platform/System.h"
#include "shells/headless/HeadlessLoop.h"

using kivo::app::UpdateReport;
using kivo::net::RefreshReport;

namespace {

void PrintCache(const std::string& folder) {
    for (const char* name : g_szRefreshItems) {
        struct stat st {};
        if (::stat((folder + name).c_str(), &st) == 0)
            std::printf("  %-14s %8lld bytes\n", name, static_cast<long long>(st.st_size));
        else
            std::printf("  %-14s   (none)\n", name);
    }
    std::fflush(stdout);
}

void Log(const CHeadlessLoop& loop, const std::string& what) {
    std::printf("[%8.1f s] %s\n", static_cast<double>(loop.ProgramMs()) / 1000.0, what.c_str());
    std::fflush(stdout);
}

// What a refresh did: the summary, then each item that was asked for.
void PrintRefresh(const RefreshReport& report) {
    std::printf("refresh: %s\n", report.Summary().c_str());
    for (int i = 0; i < kRefreshItemCount; ++i)
        if (report.items[i]) std::printf("  %-14s %s\n", g_szRefreshItems[i], Describe(*report.items[i]));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    bool once = false;
    double timeScale = 1.0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--once") == 0) {
            once = true;
        } else if (std::strcmp(argv[i], "--time-scale") == 0 && i + 1 < argc) {
            timeScale = std::atof(argv[++i]);
            if (!(timeScale >= 1.0 && timeScale <= 100000.0)) {
                std::fprintf(stderr, "kivo-headless: --time-scale takes a number from 1 to 100000\n");
                return 2;
            }
        } else {
            std::fprintf(stderr, "usage: kivo-headless [--once] [--time-scale N]\n");
            return 2;
        }
    }
    // Another copy runs: it is told to show itself, and this one ends.
    if (!theApp.InitInstance()) {
        kivo::platform::SendToRunningCopy("kivo", "show");
        return 0;
    }
    kivo::app::Core& core = theApp.m_core;
    const std::string cache = core.pages.GetPageBase(true);
    std::printf("server %s\ninstall directory %s\nsettings %s\ncache %s\n", kivo::net::ServerAddress().c_str(),
                core.config.GetInstallDir().c_str(), core.config.GetConfigPath().c_str(), cache.c_str());
    core.PrepareFolders();
    if (once) {
        PrintRefresh(core.pages.RefreshPages());
        std::printf("refreshed %s:\n", cache.c_str());
        PrintCache(cache);
        return 0;
    }

    CHeadlessLoop loop(timeScale);
    const auto channel = kivo::platform::ListenToLaterCopies(
        "kivo", [&loop](const std::string& message) { Log(loop, "later copy: " + message); });
    theApp.m_pMainWnd = &loop;
    if (!core.updater.RunStartupHandover(loop)) {
        std::printf("update pending: installer %s started, ending\n", core.updater.GetUpdatePath().c_str());
        return 0;
    }
    const auto refreshed = [cache](const RefreshReport& report) {
        PrintRefresh(report);
        std::printf("refresh done, cache %s:\n", cache.c_str());
        PrintCache(cache);
    };
    const auto updated = [&loop](const UpdateReport& report) { Log(loop, "update: " + report.Summary()); };
    // Kept until the process ends, as running jobs refer to it.
    static CThreadJobs jobs(kivo::app::MakeUpdateJob(core.updater, theApp.m_pMainWnd, updated),
                            kivo::app::MakeRefreshJob(core.pages, refreshed));
    CScheduler scheduler(loop, jobs, [&loop] { Log(loop, "popup placed in the top-right corner"); });
    scheduler.ArmUpdateCheck();
    std::printf("showing %s\n", core.GetPageUrl(0).c_str());
    std::fflush(stdout);
    scheduler.ArmPlacementAndRefresh();
    loop.Run([&](unsigned id) {
        if (id == kTimerUpdate) Log(loop, "update check");
        if (id == kTimerRefresh) Log(loop, "cache refresh");
        scheduler.OnTimer(id);
    });
    theApp.m_pMainWnd = nullptr;
    std::printf("quit\n");
    std::fflush(stdout);
    // Jobs still running end with the process, as nothing waits for them.
    std::_Exit(0);
}
