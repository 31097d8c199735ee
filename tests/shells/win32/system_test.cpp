// The Win32 platform layer without the network: the single-instance guard,
// program launch, files and the Run value.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "app/Config.h"
#include "platform/System.h"
#include "platform/win32/AutoStart.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/shells/win32/support/Process.h"

using namespace kivo::test;
namespace platform = kivo::platform;

namespace {

std::string Probe() { return kivo::test::TestExeFolder() + "kivo_probe.exe"; }

// What a started probe wrote into "<its path>.ran": its command line.
std::optional<std::string> RanAs(const std::string& exe) {
    WaitUntil([&] { return !ReadBytes(exe + ".ran").value_or("").empty(); });
    return ReadBytes(exe + ".ran");
}

}  // namespace

TEST(InstanceGuard, SecondCopyEndsAtOnceWhileTheFirstRunsAndTheNextAfterACrashStarts) {
    const char* heldEvent = "kivo-test-guard-held";
    HANDLE held = CreateEventA(nullptr, TRUE, FALSE, heldEvent);
    ASSERT_NE(held, nullptr);
    Process first(Probe(), std::string("start ") + heldEvent);
    ASSERT_EQ(WaitForSingleObject(held, 20000), WAIT_OBJECT_0) << "the first copy did not start";
    CloseHandle(held);

    // The second copy neither waits for the mutex nor goes on.
    Process second(Probe(), "start");
    EXPECT_EQ(second.ExitCodeWithin(20000), 3);
    EXPECT_EQ(first.ExitCodeWithin(0), -1);
    // The first copy crashed: the system has released the mutex.
    first.Kill();
    Process third(Probe(), "start");
    EXPECT_EQ(third.ExitCodeWithin(20000), 0);
}

TEST(StartProgram, StartsExactlyTheBarePathWithoutArguments) {
    // "up date.exe" beside "up.exe": a command line split at the space
    // would start the wrong program.
    TempDir spaced("kivo start test");
    const std::string exe = spaced.File("up date.exe"), decoy = spaced.File("up.exe");
    ASSERT_TRUE(CopyFileA(Probe().c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(Probe().c_str(), decoy.c_str(), FALSE));
    ASSERT_TRUE(platform::MakeExecutable(exe));
    ASSERT_TRUE(platform::StartProgram(exe)) << "error " << GetLastError();
    EXPECT_EQ(RanAs(exe), "\"" + exe + "\"");  // its own name, quoted as one word
    EXPECT_FALSE(Exists(decoy + ".ran"));

    TempDir plain("kivo-start");
    const std::string bare = plain.File("update.exe");
    ASSERT_TRUE(CopyFileA(Probe().c_str(), bare.c_str(), FALSE));
    ASSERT_TRUE(platform::StartProgram(bare)) << "error " << GetLastError();
    const std::string ran = RanAs(bare).value_or("");
    EXPECT_TRUE(ran == bare || ran == "\"" + bare + "\"") << ran;
    EXPECT_FALSE(platform::StartProgram(plain.File("missing.exe")));
}

// Folders and files as the portable tests do not meet them: a device, a
// folder made twice, a long file's length, a missing file moved or removed.
TEST(Files, FolderFileAndReplaceOperations) {
    TempDir dir;
    const std::string folder = dir.File("prg\\"), page = folder + "today.html";
    EXPECT_TRUE(platform::MakeDir(folder));
    EXPECT_FALSE(platform::MakeDir(folder));  // already there
    EXPECT_FALSE(platform::IsReadableFile("NUL"));
    std::FILE* part = std::fopen((page + ".part").c_str(), "wb");
    ASSERT_NE(part, nullptr);
    const std::string fresh(70000, 'n');
    ASSERT_EQ(std::fwrite(fresh.data(), 1, fresh.size(), part), fresh.size());
    EXPECT_TRUE(platform::SyncFile(part));
    EXPECT_EQ(platform::FileLength(part), 70000);
    std::fclose(part);
    EXPECT_TRUE(platform::RenameOver(page + ".part", page));
    EXPECT_EQ(ReadBytes(page), fresh);
    EXPECT_FALSE(Exists(page + ".part"));
    EXPECT_FALSE(platform::RenameOver(page + ".part", page));
    EXPECT_TRUE(platform::RemoveFile(page));
    EXPECT_FALSE(platform::RemoveFile(page));
}

TEST(Files, ReplaceWaitsForAReaderToLetGo) {
    // A reader that holds the page open, as the browser control may, blocks
    // a replacement on Windows until it closes the file.
    TempDir dir;
    const std::string page = dir.File("today.html");
    WriteBytes(page, "old");
    WriteBytes(page + ".part", "new");
    std::FILE* reader = std::fopen(page.c_str(), "rb");
    ASSERT_NE(reader, nullptr);
    std::thread closer([reader] {
        Sleep(50);
        std::fclose(reader);
    });
    EXPECT_TRUE(platform::RenameOver(page + ".part", page));
    closer.join();
    EXPECT_EQ(ReadBytes(page), "new");
}

namespace {

// HKEY_CURRENT_USER stands for a scratch key while a test runs, so the
// tests never touch the real Run key of the user who runs them.
class RunValue : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, m_scratchName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &m_scratch, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, m_scratch), ERROR_SUCCESS);
    }
    void TearDown() override {
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        if (m_scratch != nullptr) RegCloseKey(m_scratch);
        RegDeleteTreeA(HKEY_CURRENT_USER, m_scratchName.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\KivoTest");
    }

    // The Run key, as a Windows installation has it.
    static void CreateRunKey() {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, platform::kRunKey, &key), ERROR_SUCCESS);
        RegCloseKey(key);
    }

    // The value "kivo" as the "A" interface reads it back, when it is a
    // REG_SZ; "missing key" or "missing value" otherwise.
    static std::string Value() {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, platform::kRunKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return "missing key";
        char data[1024] = {};
        DWORD size = sizeof data, type = REG_NONE;
        const LONG result = RegQueryValueExA(key, "kivo", nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
        RegCloseKey(key);
        if (result != ERROR_SUCCESS || type != REG_SZ) return "missing value";
        return std::string(data, size);
    }

    static std::string PathThenZeros(const std::string& path) { return path + std::string(260 - path.size(), '\0'); }

    const std::string m_scratchName = "Software\\KivoTest\\" + std::to_string(GetCurrentProcessId());
    HKEY m_scratch = nullptr;
};

}  // namespace

TEST_F(RunValue, OnIsThePathThenZerosOffIs260Zeros) {
    CreateRunKey();
    const std::string exe = "C:\\Program Files\\Kivo\\kivo.exe";
    ASSERT_TRUE(platform::WriteRunValue(true, exe));
    EXPECT_EQ(Value(), PathThenZeros(exe));  // unquoted, no arguments, 260 bytes
    ASSERT_TRUE(platform::WriteRunValue(false, exe));
    EXPECT_EQ(Value(), std::string(260, '\0'));  // switching off keeps the value

    // CConfig::SetAutoRun: this executable.
    CConfig config;
    EXPECT_EQ(config.SetAutoRun(1), 1);
    EXPECT_EQ(Value(), PathThenZeros(platform::ExecutablePath()));
    EXPECT_EQ(config.SetAutoRun(0), 1);
    EXPECT_EQ(Value(), std::string(260, '\0'));
}

TEST_F(RunValue, MissingKeyIsNeverCreatedAndAPathThatDoesNotFitIsNotWritten) {
    EXPECT_FALSE(platform::WriteRunValue(true, "C:\\kivo.exe"));
    EXPECT_EQ(Value(), "missing key");
    EXPECT_EQ(CConfig().SetAutoRun(1), 1);  // still 1, and still no key
    EXPECT_EQ(Value(), "missing key");

    CreateRunKey();
    const std::string longest = "C:\\" + std::string(252, 'k') + ".exe";  // 259 bytes and the zero
    ASSERT_TRUE(platform::WriteRunValue(true, longest));
    EXPECT_EQ(Value(), PathThenZeros(longest));
    EXPECT_FALSE(platform::WriteRunValue(true, "C:\\" + std::string(253, 'k') + ".exe"));
    EXPECT_EQ(Value(), PathThenZeros(longest));  // the old value stays
}
