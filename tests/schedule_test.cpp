// The window's timers driven in virtual time.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/Scheduler.h"

namespace {

// Timers on a virtual clock: Advance fires them in time order, as the
// window's timer messages would arrive.
class VirtualTimers : public IUiHost {
public:
    void SetTimer(unsigned id, unsigned ms) override { m_timers[id] = {m_now + ms, ms}; }
    void KillTimer(unsigned id) override { m_timers.erase(id); }
    void ShowNotice(const char*, const char*) override {}
    void PostQuit() override {}

    void Advance(long long ms, CScheduler& scheduler) {
        const long long end = m_now + ms;
        for (;;) {
            auto next = m_timers.end();
            for (auto it = m_timers.begin(); it != m_timers.end(); ++it)
                if (next == m_timers.end() || it->second.due < next->second.due) next = it;
            if (next == m_timers.end() || next->second.due > end) break;
            m_now = next->second.due;
            next->second.due += next->second.period;
            scheduler.OnTimer(next->first);
        }
        m_now = end;
    }
    long long Now() const { return m_now; }
    bool Armed(unsigned id) const { return m_timers.count(id) != 0; }

private:
    struct Timer {
        long long due;
        long long period;
    };
    long long m_now = 0;
    std::map<unsigned, Timer> m_timers;
};

class RecordingJobs : public IJobStarter {
public:
    explicit RecordingJobs(const VirtualTimers& clock) : m_clock(clock) {}
    void StartUpdateJob() override { updates.push_back(m_clock.Now()); }
    void StartRefreshJob() override { refreshes.push_back(m_clock.Now()); }
    void PlacePopup() { placements.push_back(m_clock.Now()); }
    std::vector<long long> updates, refreshes, placements;

private:
    const VirtualTimers& m_clock;
};

constexpr long long kSecond = 1000;
constexpr long long kMinute = 60 * kSecond;

class Schedule : public ::testing::Test {
protected:
    void StartWindow() {
        scheduler.ArmUpdateCheck();
        scheduler.ArmPlacementAndRefresh();
    }
    VirtualTimers timers;
    RecordingJobs jobs{timers};
    CScheduler scheduler{timers, jobs, [this] { jobs.PlacePopup(); }};
};

}  // namespace

TEST_F(Schedule, StartArmsPlacementUpdateAndRefresh) {
    StartWindow();
    timers.Advance(100 * kMinute, scheduler);
    EXPECT_EQ(jobs.placements, (std::vector<long long>{100}));
    EXPECT_EQ(jobs.updates, (std::vector<long long>{5 * kSecond}));
    EXPECT_EQ(jobs.refreshes, (std::vector<long long>{5 * kMinute, 35 * kMinute, 65 * kMinute, 95 * kMinute}));
    EXPECT_TRUE(timers.Armed(kTimerRefresh));
    EXPECT_FALSE(timers.Armed(kTimerUpdate));
    EXPECT_FALSE(timers.Armed(kTimerPlace));
}

TEST_F(Schedule, TwoSettingsClosesFourMinutesApartGiveOneCheck) {
    StartWindow();
    timers.Advance(10 * kSecond, scheduler);
    ASSERT_EQ(jobs.updates.size(), 1u);
    scheduler.OnSettingsClosed(true);
    timers.Advance(4 * kMinute, scheduler);
    scheduler.OnSettingsClosed(true);
    const long long second = timers.Now();
    timers.Advance(30 * kMinute, scheduler);
    EXPECT_EQ(jobs.updates, (std::vector<long long>{5 * kSecond, second + 5 * kMinute}));
}

TEST_F(Schedule, CloseWithChecksOffCancelsAPendingCheck) {
    StartWindow();
    timers.Advance(2 * kSecond, scheduler);
    scheduler.OnSettingsClosed(false);  // before the start-up check
    timers.Advance(60 * kMinute, scheduler);
    EXPECT_TRUE(jobs.updates.empty());

    scheduler.OnSettingsClosed(true);
    timers.Advance(1 * kMinute, scheduler);
    scheduler.OnSettingsClosed(false);
    timers.Advance(60 * kMinute, scheduler);
    EXPECT_TRUE(jobs.updates.empty());
    EXPECT_EQ(jobs.refreshes.size(), 4u);  // the refresh timer is not affected
}
