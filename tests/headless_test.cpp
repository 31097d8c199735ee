// The whole program, without a desktop, against the content server.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include "net/Catalogue.h"
#include "tests/support/Files.h"
#include "tests/support/NetworkTest.h"
#include "tests/support/Process.h"

using kivo::test::Exists;
using kivo::test::Process;
using kivo::test::ReadBytes;
using kivo::test::WriteBytes;

namespace {

constexpr char kUpdater[] = "#!/bin/sh\necho ran > \"$(dirname \"$0\")/updater-ran\"\n";

class Program : public kivo::test::NetworkTest {
protected:
    void SetUp() override {
        NetworkTest::SetUp();
        program = kivo::test::InstallHeadless(Dir());
        env = {"XDG_RUNTIME_DIR=" + runtime.Path(), "KIVO_SERVER=" + Server().HostPort()};
    }
    void WriteSettings(int pending) {
        std::string record(1016, '\0');
        record[0] = 2;
        record[254] = 1;
        record[258] = 1;
        record[262] = static_cast<char>(pending);
        WriteBytes(Dir() + "Configuration.ini", record);
    }
    int PendingOnDisk() { return static_cast<unsigned char>(ReadBytes(Dir() + "Configuration.ini")->at(262)); }
    bool WaitForFile(const std::string& path) {
        for (int i = 0; i < 500 && !Exists(path); ++i) usleep(10000);
        return Exists(path);
    }

    kivo::test::TempDir runtime;
    std::string program;
    std::vector<std::string> env;
};

}  // namespace

TEST_F(Program, OneRefreshFillsTheCacheBesideTheProgram) {
    Process run(program, {"--once"}, env);
    EXPECT_EQ(run.Wait(), 0);
    for (const char* item : g_szRefreshItems) {
        const auto copy = ReadBytes(Dir() + "prg/" + item);
        ASSERT_TRUE(copy) << item;
        EXPECT_GE(copy->size(), 3072u);
        EXPECT_NE(run.Output().find(item), std::string::npos);
    }
    EXPECT_EQ(Server().Requests().size(), 15u);
}

TEST_F(Program, InstallDirectoryLongerThanAPathBufferIsKeptWhole) {
    std::string deep = Dir();
    while (deep.size() < 300) {
        deep += "a-rather-long-folder-name/";
        ::mkdir(deep.c_str(), 0700);
    }
    const std::string deepProgram = kivo::test::InstallHeadless(deep.substr(0, deep.size() - 1));
    Process run(deepProgram, {"--once"}, env);
    EXPECT_EQ(run.Wait(), 0);
    EXPECT_NE(run.Output().find("install directory " + deep + "\n"), std::string::npos) << run.Output();
    EXPECT_TRUE(Exists(deep + "prg/today.html"));
}

TEST_F(Program, PendingUpdateIsHandedOverAtStart) {
    WriteSettings(1);
    WriteBytes(Dir() + "update.exe", kUpdater);
    ::chmod((Dir() + "update.exe").c_str(), 0644);  // as a download leaves it
    Process run(program, {"--time-scale", "1000"}, env);
    EXPECT_EQ(run.Wait(), 0);
    EXPECT_TRUE(WaitForFile(Dir() + "updater-ran"));
    EXPECT_EQ(PendingOnDisk(), 0);
    EXPECT_TRUE(Server().Requests().empty());  // no timer, no page
    EXPECT_EQ(run.Output().find("showing"), std::string::npos);
}

TEST_F(Program, PendingFlagWithoutInstallerStartsNormallyAndLeftoversGo) {
    WriteSettings(1);
    // What a process killed mid-save or mid-refresh leaves behind.
    ::mkdir((Dir() + "prg").c_str(), 0700);
    WriteBytes(Dir() + "Configuration.ini.tmp", std::string(500, 'x'));
    WriteBytes(Dir() + "prg/week.html.part", "<html>cut");
    Process run(program, {}, env);
    EXPECT_TRUE(run.WaitForOutput("showing " + Server().BaseUrl() + "/sml/week.html"));
    EXPECT_EQ(PendingOnDisk(), 0);
    EXPECT_FALSE(Exists(Dir() + "Configuration.ini.tmp"));
    EXPECT_FALSE(Exists(Dir() + "prg/week.html.part"));
}

TEST_F(Program, TimersRunTheJobsAndAnUpdateEndsTheProgram) {
    Server().SetVersion(1000);
    // 600 times faster: the refresh comes after 0.5 s, the next after 3 s.
    Process run(program, {"--time-scale", "600"}, env);
    ASSERT_TRUE(run.WaitForOutput("update check"));
    ASSERT_TRUE(run.WaitForOutput("refresh done"));
    EXPECT_TRUE(Exists(Dir() + "prg/hotmusic.html"));
    run.Kill(SIGTERM);
    run.Wait();

    WriteBytes(Dir() + "served-updater", kUpdater);
    Server().SetUpdateFile(Dir() + "served-updater");
    Server().SetVersion(1001);
    Process updating(program, {"--time-scale", "600"}, env);
    EXPECT_EQ(updating.Wait(), 0);
    EXPECT_NE(updating.Output().find("notice [更新提示] Kivo有新的版本，按确定进行更新！"), std::string::npos)
        << updating.Output();
    EXPECT_NE(updating.Output().find("quit"), std::string::npos);
    EXPECT_TRUE(WaitForFile(Dir() + "updater-ran"));
    EXPECT_EQ(PendingOnDisk(), 0);
}

TEST_F(Program, ReadOnlyInstallDirectorySendsEveryFileToTheUserFolders) {
    // A read-only mount: root ignores permission bits, a mount does not.
    const std::string ro = Dir() + "ro";
    ::mkdir(ro.c_str(), 0700);
    if (::mount("tmpfs", ro.c_str(), "tmpfs", 0, "size=64m") != 0) GTEST_SKIP() << "cannot mount here";
    const std::string installed = kivo::test::InstallHeadless(ro);
    WriteBytes(ro + "/Configuration.ini", std::string(1016, '\0'));  // ignored: it is not the one in use
    ASSERT_EQ(::mount(nullptr, ro.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    const std::string home = Dir() + "home";
    env.push_back("XDG_CONFIG_HOME=" + home + "/config");
    env.push_back("XDG_CACHE_HOME=" + home + "/cache");
    Process run(installed, {"--once"}, env);
    EXPECT_EQ(run.Wait(), 0) << run.Output();
    ::umount2(ro.c_str(), MNT_DETACH);
    for (const char* item : g_szRefreshItems) EXPECT_TRUE(Exists(home + "/cache/kivo/prg/" + item)) << item;
    EXPECT_NE(run.Output().find("settings " + home + "/config/kivo/Configuration.ini"), std::string::npos)
        << run.Output();
}
