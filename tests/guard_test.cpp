// One running copy per login, seen from outside.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/InstanceChannel.h"

#include "tests/support/Files.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"

using kivo::test::Process;

namespace {

class Guard : public ::testing::Test {
protected:
    void SetUp() override {
        program = kivo::test::InstallHeadless(install.Path());
        env = {"XDG_RUNTIME_DIR=" + runtime.Path(), "KIVO_SERVER=127.0.0.1:9"};
    }
    kivo::test::TempDir install, runtime;
    std::string program;
    std::vector<std::string> env;
};

}  // namespace

TEST_F(Guard, SecondCopyEndsAtOnceAndSilently) {
    const std::string settings = install.Path() + "/Configuration.ini";
    std::string record(1016, '\x02');
    record.replace(262, 4, std::string(4, '\0'));  // no update pending: nothing to save
    kivo::test::WriteBytes(settings, record);
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
    EXPECT_EQ(kivo::test::ReadBytes(settings), record);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);

    // The lock goes with the process, even when it is killed.
    first.Kill(SIGKILL);
    first.Wait();
    Process third(program, {"--once"}, env);
    EXPECT_EQ(third.Wait(), 0);
    EXPECT_NE(third.Output().find("refreshed"), std::string::npos) << third.Output();
}

TEST_F(Guard, AnotherLoginRunsItsOwnCopy) {
    Process first(program, {}, env);
    ASSERT_TRUE(first.WaitForOutput("showing"));
    kivo::test::TempDir otherLogin;
    Process other(program, {"--once"}, {"XDG_RUNTIME_DIR=" + otherLogin.Path(), "KIVO_SERVER=127.0.0.1:9"});
    EXPECT_EQ(other.Wait(), 0);
    EXPECT_NE(other.Output().find("refreshed"), std::string::npos);
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
        const bool reached = ::setuid(65534) == 0 &&
                             ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::_exit(reached ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (::getuid() == 0) {
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    EXPECT_TRUE(kivo::platform::SendToRunningCopy("kivo-test", "show"));
    for (int i = 0; i < 200; ++i) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (!received.empty()) break;
        }
        ::usleep(10000);
    }
    channel.reset();  // stops the listener and removes the socket
    EXPECT_EQ(received, std::vector<std::string>{"show"});
    EXPECT_NE(::stat((runtime.Path() + "/kivo-test.sock").c_str(), &st), 0);
    EXPECT_FALSE(kivo::platform::SendToRunningCopy("kivo-test", "show"));
    ::unsetenv("XDG_RUNTIME_DIR");
}
