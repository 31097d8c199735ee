// The whole program, without a desktop, against the content server; one
// running copy per login.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <mutex>

#include "net/Catalogue.h"
#include "platform/InstanceChannel.h"
#include "tests/support/Files.h"
#include "tests/support/NetworkTest.h"
#include "tests/support/Process.h"
#include "tests/support/Wait.h"

using kivo::test::Exists;
using kivo::test::Process;
using kivo::test::ReadBytes;
using kivo::test::WriteBytes;

namespace {

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

    kivo::test::TempDir runtime;
    std::string program;
    std::vector<std::string> env;
};

using Guard = Program;

}  // namespace

TEST_F(Program, OneRefreshFillsTheCacheBesideTheProgramWhereverItIs) {
    // An install folder longer than a path buffer is kept whole.
    std::string deep = Dir();
    while (deep.size() < 300) {
        deep += "a-rather-long-folder-name/";
        ::mkdir(deep.c_str(), 0700);
    }
    Process run(kivo::test::InstallHeadless(deep.substr(0, deep.size() - 1)), {"--once"}, env);
    EXPECT_EQ(run.Wait(), 0);
    EXPECT_NE(run.Output().find("install directory " + deep + "\n"), std::string::npos) << run.Output();
    for (const char* item : g_szRefreshItems) {
        const auto copy = ReadBytes(deep + "prg/" + item);
        ASSERT_TRUE(copy) << item;
        EXPECT_GE(copy->size(), 3072u);
        EXPECT_NE(run.Output().find(item), std::string::npos);
    }
    EXPECT_EQ(Server().Requests().size(), 15u);
    EXPECT_NE(run.Output().find("refresh: 15 replaced\n"), std::string::npos) << run.Output();
}

TEST_F(Program, RefreshPrintsWhatBecameOfEachPage) {
    Server().SetSize("/sml/week.html", 100);
    Server().SetCut("/sml/game.html", 9000);
    Process run(program, {"--once"}, env);
    EXPECT_EQ(run.Wait(), 0);
    const std::string& out = run.Output();
    EXPECT_NE(out.find("refresh: 13 replaced, 1 too short, removed, 1 cut off, kept\n"), std::string::npos) << out;
    EXPECT_NE(out.find("week.html      too short, removed\n"), std::string::npos) << out;
    EXPECT_NE(out.find("game.html      cut off, kept\n"), std::string::npos) << out;
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

TEST_F(Program, TimersRunTheJobs) {
    Server().SetVersion(1000);
    // 600 times faster: the refresh comes after 0.5 s, the next after 3 s.
    Process run(program, {"--time-scale", "600"}, env);
    ASSERT_TRUE(run.WaitForOutput("update: no newer version"));
    ASSERT_TRUE(run.WaitForOutput("refresh done"));
    EXPECT_TRUE(Exists(Dir() + "prg/hotmusic.html"));
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

TEST_F(Guard, SecondCopyOfALoginEndsAtOnceAndSilentlyAnotherLoginRunsItsOwn) {
    const std::string settings = Dir() + "Configuration.ini";
    WriteSettings(0);  // no update pending: nothing to save
    const auto record = ReadBytes(settings);
    struct stat before {};
    ::stat(settings.c_str(), &before);

    Process first(program, {}, env);
    ASSERT_TRUE(first.WaitForOutput("showing")) << first.Output();
    Process second(program, {}, env);
    EXPECT_EQ(second.Wait(std::chrono::seconds(10)), 0);
    EXPECT_EQ(second.Output(), "");
    // It told the running copy to show itself.
    EXPECT_TRUE(first.WaitForOutput("later copy: show")) << first.Output();
    struct stat after {};
    ::stat(settings.c_str(), &after);
    EXPECT_EQ(ReadBytes(settings), record);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    // Another login runs its own copy meanwhile.
    kivo::test::TempDir otherLogin;
    Process other(program, {"--once"}, {"XDG_RUNTIME_DIR=" + otherLogin.Path(), "KIVO_SERVER=" + Server().HostPort()});
    EXPECT_EQ(other.Wait(), 0);
    EXPECT_NE(other.Output().find("refreshed"), std::string::npos) << other.Output();

    // The lock goes with the process, even when it is killed.
    first.Kill(SIGKILL);
    first.Wait();
    Process third(program, {"--once"}, env);
    EXPECT_EQ(third.Wait(), 0);
    EXPECT_NE(third.Output().find("refreshed"), std::string::npos) << third.Output();
}

TEST(InstanceChannel, OnlyShortPlainMessagesOfThisUserArrive) {
    kivo::test::TempDir runtime;
    ::setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    std::mutex mutex;
    std::vector<std::string> received;
    auto channel = kivo::platform::ListenToLaterCopies("kivo-test", [&](const std::string& message) {
        std::lock_guard<std::mutex> lock(mutex);
        received.push_back(message);
    });
    ASSERT_TRUE(channel);
    struct stat st {};
    ASSERT_EQ(::stat((runtime.Path() + "/kivo-test.sock").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    EXPECT_FALSE(kivo::platform::SendToRunningCopy("kivo-test", std::string(64, 'x')));
    EXPECT_FALSE(kivo::platform::SendToRunningCopy("kivo-test", ""));
    EXPECT_TRUE(kivo::platform::SendToRunningCopy("kivo-test", "two words"));  // a space: dropped
    // Another user cannot reach the socket (root, which could, runs this test).
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s/kivo-test.sock", runtime.Path().c_str());
    const pid_t child = ::fork();
    if (child == 0) {  // system calls only: the parent has threads
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const bool reached =
            ::setuid(65534) == 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::_exit(reached ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (::getuid() == 0) {
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    EXPECT_TRUE(kivo::platform::SendToRunningCopy("kivo-test", "show"));
    kivo::test::WaitUntil(
        [&] {
            std::lock_guard<std::mutex> lock(mutex);
            return !received.empty();
        },
        std::chrono::seconds(2));
    channel.reset();  // stops the listener and removes the socket
    EXPECT_EQ(received, std::vector<std::string>{"show"});
    EXPECT_NE(::stat((runtime.Path() + "/kivo-test.sock").c_str(), &st), 0);
    EXPECT_FALSE(kivo::platform::SendToRunningCopy("kivo-test", "show"));
    ::unsetenv("XDG_RUNTIME_DIR");
}
