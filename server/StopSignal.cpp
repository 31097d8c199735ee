#include "StopSignal.h"

namespace kivo::server {

void StopSignal::Trigger() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        triggered_.store(true);
    }
    cv_.notify_all();
}

bool StopSignal::WaitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !cv_.wait_until(lock, deadline, [this] { return triggered_.load(); });
}

}  // namespace kivo::server
