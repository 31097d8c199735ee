// The online update job and the start-up hand-over.
#include <gtest/gtest.h>

#include <thread>

#include "app/Jobs.h"
#include "app/UiHost.h"
#include "app/Updater.h"
#include "net/ServerAddress.h"
#include "platform/linux/Gbk.h"
#include "tests/support/Files.h"
#include "tests/support/NetworkTest.h"
#include "tests/support/Process.h"
#include "tests/support/Wait.h"

using kivo::app::MakeUpdateJob;
using kivo::app::UpdateReport;
using kivo::net::TransferResult;
using kivo::test::Exists;
using kivo::test::Process;
using kivo::test::ReadBytes;
using kivo::test::WriteBytes;

namespace {

int PendingOnDisk(const std::string& settingsFile) {
    const auto bytes = ReadBytes(settingsFile);
    if (!bytes || bytes->size() != 1016) return -1;
    return static_cast<unsigned char>((*bytes)[262]);
}

class NoticeHost : public IUiHost {
public:
    void SetTimer(unsigned, unsigned) override {}
    void KillTimer(unsigned) override {}
    void ShowNotice(const char* szText, const char* szCaption) override {
        ++notices;
        text = kivo::platform::GbkToUtf8(szText);
        caption = kivo::platform::GbkToUtf8(szCaption);
        if (whileShown) whileShown();
    }
    void PostQuit() override { ++quits; }

    int notices = 0, quits = 0;
    std::string text, caption;
    std::function<void()> whileShown;
};

class Update : public kivo::test::NetworkTest {
protected:
    void SetUp() override {
        NetworkTest::SetUp();
        // A stand-in installer: records its path and argument count, then ends.
        served = Dir() + "served-updater";
        WriteBytes(served, "#!/bin/sh\necho \"$0|$#\" > \"$(dirname \"$0\")/updater-ran\"\n");
        Server().SetUpdateFile(served);
    }
    // How the stand-in was started, once it has run (up to 5 s); empty when
    // it was not.
    std::string Ran() const {
        const std::string ran = Dir() + "updater-ran";
        kivo::test::WaitUntil([&] { return !ReadBytes(ran).value_or("").empty(); }, std::chrono::seconds(5));
        return ReadBytes(ran).value_or("");
    }
    // The installer in place for a hand-over, pending in the record.
    void Waiting(const std::string& signature = "") {
        config.m_bUpdatePending = 1;
        WriteBytes(updater.GetUpdatePath(), *ReadBytes(served));
        if (!signature.empty()) WriteBytes(updater.GetUpdatePath() + ".sig", signature);
    }

    // The job as the program starts it; its last report.
    UpdateReport Run() {
        UpdateReport last;
        MakeUpdateJob(updater, &host, [&](const UpdateReport& report) { last = report; })();
        return last;
    }

    std::string served;
    NoticeHost host;
};

}  // namespace

TEST_F(Update, NewerVersionIsDownloadedAnnouncedAndStarted) {
    Server().SetVersion(1001);
    int pendingDuringNotice = -1;
    std::size_t requestsBefore = 0, requestsAfter = 0;
    UpdateReport second;
    host.whileShown = [&] {
        pendingDuringNotice = PendingOnDisk(config.GetConfigPath());
        requestsBefore = Server().Requests().size();
        // A second job while the notice is up does nothing at all.
        std::thread([&] { second = Run(); }).join();
        requestsAfter = Server().Requests().size();
        EXPECT_FALSE(Exists(Dir() + "updater-ran"));
    };
    const UpdateReport report = Run();
    EXPECT_EQ(report.Summary(), "newer version, installer replaced, installer started");
    EXPECT_TRUE(second.busy);
    EXPECT_EQ(host.notices, 1);
    EXPECT_EQ(host.text, "Kivo有新的版本，按确定进行更新！");
    EXPECT_EQ(host.caption, "更新提示");
    EXPECT_EQ(pendingDuringNotice, 1);
    EXPECT_EQ(requestsAfter, requestsBefore);
    EXPECT_EQ(PendingOnDisk(config.GetConfigPath()), 0);
    EXPECT_EQ(config.m_bUpdatePending, 0);
    EXPECT_EQ(ReadBytes(updater.GetUpdatePath()), ReadBytes(served));
    EXPECT_EQ(Ran(), updater.GetUpdatePath() + "|0\n");
    EXPECT_EQ(host.quits, 1);
    EXPECT_EQ(g_bUpdating.load(), 0);
}

TEST_F(Update, WithoutAWindowTheInstallerWaitsForTheNextStart) {
    Server().SetVersion(1001);
    const UpdateReport report = updater.RunUpdateJob(nullptr);
    EXPECT_EQ(report.download, TransferResult::kReplaced);
    EXPECT_FALSE(report.started);
    EXPECT_EQ(PendingOnDisk(config.GetConfigPath()), 1);
    EXPECT_FALSE(Exists(Dir() + "updater-ran"));
    EXPECT_EQ(g_bUpdating.load(), 0);
}

TEST_F(Update, NoNewerVersionChangesNothingEvenWithChecksSwitchedOff) {
    config.m_bCheckUpdate = 0;  // the job runs all the same
    for (int version : {1000, 999, 0}) {
        Server().SetVersion(static_cast<std::uint64_t>(version));
        EXPECT_EQ(Run().Summary(), "no newer version");
    }
    // A newer version published for Windows alone is none for this build.
    Server().SetUpdateFile("");
    Server().SetUpdateFile(served, "");
    Server().SetVersion(1001);
    (void)Run();
    EXPECT_EQ(Server().Requests(), (std::vector<std::string>(4, kivo::net::VersionPath())));
    EXPECT_FALSE(Exists(config.GetConfigPath()));
    EXPECT_FALSE(Exists(updater.GetUpdatePath()));
    EXPECT_EQ(host.notices + host.quits + g_bUpdating.load(), 0);
    UseClosedPort();
    EXPECT_EQ(Run().Summary(), "not reached");
}

TEST_F(Update, AnythingButAWholeProgramIsNeverAnnounced) {
    Server().SetVersion(1001);
    for (const std::string& body : {std::string(), std::string("<html>404</html>"), std::string("MZ\x90")}) {
        WriteBytes(served, body);
        EXPECT_EQ(Run().download, TransferResult::kNotAProgram);
        EXPECT_FALSE(Exists(updater.GetUpdatePath()));
    }
    Server().SetStatus(kivo::net::InstallerPath(), 404, 5000);
    EXPECT_EQ(Run().download, TransferResult::kNotAProgram);
    EXPECT_FALSE(Exists(updater.GetUpdatePath()));
    // An installer that does not come keeps the one before.
    WriteBytes(updater.GetUpdatePath(), "old");
    Server().SetStall(kivo::net::InstallerPath(), 3000);
    EXPECT_EQ(Run().download, TransferResult::kNotReached);
    EXPECT_EQ(ReadBytes(updater.GetUpdatePath()), "old");
    EXPECT_FALSE(Exists(config.GetConfigPath()));  // pending never set
    EXPECT_EQ(host.notices + host.quits + g_bUpdating.load(), 0);
}

TEST_F(Update, HandOverStartsAWaitingInstallerOrClearsTheFlagAndGoesOn) {
    Waiting();
    EXPECT_FALSE(updater.RunStartupHandover(host));
    EXPECT_EQ(host.quits, 1);
    EXPECT_EQ(PendingOnDisk(config.GetConfigPath()), 0);
    EXPECT_EQ(Ran(), updater.GetUpdatePath() + "|0\n");
    EXPECT_TRUE(Server().Requests().empty());

    kivo::platform::RemoveFile(updater.GetUpdatePath());
    config.m_bUpdatePending = 1;
    EXPECT_TRUE(updater.RunStartupHandover(host));
    EXPECT_EQ(PendingOnDisk(config.GetConfigPath()), 0);
    EXPECT_EQ(host.quits, 1);

    kivo::app::Core untouched(Dir() + "other/");
    EXPECT_TRUE(untouched.updater.RunStartupHandover(host));  // nothing pending: no save
    EXPECT_FALSE(Exists(untouched.config.GetConfigPath()));
}

namespace {

// A build with an update key: installers must carry a signature by it.
class SignedUpdate : public Update {
protected:
    void SetUp() override {
        Update::SetUp();
        updater.SetUpdateKey(*ReadBytes(kKeys + "update-test.pub.pem"));
        Server().SetVersion(1001);
    }
    // Signs `file` the way a release is signed; true when it worked.
    static bool Sign(const std::string& file, const std::string& key = kKeys + "update-test.key.pem") {
        return Process(KIVO_SERVER_EXE, {"sign", "--key", key, file}).Wait() == 0;
    }
    void ExpectNothingAnnounced(const std::string& what) {
        EXPECT_EQ(Run().download, TransferResult::kUnsigned) << what;
        EXPECT_FALSE(Exists(updater.GetUpdatePath())) << what;
        EXPECT_FALSE(Exists(updater.GetUpdatePath() + ".sig")) << what;
        EXPECT_EQ(host.notices, 0) << what;
        EXPECT_EQ(PendingOnDisk(config.GetConfigPath()), -1) << what;  // never saved
    }
    inline static const std::string kKeys = KIVO_TEST_KEYS;
};

}  // namespace

TEST_F(SignedUpdate, OnlyAnInstallerSignedByTheKeyIsAnnouncedAndStarted) {
    ExpectNothingAnnounced("no signature");
    WriteBytes(served + ".sig", "");
    ExpectNothingAnnounced("an empty signature");
    ASSERT_TRUE(Sign(served, kKeys + "other.key.pem"));
    ExpectNothingAnnounced("a signature by another key");
    const std::string signature = *ReadBytes(served + ".sig");
    WriteBytes(served + ".sig", signature.substr(0, signature.size() - 3));
    ExpectNothingAnnounced("a truncated signature");
    WriteBytes(Dir() + "other", "#!/bin/sh\n");
    ASSERT_TRUE(Sign(Dir() + "other"));
    WriteBytes(served + ".sig", *ReadBytes(Dir() + "other.sig"));
    ExpectNothingAnnounced("a signature of another file");
    Server().SetStatus(kivo::net::InstallerPath() + ".sig", 404, 70);
    ExpectNothingAnnounced("an error page as signature");
    Server().ClearFaults();

    // One made with openssl verifies as well as one by kivo-server sign.
    Process openssl("openssl",
                    {"dgst", "-sha256", "-sign", kKeys + "update-test.key.pem", "-out", served + ".sig", served});
    ASSERT_EQ(openssl.Wait(), 0);
    EXPECT_TRUE(Run().started);
    EXPECT_EQ(host.notices, 1);
    EXPECT_EQ(Ran(), updater.GetUpdatePath() + "|0\n");
    EXPECT_EQ(ReadBytes(updater.GetUpdatePath() + ".sig"), ReadBytes(served + ".sig"));
    EXPECT_EQ(host.quits, 1);
}

TEST_F(SignedUpdate, HandOverChecksTheWaitingInstallerAgain) {
    ASSERT_TRUE(Sign(served));
    Waiting(*ReadBytes(served + ".sig"));
    WriteBytes(updater.GetUpdatePath(), *ReadBytes(served) + "# replaced on the disk\n");
    EXPECT_TRUE(updater.RunStartupHandover(host));  // not started: the program goes on
    EXPECT_EQ(host.quits, 0);
    EXPECT_FALSE(Exists(updater.GetUpdatePath()));
    EXPECT_FALSE(Exists(Dir() + "updater-ran"));

    Waiting(*ReadBytes(served + ".sig"));
    EXPECT_FALSE(updater.RunStartupHandover(host));
    EXPECT_EQ(Ran(), updater.GetUpdatePath() + "|0\n");
}
