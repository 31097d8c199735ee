#pragma once
// The two background jobs and their starter. A job is a plain callable; the
// starter runs each on a detached worker thread of its own, started afresh at
// every timer firing and never waited for, so whatever a job refers to must
// live for the rest of the process.
#include <functional>
#include <string>

#include "app/Scheduler.h"

class IUiHost;

namespace kivo::net {
class PageCache;
struct RefreshReport;
}  // namespace kivo::net

namespace kivo::app {
struct Core;
class Updater;
struct UpdateReport;

using Job = std::function<void()>;

// The update job: Updater::RunUpdateJob with `host` (the main window, which
// shows the notice and is asked to quit; null when there is none), then
// `onDone` with what it came to (may be empty).
Job MakeUpdateJob(Updater& updater, IUiHost* host, std::function<void(const UpdateReport&)> onDone = {});
// The cache refresh, then `onRefreshed` with its report (may be empty). A
// refresh that starts while another of this job still runs is skipped: both
// would write the same files.
Job MakeRefreshJob(net::PageCache& pages, std::function<void(const net::RefreshReport&)> onRefreshed = {});

}  // namespace kivo::app

// The job starter of every shell. A thread that cannot be made skips that
// firing.
class CThreadJobs : public IJobStarter {
public:
    CThreadJobs(kivo::app::Job update, kivo::app::Job refresh)
        : m_update(std::move(update)), m_refresh(std::move(refresh)) {}

    void StartUpdateJob() override { Start(m_update); }
    void StartRefreshJob() override { Start(m_refresh); }

private:
    static void Start(const kivo::app::Job& job);
    const kivo::app::Job m_update;
    const kivo::app::Job m_refresh;
};

namespace kivo::app {

// The jobs of a desktop shell: each report goes to `trace` as "update: ..."
// or "refresh: ...", and a finished refresh to `onRefreshed` as well.
CThreadJobs MakeShellJobs(Core& core, IUiHost* host, std::function<void(const std::string&)> trace,
                          std::function<void(const net::RefreshReport&)> onRefreshed);

}  // namespace kivo::app
