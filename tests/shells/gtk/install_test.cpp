// The Linux packages as a user gets them: the .deb installed with apt and
// run by a user of its own, then purged; the portable archive unpacked into
// a folder the user owns. Needs root and the packages scripts/package.sh
// builds (KIVO_TEST_DEB, KIVO_TEST_TGZ); skipped without them.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "tests/shells/gtk/Desktop.h"
#include "tests/support/Files.h"

using kivo::test::Env;
using kivo::test::Exists;
using kivo::test::Process;
using kivo::test::WaitUntil;
using kivo::test::XWin;

namespace {

int RunCommand(const std::vector<std::string>& command, std::string* output = nullptr) {
    Process process(command.front(), {command.begin() + 1, command.end()});
    const int status = process.Wait(std::chrono::minutes(5));
    if (output != nullptr) *output = process.Output();
    return status;
}

class Packages : public kivo::test::DesktopTest {
protected:
    void SetUp() override {
        if (::getuid() != 0 || Env("KIVO_TEST_DEB").empty() || Env("KIVO_TEST_TGZ").empty())
            GTEST_SKIP() << "needs root and the packages (KIVO_TEST_DEB, KIVO_TEST_TGZ)";
        DesktopTest::SetUp();
    }
    void TearDown() override {
        if (m_bInstalled) RunCommand({"apt-get", "purge", "-y", "-q", "kivo"});
        if (::getpwnam("kivo-test") != nullptr) RunCommand({"userdel", "kivo-test"});
        DesktopTest::TearDown();
    }
    // Starts `program` with the test's environment, its timers 600 times
    // faster (the first cache refresh after half a second); as `user` when
    // given. Waits for the popup in its corner.
    std::unique_ptr<Process> StartPlaced(const std::string& program, const passwd* user = nullptr) {
        std::vector<std::string> env = ProgramEnv();
        env.push_back("KIVO_TIME_SCALE=600");
        auto process =
            user == nullptr
                ? std::make_unique<Process>(program, std::vector<std::string>{}, env)
                : std::make_unique<Process>(
                      "setpriv",
                      std::vector<std::string>{"--reuid=" + std::to_string(user->pw_uid),
                                               "--regid=" + std::to_string(user->pw_gid), "--clear-groups", program},
                      env);
        EXPECT_TRUE(WaitForTrace(*process, "placed ")) << process->Output();
        return process;
    }
    bool m_bInstalled = false;
};

}  // namespace

TEST_F(Packages, DebRunsForAUserWithItsFilesInTheUsersFoldersAndPurgeLeavesNothing) {
    ASSERT_EQ(RunCommand({"apt-get", "install", "-y", "-q", "--no-install-recommends", Env("KIVO_TEST_DEB")}), 0);
    m_bInstalled = true;
    std::string listing;
    ASSERT_EQ(RunCommand({"dpkg-query", "-L", "kivo"}, &listing), 0);
    EXPECT_NE(listing.find("/usr/share/applications/cn.kivo.Kivo.desktop"), std::string::npos);
    EXPECT_NE(listing.find("/usr/share/icons/hicolor/256x256/apps/kivo.png"), std::string::npos);

    // A user of its own, owning the home the program is given.
    RunCommand({"useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin", "kivo-test"});
    const passwd* user = ::getpwnam("kivo-test");
    ASSERT_NE(user, nullptr);
    ASSERT_EQ(RunCommand({"chown", "-R", "kivo-test:", Home()}), 0);
    auto program = StartPlaced("/usr/bin/kivo", user);

    // Settings through the tray menu's 软件设置: an address, then OK.
    XWin icon;
    ASSERT_TRUE(WaitUntil([&] { return TrayIcon(Pid(*program), icon); })) << program->Output();
    ClickAt(icon.rect.x + icon.rect.width / 2, icon.rect.y + icon.rect.height / 2, 3);
    ASSERT_TRUE(WaitForTrace(*program, "] menu "));
    WaitUntil([&] {
        return FindWindow(
            Pid(*program), [](const XWin& w) { return w.mapped && w.type == "POPUP_MENU"; }, icon);
    });
    Key("Down Down Return");
    const XWin settings = WaitForWindow(Pid(*program), [](const XWin& w) { return w.mapped && w.name == "软件设置"; });
    ASSERT_NE(settings.id, 0u) << program->Output();
    ClickAt(settings.rect.x + 10 + 100, settings.rect.y + 214 + 10);
    Key("ctrl+a BackSpace");
    Xdo({"type", "--delay", "60", "user@kivo.cn"});
    ClickAt(settings.rect.x + 73 + 40, settings.rect.y + 282 + 12);
    ASSERT_TRUE(WaitForTrace(*program, "dialog 131 closed 1")) << program->Output();

    const std::string settingsFile = Home() + "/config/kivo/Configuration.ini";
    const auto saved = kivo::test::ReadBytes(settingsFile);
    ASSERT_TRUE(saved) << settingsFile;
    EXPECT_EQ(saved->size(), 1016u);
    struct stat st {};
    ASSERT_EQ(::stat(settingsFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, user->pw_uid);
    EXPECT_TRUE(WaitUntil([&] { return Exists(Home() + "/cache/kivo/prg/hotmusic.html"); })) << program->Output();
    EXPECT_FALSE(Exists("/usr/bin/Configuration.ini"));
    EXPECT_FALSE(Exists("/usr/bin/prg"));
    program->Kill(SIGTERM);
    program->Wait();

    ASSERT_EQ(RunCommand({"apt-get", "purge", "-y", "-q", "kivo"}), 0);
    m_bInstalled = false;
    std::istringstream files(listing);
    for (std::string path; std::getline(files, path);) {
        struct stat entry {};
        if (path.rfind("/usr/", 0) == 0 && ::lstat(path.c_str(), &entry) == 0) {
            EXPECT_TRUE(S_ISDIR(entry.st_mode)) << path << " remains";
        }
    }
}

TEST_F(Packages, PortableArchiveKeepsEveryFileBesideTheProgram) {
    const std::string folder = Dir() + "portable";
    ::mkdir(folder.c_str(), 0700);
    ASSERT_EQ(RunCommand({"tar", "-xzf", Env("KIVO_TEST_TGZ"), "-C", folder, "--strip-components=1"}), 0);
    auto program = StartPlaced(folder + "/bin/kivo");
    EXPECT_TRUE(WaitUntil([&] { return Exists(folder + "/bin/prg/hotmusic.html"); })) << program->Output();
    EXPECT_FALSE(Exists(Home() + "/cache/kivo"));
}
