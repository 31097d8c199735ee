// The page cache refresh against the content server.
#include <gtest/gtest.h>

#include <atomic>
#include <sys/stat.h>
#include <thread>

#include "app/Config.h"
#include "app/Jobs.h"
#include "net/Catalogue.h"
#include "server/Pattern.h"
#include "tests/support/Files.h"
#include "tests/support/NetworkTest.h"

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
    config.RefreshPages();
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
    config.RefreshPages();
    expected.erase(expected.begin());
    EXPECT_EQ(Server().Requests(), expected);
    EXPECT_EQ(ReadBytes(Item(0)), "");
}

TEST_F(Refresh, MinimumPageSize) {
    Server().SetSize(Sml(1), 3071);
    Server().SetSize(Sml(2), 3072);
    WriteBytes(Item(3), std::string(9000, 'g'));
    Server().SetSize(Sml(3), 0);
    Server().SetStatus(Sml(4), 404, 5000);
    config.RefreshPages();
    EXPECT_FALSE(Exists(Item(1)));
    EXPECT_EQ(ReadBytes(Item(2)), PatternBytes(3072));
    EXPECT_FALSE(Exists(Item(3)));  // a good copy goes when the answer is empty
    EXPECT_EQ(ReadBytes(Item(4)), PatternBytes(5000));
}

TEST_F(Refresh, UnreachableServerChangesNoFile) {
    for (int i = 1; i < kRefreshItemCount; ++i) WriteBytes(Item(i), "copy " + std::to_string(i));
    UseClosedPort();
    config.RefreshPages();
    EXPECT_FALSE(Exists(Item(0)));
    for (int i = 1; i < kRefreshItemCount; ++i) EXPECT_EQ(ReadBytes(Item(i)), "copy " + std::to_string(i));
}

TEST_F(Refresh, MissingCacheFolderIsNotCreated) {
    ::rmdir(Cache().c_str());
    config.RefreshPages();
    EXPECT_FALSE(Exists(Cache()));
    EXPECT_EQ(Server().Requests().size(), 15u);
}

TEST_F(Refresh, ReaderNeverSeesAHalfWrittenPage) {
    const std::string old(4000, 'o');
    WriteBytes(Item(1), old);
    const std::string fresh = PatternBytes(150000);
    Server().SetSlow(Sml(1), fresh.size(), 1500);
    std::atomic<bool> done{false};
    std::thread job([&] {
        config.RefreshPages();
        done = true;
    });
    int reads = 0, oldSeen = 0, bad = 0;
    while (!done) {
        const auto now = ReadBytes(Item(1));
        ++reads;
        if (now && *now == old) ++oldSeen;
        else if (!now || *now != fresh) ++bad;
    }
    job.join();
    EXPECT_EQ(bad, 0) << "of " << reads << " reads";
    EXPECT_GT(oldSeen, 0);
    EXPECT_EQ(ReadBytes(Item(1)), fresh);
}

TEST_F(Refresh, JobSkipsWhileAnotherRuns) {
    Server().SetSlow(Sml(0), 5000, 1000);
    int refreshed = 0;
    JobContext context{config, nullptr, [&] { ++refreshed; }};
    std::thread first([&] { RefreshThreadProc(&context); });
    while (Server().Requests().empty()) std::this_thread::yield();
    RefreshThreadProc(&context);  // returns at once: a refresh is under way
    first.join();
    EXPECT_EQ(Server().Requests().size(), 15u);
    EXPECT_EQ(refreshed, 1);
    EXPECT_EQ(RefreshThreadProc(nullptr), 0u);
}
