#pragma once
// The two background jobs. Each runs on a detached worker thread of its own,
// started afresh at every timer firing, and receives what it works with from
// whoever starts it.
#include <atomic>
#include <functional>

#include "app/Scheduler.h"

class CConfig;
class IUiHost;

// Version of the running program as the update check compares it.
extern const int g_nCurrentVersion;  // 1000
// Set while an update job runs or shows its notice; a second job then
// returns at once.
extern std::atomic<int> g_bUpdating;

// What a job is handed. The starter keeps it alive for the rest of the
// process: detached jobs are never waited for.
struct JobContext {
    // The settings record; its transfers go through the record's HTTP client.
    CConfig& config;
    // The main window, which shows the update notice and is asked to quit;
    // null when there is none.
    IUiHost* pHost = nullptr;
    // Called on the worker after each cache refresh; may be empty.
    std::function<void()> onRefreshed;
};

// Online update (net/Update.cpp): probe, download, notice, hand over.
// `pParam` is a JobContext.
unsigned UpdateThreadProc(void* pParam);
// Cache refresh (net/Refresh.cpp). `pParam` is a JobContext. A refresh that
// starts while another is still running is skipped: both would write the
// same files.
unsigned RefreshThreadProc(void* pParam);

// The step of the main window's initialisation that starts an installer an
// earlier run downloaded. False when it did so and asked `host` to quit:
// initialisation then ends there.
bool RunStartupHandover(CConfig& config, IUiHost& host);

// The job starter of every shell: each job on a new detached worker thread,
// handed this starter's context. A thread that cannot be made skips that
// firing.
class CThreadJobs : public IJobStarter {
public:
    explicit CThreadJobs(JobContext context) : m_context(std::move(context)) {}

    void StartUpdateJob() override { Start(&UpdateThreadProc); }
    void StartRefreshJob() override { Start(&RefreshThreadProc); }

private:
    void Start(unsigned (*entry)(void*));
    JobContext m_context;
};
