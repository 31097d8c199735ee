#include "app/Jobs.h"

#include <atomic>
#include <memory>

#include "app/Core.h"
#include "app/Updater.h"
#include "net/PageCache.h"
#include "platform/System.h"

namespace kivo::app {

Job MakeUpdateJob(Updater& updater, IUiHost* host, std::function<void(const UpdateReport&)> onDone) {
    return [&updater, host, onDone = std::move(onDone)] {
        const UpdateReport report = updater.RunUpdateJob(host);
        if (onDone) onDone(report);
    };
}

Job MakeRefreshJob(net::PageCache& pages, std::function<void(const net::RefreshReport&)> onRefreshed) {
    auto running = std::make_shared<std::atomic<bool>>(false);
    return [&pages, running, onRefreshed = std::move(onRefreshed)] {
        if (running->exchange(true)) return;
        const net::RefreshReport report = pages.RefreshPages();
        *running = false;
        if (onRefreshed) onRefreshed(report);
    };
}

CThreadJobs MakeShellJobs(Core& core, IUiHost* host, std::function<void(const std::string&)> trace,
                          std::function<void(const net::RefreshReport&)> onRefreshed) {
    return CThreadJobs(MakeUpdateJob(core.updater, host,
                                     [trace](const UpdateReport& report) { trace("update: " + report.Summary()); }),
                       MakeRefreshJob(core.pages, [trace, onRefreshed](const net::RefreshReport& report) {
                           trace("refresh: " + report.Summary());
                           onRefreshed(report);
                       }));
}

}  // namespace kivo::app

void CThreadJobs::Start(const kivo::app::Job& job) {
    // Without a thread the job is skipped until its timer fires again.
    if (job) kivo::platform::StartDetachedThread(job);
}
