// One running copy per login, seen from outside.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

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
