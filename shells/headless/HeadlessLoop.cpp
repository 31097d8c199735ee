#include "shells/headless/HeadlessLoop.h"

#include <cstdio>
#include <string>

#include "platform/linux/Gbk.h"

CHeadlessLoop::Clock::duration CHeadlessLoop::Scaled(unsigned ms) const {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(ms / m_timeScale));
}

long long CHeadlessLoop::ProgramMs() const {
    const auto real = std::chrono::duration<double, std::milli>(Clock::now() - m_start).count();
    return static_cast<long long>(real * m_timeScale);
}

void CHeadlessLoop::SetTimer(unsigned nIDEvent, unsigned nElapseMs) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const Clock::duration period = Scaled(nElapseMs);
    m_timers[nIDEvent] = Timer{Clock::now() + period, period};
    m_wake.notify_all();
}

void CHeadlessLoop::KillTimer(unsigned nIDEvent) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_timers.erase(nIDEvent);
}

void CHeadlessLoop::ShowNotice(const char* szText, const char* szCaption) {
    // No one to press OK: the notice is printed and taken as confirmed.
    std::printf("notice [%s] %s\n", kivo::platform::GbkToUtf8(szCaption).c_str(),
                kivo::platform::GbkToUtf8(szText).c_str());
    std::fflush(stdout);
}

void CHeadlessLoop::PostQuit() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_quit = true;
    m_wake.notify_all();
}

void CHeadlessLoop::Run(const std::function<void(unsigned)>& onTimer) {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_quit) {
        if (m_timers.empty()) {
            m_wake.wait(lock);
            continue;
        }
        auto next = m_timers.begin();
        for (auto it = m_timers.begin(); it != m_timers.end(); ++it)
            if (it->second.due < next->second.due) next = it;
        if (Clock::now() < next->second.due) {
            m_wake.wait_until(lock, next->second.due);
            continue;
        }
        const unsigned id = next->first;
        next->second.due += next->second.period;
        lock.unlock();
        onTimer(id);
        lock.lock();
    }
}
