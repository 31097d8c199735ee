#pragma once
// The user-interface thread of the headless shell: a loop that fires the
// window's timers (optionally faster than real time) and takes quit requests
// from any thread.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>

#include "app/UiHost.h"

class CHeadlessLoop : public IUiHost {
public:
    using Clock = std::chrono::steady_clock;

    // Timer delays are divided by `timeScale` (1 = real time).
    explicit CHeadlessLoop(double timeScale) : m_timeScale(timeScale) {}

    void SetTimer(unsigned nIDEvent, unsigned nElapseMs) override;
    void KillTimer(unsigned nIDEvent) override;
    void ShowNotice(const char* szText, const char* szCaption) override;
    void PostQuit() override;

    // Runs until a quit request; every firing goes to `onTimer`.
    void Run(const std::function<void(unsigned)>& onTimer);

    // Milliseconds of program time since the loop was made.
    long long ProgramMs() const;

private:
    struct Timer {
        Clock::time_point due;
        Clock::duration period;
    };
    Clock::duration Scaled(unsigned ms) const;

    const double m_timeScale;
    const Clock::time_point m_start = Clock::now();
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::map<unsigned, Timer> m_timers;
    bool m_quit = false;
};
