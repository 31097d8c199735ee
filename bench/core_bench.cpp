// Timings of the core on loopback: one full cache refresh (15 items) from the
// content server, and settings saves and loads. Prints one line per figure.
//
//   kivo-bench-core [repetitions]
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/Core.h"
#include "app/Jobs.h"
#include "net/Catalogue.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void Report(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) { return ms[static_cast<std::size_t>(q * static_cast<double>(ms.size() - 1))]; };
    std::printf("%-48s n=%-4zu min %8.3f  median %8.3f  p90 %8.3f ms\n", what, ms.size(), ms.front(), at(0.5), at(0.9));
}

void EmptyCache(const std::string& cache) {
    for (const char* item : g_szRefreshItems) std::remove((cache + item).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    kivo::test::TestServer server;
    ::setenv("KIVO_SERVER", server.HostPort().c_str(), 1);
    kivo::test::TempDir dir("kivo-bench");
    kivo::app::Core core(dir.Path() + "/");
    CConfig& config = core.config;
    const std::string cache = core.pages.GetPageBase(true);
    ::mkdir(cache.c_str(), 0700);

    (void)core.pages.RefreshPages();  // warm-up
    std::vector<double> refresh, job;
    for (int i = 0; i < repetitions; ++i) {
        EmptyCache(cache);
        const auto start = Clock::now();
        (void)core.pages.RefreshPages();
        refresh.push_back(Ms(Clock::now() - start));
    }
    const kivo::app::Job refreshJob = kivo::app::MakeRefreshJob(core.pages);
    for (int i = 0; i < repetitions; ++i) {
        EmptyCache(cache);
        // From the timer's start of the job to the last byte on disk.
        const auto start = Clock::now();
        std::thread worker(refreshJob);
        worker.join();
        job.push_back(Ms(Clock::now() - start));
    }
    Report("full refresh, 15 items (RefreshPages)", refresh);
    Report("refresh job: start to last byte (new thread)", job);

    std::vector<double> saveLoad;
    const auto all = Clock::now();
    for (int i = 0; i < 1000; ++i) {
        const auto start = Clock::now();
        config.m_nCategory = 1 + i % 14;
        config.SaveConfig();
        CConfig loaded(dir.Path() + "/");
        loaded.LoadConfig();
        saveLoad.push_back(Ms(Clock::now() - start));
    }
    const double total = Ms(Clock::now() - all);
    Report("settings save + load (each)", saveLoad);
    std::printf("%-48s total %8.1f ms\n", "1000 settings saves + loads", total);
    return 0;
}
