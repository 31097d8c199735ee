#pragma once
// Work off the user-interface thread: `work` runs on a new detached thread,
// and `done` gets its result on the thread of the default main context. A
// thread that cannot be made runs nothing and reports `failure`.
#include <glib.h>

#include <functional>
#include <memory>

#include "platform/System.h"

namespace kivo::gtk {

template <typename Result>
void RunOffThread(std::function<Result()> work, std::function<void(Result)> done, Result failure = {}) {
    struct Job {
        std::function<Result()> work;
        std::function<void(Result)> done;
        Result result;
    };
    auto job = std::make_unique<Job>(Job{std::move(work), std::move(done), std::move(failure)});
    auto deliver = [](gpointer data) -> gboolean {
        std::unique_ptr<Job> finished(static_cast<Job*>(data));
        finished->done(std::move(finished->result));
        return G_SOURCE_REMOVE;
    };
    Job* const raw = job.release();  // the thread, or failing that the idle callback, owns it
    const bool started = kivo::platform::StartDetachedThread([raw, deliver] {
        raw->result = raw->work();
        g_idle_add_full(G_PRIORITY_DEFAULT, deliver, raw, nullptr);
    });
    if (!started) g_idle_add_full(G_PRIORITY_DEFAULT, deliver, raw, nullptr);
}

}  // namespace kivo::gtk
