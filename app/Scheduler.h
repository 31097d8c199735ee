#pragma once
// The main window's three timers and what their firings start.
//  1: the update check, once per arming (5 s after start, then 5 min after
//     each close of the settings dialog while update checks are on);
//  2: the popup's placement, once, 100 ms after start;
//  3: the cache refresh, 5 min after start and every 30 min after that.
#include <functional>

#include "app/UiHost.h"

class CConfig;

enum : unsigned { kTimerUpdate = 1, kTimerPlace = 2, kTimerRefresh = 3 };

inline constexpr unsigned kUpdateDelayMs = 5000;
inline constexpr unsigned kPlaceDelayMs = 100;
inline constexpr unsigned kFirstRefreshMs = 300000;
inline constexpr unsigned kRefreshPeriodMs = 1800000;
extern const unsigned g_nUpdateCheckInterval;  // 300000 ms

// The background jobs the timer handler starts (CThreadJobs in the program).
class IJobStarter {
public:
    virtual ~IJobStarter() = default;
    virtual void StartUpdateJob() = 0;
    virtual void StartRefreshJob() = 0;
};

class CScheduler {
public:
    // `place` is what timer 2 does: the popup's placement.
    CScheduler(IUiHost& host, IJobStarter& jobs, std::function<void()> place)
        : m_host(host), m_jobs(jobs), m_place(std::move(place)) {}

    // Window initialisation: timer 1 before the page is shown ...
    void ArmUpdateCheck();
    // ... and timers 2 and 3 at its end.
    void ArmPlacementAndRefresh();
    // The timer handler.
    void OnTimer(unsigned nIDEvent);
    // After every close of the settings dialog, OK or Cancel.
    void OnSettingsClosed(bool bCheckUpdate);

private:
    IUiHost& m_host;
    IJobStarter& m_jobs;
    std::function<void()> m_place;
    int m_bFirstRefresh = 1;
};
