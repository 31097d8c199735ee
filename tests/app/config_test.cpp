// The settings record and "Configuration.ini".
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>

#include "app/Core.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

using kivo::test::ReadBytes;
using kivo::test::WriteBytes;

namespace {

class Settings : public ::testing::Test {
protected:
    std::string Dir() const { return dir.Path() + "/"; }
    std::string File() const { return Dir() + "Configuration.ini"; }
    // A record loaded from a file of these bytes.
    std::unique_ptr<CConfig> Loaded(const std::string& bytes) const {
        WriteBytes(File(), bytes);
        auto config = std::make_unique<CConfig>(Dir());
        EXPECT_EQ(config->LoadConfig(), 1);
        return config;
    }
    kivo::test::TempDir dir;
};

std::string Le(std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

}  // namespace

TEST_F(Settings, NoFileKeepsTheDefaults) {
    CConfig config(Dir());
    EXPECT_EQ(config.LoadConfig(), 0);
    EXPECT_EQ(config.m_nCategory, 1);
    EXPECT_EQ(config.m_szEmail[0], '\0');
    EXPECT_EQ(config.m_bAutoRun, 1);
    EXPECT_EQ(config.m_bCheckUpdate, 1);
    EXPECT_EQ(config.m_bUpdatePending, 0);
    EXPECT_EQ(config.GetConfigPath(), Dir() + "Configuration.ini");
}

TEST_F(Settings, DefaultRecordLayout) {
    CConfig config(Dir());
    ASSERT_EQ(config.SaveConfig(), 1);
    std::string expected(1016, '\0');
    expected.replace(0, 4, Le(1));
    expected.replace(254, 4, Le(1));
    expected.replace(258, 4, Le(1));
    EXPECT_EQ(ReadBytes(File()), expected);
    EXPECT_FALSE(kivo::test::Exists(File() + ".tmp"));
}

TEST_F(Settings, SaveAndLoadRoundTripIsByteIdentical) {
    CConfig config(Dir());
    config.m_nCategory = -7;
    const char email[] = "\xD5\xC5\xC8\xFD+test@\xC0\xFD\xD7\xD3.cn";  // GBK bytes
    std::memcpy(config.m_szEmail, email, sizeof email);
    config.m_szEmail[249] = 'Z';  // bytes behind the terminator travel too
    config.m_bAutoRun = 0;
    config.m_bCheckUpdate = 0x01020304;
    config.m_bUpdatePending = 1;
    std::memset(config.m_szReserved1, 0xA1, sizeof config.m_szReserved1);
    config.m_szReserved3[249] = '\x7F';
    ASSERT_EQ(config.SaveConfig(), 1);
    const auto first = ReadBytes(File());
    ASSERT_TRUE(first);
    ASSERT_EQ(first->size(), 1016u);
    EXPECT_EQ(first->substr(0, 4), Le(static_cast<std::uint32_t>(-7)));
    EXPECT_EQ(first->substr(258, 4), Le(0x01020304));
    EXPECT_EQ(first->substr(262, 4), Le(1));
    EXPECT_EQ(first->substr(4, sizeof email), std::string(email, sizeof email));

    CConfig loaded(Dir());
    ASSERT_EQ(loaded.LoadConfig(), 1);
    EXPECT_EQ(loaded.m_nCategory, -7);
    EXPECT_EQ(std::memcmp(loaded.m_szEmail, config.m_szEmail, 250), 0);
    EXPECT_EQ(loaded.m_bCheckUpdate, 0x01020304);
    EXPECT_EQ(loaded.m_bUpdatePending, 1);
    ASSERT_EQ(loaded.SaveConfig(), 1);
    EXPECT_EQ(ReadBytes(File()), first);
}

TEST_F(Settings, ShortFilesFillOnlyTheBytesTheyCover) {
    auto config = Loaded(std::string("\x05\x00", 2));
    EXPECT_EQ(config->m_nCategory, 5);
    EXPECT_EQ(config->m_bAutoRun, 1);
    config = Loaded(Le(9));
    EXPECT_EQ(config->m_nCategory, 9);
    EXPECT_EQ(config->m_szEmail[0], '\0');
    EXPECT_EQ(config->m_bCheckUpdate, 1);
    // 300 bytes: every field up to m_bUpdatePending, then 34 bytes of
    // m_szReserved1, whose other bytes keep the default zeros.
    config = Loaded(Le(3) + "a@b" + std::string(247, '\0') + Le(0) + Le(0) + Le(1) + std::string(34, 'R'));
    EXPECT_EQ(config->m_nCategory, 3);
    EXPECT_STREQ(config->m_szEmail, "a@b");
    EXPECT_EQ(config->m_bAutoRun, 0);
    EXPECT_EQ(config->m_bCheckUpdate, 0);
    EXPECT_EQ(config->m_bUpdatePending, 1);
    EXPECT_EQ(config->m_szReserved1[33], 'R');
    EXPECT_EQ(config->m_szReserved1[34], '\0');
    // A field cut through keeps its default's upper bytes.
    config = Loaded(Le(2) + std::string(251, '\0'));
    EXPECT_EQ(config->m_bAutoRun, 0);  // the default 1 with its low byte read as 0
}

TEST_F(Settings, LongFileUsesTheFirstRecordAndIsCutBySave) {
    std::string bytes(2000, '\x11');
    bytes.replace(0, 4, Le(15));
    auto config = Loaded(bytes);
    EXPECT_EQ(config->m_nCategory, 15);  // not validated
    EXPECT_EQ(config->m_bAutoRun, 0x11111111);
    ASSERT_EQ(config->SaveConfig(), 1);
    EXPECT_EQ(ReadBytes(File()), bytes.substr(0, 1016));
}

TEST_F(Settings, FailedSaveLeavesThePreviousFileWhole) {
    CConfig config(Dir());
    config.m_nCategory = 4;
    ASSERT_EQ(config.SaveConfig(), 1);
    const auto before = ReadBytes(File());
    // The sibling file cannot be created: a folder stands in its place.
    ASSERT_EQ(::mkdir((File() + ".tmp").c_str(), 0700), 0);
    config.m_nCategory = 8;
    EXPECT_EQ(config.SaveConfig(), 0);
    EXPECT_EQ(ReadBytes(File()), before);
    EXPECT_EQ(config.m_nCategory, 8);  // memory keeps the new value
}

TEST_F(Settings, InstallDirectoryWithoutRoomSendsEveryFileToTheUserFolders) {
    ::setenv("XDG_CONFIG_HOME", (Dir() + "config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (Dir() + "cache").c_str(), 1);
    using kivo::platform::UserFolder;
    using kivo::platform::UserFolderPath;
    kivo::app::Core core(Dir() + "no/such/");  // no file can be created there
    CConfig& config = core.config;
    const std::string settings = UserFolderPath(UserFolder::Settings), cache = UserFolderPath(UserFolder::Cache);
#ifndef _WIN32
    EXPECT_EQ(settings, Dir() + "config/kivo/");
    EXPECT_EQ(cache, Dir() + "cache/kivo/");
#endif
    EXPECT_EQ(config.GetConfigPath(), settings + "Configuration.ini");
    EXPECT_EQ(core.pages.GetPageBase(true), cache + "prg" + kivo::platform::PathSeparator());
    EXPECT_EQ(core.updater.GetUpdatePath(), cache + "update.exe");
    EXPECT_EQ(config.SaveConfig(), 1);
    kivo::platform::RemoveFile(config.GetConfigPath());
    kivo::app::Core portable(Dir());
    EXPECT_EQ(portable.updater.GetUpdatePath(), Dir() + "update.exe");
    EXPECT_EQ(portable.config.GetConfigPath(), Dir() + "Configuration.ini");
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_CACHE_HOME");
}

TEST_F(Settings, ConcurrentSavesAlwaysLeaveAWholeRecord) {
    CConfig a(Dir()), b(Dir());
    a.m_nCategory = 7;
    std::memset(a.m_szReserved2, 'a', 250);
    b.m_nCategory = 9;
    std::memset(b.m_szReserved2, 'b', 250);
    ASSERT_EQ(a.SaveConfig(), 1);
    const std::string recordA = *ReadBytes(File());
    ASSERT_EQ(b.SaveConfig(), 1);
    const std::string recordB = *ReadBytes(File());

    std::atomic<bool> stop{false};
    std::atomic<int> torn{0}, reads{0};
    std::thread reader([&] {
        while (!stop) {
            const auto now = ReadBytes(File());
            if (!now || (*now != recordA && *now != recordB)) ++torn;
            ++reads;
        }
    });
    std::thread writerA([&] {
        for (int i = 0; i < 200; ++i) a.SaveConfig();
    });
    std::thread writerB([&] {
        for (int i = 0; i < 200; ++i) b.SaveConfig();
    });
    writerA.join();
    writerB.join();
    stop = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0) << "of " << reads.load() << " reads";
    const auto last = ReadBytes(File());
    EXPECT_TRUE(*last == recordA || *last == recordB);
}

TEST_F(Settings, StartMakesTheCacheAndLeftoversOfAnEndedProcessGoAndNeverCountAsCopies) {
    kivo::app::Core core(Dir());
    const std::string cache = core.pages.GetPageBase(true);
    core.PrepareFolders();
    EXPECT_TRUE(kivo::test::Exists(cache));
    WriteBytes(File() + ".tmp", std::string(700, 'x'));  // a save cut short
    WriteBytes(cache + "week.html.part", "<html>cut");   // a refresh cut short
    WriteBytes(cache + "hot.html", "whole");
    EXPECT_EQ(core.GetPageUrl(2).rfind("file://", 0), std::string::npos);  // no copy of week.html
    core.PrepareFolders();
    EXPECT_FALSE(kivo::test::Exists(File() + ".tmp"));
    EXPECT_FALSE(kivo::test::Exists(cache + "week.html.part"));
    EXPECT_EQ(ReadBytes(cache + "hot.html"), "whole");
}
