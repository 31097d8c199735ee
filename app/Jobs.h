#pragma once
// The two background jobs. Each runs on a detached worker thread of its own,
// started afresh at every timer firing, and receives the settings record.
#include <atomic>

#include "app/Scheduler.h"

class CConfig;
class IUiHost;

// Version of the running program as the update check compares it.
extern const int g_nCurrentVersion;  // 1000
// Set while an update job runs or shows its notice; a second job then
// returns at once.
extern std::atomic<int> g_bUpdating;

// Online update (net/Update.cpp): probe, download, notice, hand over.
unsigned UpdateThreadProc(void* pParam);
// Cache refresh (net/Refresh.cpp). A refresh that starts while another is
// still running is skipped: both would write the same files.
unsigned RefreshThreadProc(void* pParam);

// The step of the main window's initialisation that starts an installer an
// earlier run downloaded. False when it did so and asked `host` to quit:
// initialisation then ends there.
bool RunStartupHandover(CConfig& config, IUiHost& host);

// Runs `entry(config)` on a new detached thread; false when none could be made.
bool StartJob(unsigned (*entry)(void*), CConfig* config);

// The job starter of the desktop shells: real worker threads.
class CThreadJobs : public IJobStarter {
public:
    using PlaceFn = void (*)(void* context);
    CThreadJobs(CConfig& config, PlaceFn place, void* context)
        : m_config(config), m_place(place), m_context(context) {}

    void StartUpdateJob() override { StartJob(&UpdateThreadProc, &m_config); }
    void StartRefreshJob() override { StartJob(&RefreshThreadProc, &m_config); }
    void PlacePopup() override {
        if (m_place != nullptr) m_place(m_context);
    }

private:
    CConfig& m_config;
    PlaceFn m_place;
    void* m_context;
};
