// A one-shot stop flag that sleeping request handlers can wait on.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kivo::server {

class StopSignal {
public:
    void Trigger();
    bool Triggered() const { return triggered_.load(); }

    // Sleeps until the deadline; returns false early when the signal fires.
    bool WaitUntil(std::chrono::steady_clock::time_point deadline);
    bool WaitFor(std::chrono::milliseconds duration) {
        return WaitUntil(std::chrono::steady_clock::now() + duration);
    }

private:
    std::atomic<bool> triggered_{false};
    std::mutex mutex_;
    std::condition_variable cv_;
};

}  // namespace kivo::server
