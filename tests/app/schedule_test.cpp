// The window's timers driven in virtual time, and the threads their jobs run on.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/Jobs.h"
#include "app/Scheduler.h"

namespace {

constexpr long long kSecond = 1000;
constexpr long long kMinute = 60 * kSecond;

// The window on a virtual clock: Advance fires its timers in time order, as
// the window's timer messages would arrive, and the jobs and placements they
// start are written down with the time.
class Schedule : public ::testing::Test, public IUiHost, public IJobStarter {
protected:
    void SetTimer(unsigned id, unsigned ms) override { timers[id] = {now + ms, ms}; }
    void KillTimer(unsigned id) override { timers.erase(id); }
    void ShowNotice(const char*, const char*) override {}
    void PostQuit() override {}
    void StartUpdateJob() override { updates.push_back(now); }
    void StartRefreshJob() override { refreshes.push_back(now); }

    void StartWindow() {
        scheduler.ArmUpdateCheck();
        scheduler.ArmPlacementAndRefresh();
    }
    void Advance(long long ms) {
        const long long end = now + ms;
        for (;;) {
            auto next = timers.end();
            for (auto it = timers.begin(); it != timers.end(); ++it)
                if (next == timers.end() || it->second.first < next->second.first) next = it;
            if (next == timers.end() || next->second.first > end) break;
            now = next->second.first;
            next->second.first += next->second.second;
            scheduler.OnTimer(next->first);
        }
        now = end;
    }

    long long now = 0;
    std::map<unsigned, std::pair<long long, long long>> timers;  // id -> due, period
    std::vector<long long> updates, refreshes, placements;
    CScheduler scheduler{*this, *this, [this] { placements.push_back(now); }};
};

}  // namespace

TEST_F(Schedule, StartArmsPlacementUpdateAndRefresh) {
    StartWindow();
    Advance(100 * kMinute);
    EXPECT_EQ(placements, (std::vector<long long>{100}));
    EXPECT_EQ(updates, (std::vector<long long>{5 * kSecond}));
    EXPECT_EQ(refreshes, (std::vector<long long>{5 * kMinute, 35 * kMinute, 65 * kMinute, 95 * kMinute}));
    EXPECT_TRUE(timers.count(kTimerRefresh));
    EXPECT_FALSE(timers.count(kTimerUpdate));
    EXPECT_FALSE(timers.count(kTimerPlace));
}

TEST_F(Schedule, TwoSettingsClosesFourMinutesApartGiveOneCheck) {
    StartWindow();
    Advance(10 * kSecond);
    ASSERT_EQ(updates.size(), 1u);
    scheduler.OnSettingsClosed(true);
    Advance(4 * kMinute);
    scheduler.OnSettingsClosed(true);
    const long long second = now;
    Advance(30 * kMinute);
    EXPECT_EQ(updates, (std::vector<long long>{5 * kSecond, second + 5 * kMinute}));
}

TEST_F(Schedule, CloseWithChecksOffCancelsAPendingCheck) {
    StartWindow();
    Advance(2 * kSecond);
    scheduler.OnSettingsClosed(false);  // before the start-up check
    Advance(60 * kMinute);
    EXPECT_TRUE(updates.empty());

    scheduler.OnSettingsClosed(true);
    Advance(1 * kMinute);
    scheduler.OnSettingsClosed(false);
    Advance(60 * kMinute);
    EXPECT_TRUE(updates.empty());
    EXPECT_EQ(refreshes.size(), 4u);  // the refresh timer is not affected
}

TEST(ThreadJobs, EachFiringRunsItsJobOnAWorkerThreadOfItsOwn) {
    std::mutex mutex;
    std::condition_variable ran;
    std::vector<std::string> order;
    std::vector<std::thread::id> threads;
    const auto job = [&](const char* name) {
        return [&, name] {
            std::lock_guard<std::mutex> lock(mutex);
            order.push_back(name);
            threads.push_back(std::this_thread::get_id());
            ran.notify_all();
        };
    };
    CThreadJobs jobs(job("update"), job("refresh"));
    // Many firings at once: a thread library that now and then loses a
    // freshly detached thread shows up here.
    constexpr int kRounds = 8;
    for (int i = 0; i < kRounds; ++i) {
        jobs.StartRefreshJob();
        jobs.StartUpdateJob();
        jobs.StartRefreshJob();
    }
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(ran.wait_for(lock, std::chrono::seconds(10), [&] { return order.size() == 3 * kRounds; }))
        << order.size() << " of " << 3 * kRounds << " jobs ran";
    EXPECT_EQ(std::count(order.begin(), order.end(), "refresh"), 2 * kRounds);
    EXPECT_EQ(std::count(order.begin(), order.end(), "update"), kRounds);
    for (const auto& id : threads) EXPECT_NE(id, std::this_thread::get_id());
    // Starting an empty job is harmless.
    CThreadJobs none({}, {});
    none.StartUpdateJob();
    none.StartRefreshJob();
}
