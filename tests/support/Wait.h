#pragma once
// Waiting for what another thread or process does, for both builds.
#include <chrono>
#include <functional>
#include <thread>

namespace kivo::test {

// True once `done` holds; false when `timeout` passes first.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    for (const auto end = std::chrono::steady_clock::now() + timeout; !done();
         std::this_thread::sleep_for(std::chrono::milliseconds(20)))
        if (std::chrono::steady_clock::now() > end) return false;
    return true;
}

}  // namespace kivo::test
