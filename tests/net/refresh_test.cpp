// The page cache refresh against the content server.
#include <gtest/gtest.h>

#include <atomic>
#include <sys/stat.h>
#include <thread>

#include "app/Jobs.h"
#include "net/Catalogue.h"
#include "net/PageCache.h"
#include "server/Pattern.h"
#include "tests/support/Files.h"
#include "tests/support/NetworkTest.h"

using kivo::app::Job;
using kivo::app::MakeRefreshJob;
using kivo::net::RefreshReport;
using kivo::net::TransferResult;
using kivo::server::PatternBytes;
using kivo::test::Exists;
using kivo::test::ReadBytes;
using kivo::test::WriteBytes;

namespace {

class Refresh : public kivo::test::NetworkTest {
protected:
    void SetUp() override {
        NetworkTest::SetUp();
        ::mkdir(Cache().c_str(), 0700);
    }
    std::string Cache() const { return Dir() + "prg/"; }
    std::string Item(int i) const { return Cache() + g_szRefreshItems[i]; }
    static std::string Sml(int i) { return std::string("/sml/") + g_szRefreshItems[i]; }
};

}  // namespace

TEST_F(Refresh, FetchesTheImageWhileMissingThenTheFourteenPages) {
    RefreshReport report = pages.RefreshPages();
    EXPECT_EQ(report.Count(TransferResult::kReplaced), kRefreshItemCount);
    EXPECT_EQ(report.Summary(), "15 replaced");
    std::vector<std::string> expected;
    for (int i = 0; i < kRefreshItemCount; ++i) expected.push_back(Sml(i));
    EXPECT_EQ(Server().Requests(), expected);
    for (int i = 0; i < kRefreshItemCount; ++i) {
        const auto copy = ReadBytes(Item(i));
        ASSERT_TRUE(copy) << Item(i);
        EXPECT_GE(copy->size(), 3072u);
    }
    // Any copy of the image counts, even a damaged one.
    WriteBytes(Item(0), "");
    Server().ClearRequests();
    report = pages.RefreshPages();
    expected.erase(expected.begin());
    EXPECT_EQ(Server().Requests(), expected);
    EXPECT_EQ(ReadBytes(Item(0)), "");
    EXPECT_FALSE(report.items[0]);  // not asked for
    EXPECT_EQ(report.Summary(), "14 unchanged, kept");
}

TEST_F(Refresh, ReportsWhatBecameOfEachItem) {
    Server().SetSize(Sml(1), 3071);
    Server().SetSize(Sml(2), 3072);
    WriteBytes(Item(3), std::string(9000, 'g'));
    Server().SetSize(Sml(3), 0);
    Server().SetStatus(Sml(4), 404, 5000);
    WriteBytes(Item(5), "good copy");
    Server().SetCut(Sml(5), 8000);
    const RefreshReport report = pages.RefreshPages();
    EXPECT_FALSE(Exists(Item(1)));
    EXPECT_EQ(ReadBytes(Item(2)), PatternBytes(3072));
    EXPECT_FALSE(Exists(Item(3)));  // a good copy goes when the answer is empty
    EXPECT_EQ(ReadBytes(Item(4)), PatternBytes(5000));
    EXPECT_EQ(ReadBytes(Item(5)), "good copy");
    EXPECT_EQ(report.items[1], TransferResult::kTooShort);
    EXPECT_EQ(report.items[2], TransferResult::kReplaced);
    EXPECT_EQ(report.items[3], TransferResult::kTooShort);
    EXPECT_EQ(report.items[5], TransferResult::kCutOff);
    EXPECT_EQ(report.Summary(), "12 replaced, 2 too short, removed, 1 cut off, kept");
}

TEST_F(Refresh, UnreachableServerChangesNoFile) {
    for (int i = 1; i < kRefreshItemCount; ++i) WriteBytes(Item(i), "copy " + std::to_string(i));
    UseClosedPort();
    const RefreshReport report = pages.RefreshPages();
    EXPECT_EQ(report.Count(TransferResult::kNotReached), kRefreshItemCount);
    EXPECT_FALSE(Exists(Item(0)));
    for (int i = 1; i < kRefreshItemCount; ++i) EXPECT_EQ(ReadBytes(Item(i)), "copy " + std::to_string(i));
}

TEST_F(Refresh, MissingCacheFolderIsNotCreated) {
    ::rmdir(Cache().c_str());
    const RefreshReport report = pages.RefreshPages();
    EXPECT_FALSE(Exists(Cache()));
    EXPECT_EQ(report.Summary(), "15 not written, kept");
    EXPECT_EQ(Server().Requests().size(), 15u);
}

TEST_F(Refresh, ReaderNeverSeesAHalfWrittenPage) {
    const std::string old(4000, 'o');
    WriteBytes(Item(1), old);
    const std::string fresh = PatternBytes(150000);
    Server().SetSlow(Sml(1), fresh.size(), 1500);
    std::atomic<bool> done{false};
    std::thread job([&] {
        (void)pages.RefreshPages();
        done = true;
    });
    int reads = 0, oldSeen = 0, bad = 0;
    while (!done) {
        const auto now = ReadBytes(Item(1));
        ++reads;
        if (now && *now == old)
            ++oldSeen;
        else if (!now || *now != fresh)
            ++bad;
    }
    job.join();
    EXPECT_EQ(bad, 0) << "of " << reads << " reads";
    EXPECT_GT(oldSeen, 0);
    EXPECT_EQ(ReadBytes(Item(1)), fresh);
}

TEST_F(Refresh, JobSkipsWhileAnotherRunsAndHandsOnItsReport) {
    Server().SetSlow(Sml(0), 5000, 1000);
    std::atomic<int> refreshed{0}, replaced{0};
    const Job job = MakeRefreshJob(pages, [&](const RefreshReport& report) {
        ++refreshed;
        replaced = report.Count(TransferResult::kReplaced);
    });
    std::thread first(job);
    while (Server().Requests().empty()) std::this_thread::yield();
    job();  // returns at once: a refresh is under way
    first.join();
    EXPECT_EQ(Server().Requests().size(), 15u);
    EXPECT_EQ(refreshed, 1);
    EXPECT_EQ(replaced, kRefreshItemCount);
    job();  // the next one runs
    EXPECT_EQ(refreshed, 2);
}
