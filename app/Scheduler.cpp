#include "app/Scheduler.h"

const unsigned g_nUpdateCheckInterval = 300000;

void CScheduler::ArmUpdateCheck() { m_host.SetTimer(kTimerUpdate, kUpdateDelayMs); }

void CScheduler::ArmPlacementAndRefresh() {
    m_host.SetTimer(kTimerPlace, kPlaceDelayMs);
    m_host.SetTimer(kTimerRefresh, kFirstRefreshMs);
}

void CScheduler::OnTimer(unsigned nIDEvent) {
    if (nIDEvent == kTimerUpdate) {
        m_host.KillTimer(kTimerUpdate);
        m_jobs.StartUpdateJob();
    } else if (nIDEvent == kTimerPlace) {
        m_host.KillTimer(kTimerPlace);
        if (m_place) m_place();
    } else {
        if (m_bFirstRefresh != 0) {
            m_bFirstRefresh = 0;
            m_host.KillTimer(nIDEvent);
            m_host.SetTimer(nIDEvent, kRefreshPeriodMs);
        }
        m_jobs.StartRefreshJob();
    }
}

void CScheduler::OnSettingsClosed(bool bCheckUpdate) {
    m_host.KillTimer(kTimerUpdate);
    if (bCheckUpdate) m_host.SetTimer(kTimerUpdate, g_nUpdateCheckInterval);
}
