// The Win32 platform layer without the network: the single-instance guard,
// program launch, files, the executable's path and the Run value.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>

#include "app/Config.h"
#include "platform/System.h"
#include "platform/win32/AutoStart.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

#ifdef KIVO_TEST_WITH_UI
#include "ui/StartAtLogin.h"
#endif

using kivo::test::Exists;
using kivo::test::ReadBytes;
using kivo::test::TempDir;
using kivo::test::WriteBytes;

namespace {

std::string Folder(const std::string& path) { return path.substr(0, path.rfind('\\') + 1); }

std::string Probe() { return Folder(kivo::platform::ExecutablePath()) + "kivo_probe.exe"; }

// A process started for a test; it is ended when the test is done with it.
class Child {
public:
    Child(const std::string& exe, const std::string& args) {
        std::string commandLine = "\"" + exe + "\" " + args;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &m_process))
            ADD_FAILURE() << "cannot start " << commandLine;
    }
    ~Child() {
        if (m_process.hProcess == nullptr) return;
        Kill();
        CloseHandle(m_process.hThread);
        CloseHandle(m_process.hProcess);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The exit code once the process has ended within `ms`; -1 while it runs.
    long ExitCodeWithin(DWORD ms) {
        if (m_process.hProcess == nullptr || WaitForSingleObject(m_process.hProcess, ms) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(m_process.hProcess, &code);
        return static_cast<long>(code);
    }
    // Ends the process the way a crash would: nothing of it runs any more.
    void Kill() {
        if (ExitCodeWithin(0) != -1) return;
        TerminateProcess(m_process.hProcess, 9);
        WaitForSingleObject(m_process.hProcess, 10000);
    }

private:
    PROCESS_INFORMATION m_process{};
};

// The content of a file another process writes, once it is there (20 s at most).
std::optional<std::string> WaitForFile(const std::string& path) {
    for (int i = 0; i < 2000; ++i) {
        if (auto bytes = ReadBytes(path); bytes && !bytes->empty()) return bytes;
        Sleep(10);
    }
    return std::nullopt;
}

}  // namespace

TEST(InstanceGuard, SecondCopyEndsAtOnceWhileTheFirstRuns) {
    const char* heldEvent = "kivo-test-guard-held";
    HANDLE held = CreateEventA(nullptr, TRUE, FALSE, heldEvent);
    ASSERT_NE(held, nullptr);
    Child first(Probe(), std::string("start ") + heldEvent);
    ASSERT_EQ(WaitForSingleObject(held, 20000), WAIT_OBJECT_0) << "the first copy did not start";
    CloseHandle(held);

    // The second copy neither waits for the mutex nor goes on: it ends, and
    // the first runs on.
    Child second(Probe(), "start");
    EXPECT_EQ(second.ExitCodeWithin(20000), 3);
    EXPECT_EQ(first.ExitCodeWithin(0), -1);

    // Once the first copy is gone, crashed even, the system has released the
    // mutex and a new copy starts.
    first.Kill();
    Child third(Probe(), "start");
    EXPECT_EQ(third.ExitCodeWithin(20000), 0);
}

TEST(StartProgram, StartsExactlyTheBarePathWithoutArguments) {
    // "up date.exe" beside "up.exe": a command line split at the space
    // would start the wrong program.
    TempDir spaced("kivo start test");
    const std::string exe = spaced.Path() + "\\up date.exe";
    const std::string decoy = spaced.Path() + "\\up.exe";
    ASSERT_TRUE(CopyFileA(Probe().c_str(), exe.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(Probe().c_str(), decoy.c_str(), FALSE));
    ASSERT_TRUE(kivo::platform::MakeExecutable(exe));
    ASSERT_TRUE(kivo::platform::StartProgram(exe)) << "error " << GetLastError() << " starting " << exe;
    // The program reads its own name from its command line, quoted as one word.
    EXPECT_EQ(WaitForFile(exe + ".ran"), "\"" + exe + "\"");
    EXPECT_FALSE(Exists(decoy + ".ran"));

    TempDir plain("kivo-start");
    const std::string bare = plain.Path() + "\\update.exe";
    ASSERT_TRUE(CopyFileA(Probe().c_str(), bare.c_str(), FALSE));
    ASSERT_TRUE(kivo::platform::StartProgram(bare)) << "error " << GetLastError() << " starting " << bare;
    EXPECT_EQ(WaitForFile(bare + ".ran"), bare);

    EXPECT_FALSE(kivo::platform::StartProgram(plain.Path() + "\\missing.exe"));
}

TEST(Files, OnlyARegularFileIsAReadableFile) {
    TempDir dir;
    const std::string file = dir.Path() + "\\page.html";
    WriteBytes(file, "");
    EXPECT_TRUE(kivo::platform::IsReadableFile(file));  // empty, but a file
    EXPECT_FALSE(kivo::platform::IsReadableFile(dir.Path()));
    EXPECT_FALSE(kivo::platform::IsReadableFile(dir.Path() + "\\"));
    EXPECT_FALSE(kivo::platform::IsReadableFile(dir.Path() + "\\missing.html"));
    EXPECT_FALSE(kivo::platform::IsReadableFile("NUL"));
}

TEST(Files, FolderFileAndReplaceOperations) {
    TempDir dir;
    const std::string folder = dir.Path() + "\\prg\\";
    EXPECT_TRUE(kivo::platform::MakeDir(folder));
    EXPECT_FALSE(kivo::platform::MakeDir(folder));  // already there

    const std::string page = folder + "today.html";
    WriteBytes(page, "old");
    std::FILE* part = std::fopen((page + ".part").c_str(), "wb");
    ASSERT_NE(part, nullptr);
    const std::string fresh(70000, 'n');
    ASSERT_EQ(std::fwrite(fresh.data(), 1, fresh.size(), part), fresh.size());
    EXPECT_TRUE(kivo::platform::SyncFile(part));
    EXPECT_EQ(kivo::platform::FileLength(part), 70000);
    std::fclose(part);
    EXPECT_TRUE(kivo::platform::RenameOver(page + ".part", page));
    EXPECT_EQ(ReadBytes(page), fresh);
    EXPECT_FALSE(Exists(page + ".part"));
    EXPECT_FALSE(kivo::platform::RenameOver(page + ".part", page));

    EXPECT_TRUE(kivo::platform::RemoveFile(page));
    EXPECT_FALSE(kivo::platform::RemoveFile(page));
}

TEST(Files, ReplaceWaitsForAReaderToLetGo) {
    // A reader that holds the page open, as the browser control may, blocks
    // a replacement on Windows until it closes the file.
    TempDir dir;
    const std::string page = dir.Path() + "\\today.html";
    WriteBytes(page, "old");
    WriteBytes(page + ".part", "new");
    std::FILE* reader = std::fopen(page.c_str(), "rb");
    ASSERT_NE(reader, nullptr);
    std::thread closer([reader] {
        Sleep(50);
        std::fclose(reader);
    });
    EXPECT_TRUE(kivo::platform::RenameOver(page + ".part", page));
    closer.join();
    EXPECT_EQ(ReadBytes(page), "new");
}

TEST(ExecutablePath, IsTheModulesPath) {
    std::string path(32768, '\0');
    path.resize(GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size())));
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(kivo::platform::ExecutablePath(), path);
}

namespace {

// HKEY_CURRENT_USER stands for a scratch key while a test runs, so the
// tests never touch the real Run key of the user who runs them.
class RunValue : public ::testing::Test {
protected:
    void SetUp() override {
        m_scratchName = "Software\\KivoTest\\" + std::to_string(GetCurrentProcessId());
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
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kivo::platform::kRunKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    static bool RunKeyExists() {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kivo::platform::kRunKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

    struct Value {
        DWORD type = REG_NONE;
        std::string bytes;
    };
    // The value "kivo" as the "A" interface reads it back; nothing when absent.
    static std::optional<Value> ReadValue() {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kivo::platform::kRunKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return std::nullopt;
        Value value;
        char data[1024] = {};
        DWORD size = sizeof data;
        const LONG result = RegQueryValueExA(key, "kivo", nullptr, &value.type, reinterpret_cast<BYTE*>(data), &size);
        RegCloseKey(key);
        if (result != ERROR_SUCCESS) return std::nullopt;
        value.bytes.assign(data, size);
        return value;
    }

    static std::string PathThenZeros(const std::string& path) { return path + std::string(260 - path.size(), '\0'); }

    std::string m_scratchName;
    HKEY m_scratch = nullptr;
};

}  // namespace

TEST_F(RunValue, OnIsThePathThenZerosOffIs260Zeros) {
    CreateRunKey();
    const std::string exe = "C:\\Program Files\\Kivo\\kivo.exe";
    ASSERT_TRUE(kivo::platform::WriteRunValue(true, exe));
    auto value = ReadValue();
    ASSERT_TRUE(value);
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(value->bytes, PathThenZeros(exe));  // unquoted, no arguments, 260 bytes

    ASSERT_TRUE(kivo::platform::WriteRunValue(false, exe));
    value = ReadValue();
    ASSERT_TRUE(value);  // switching off keeps the value
    EXPECT_EQ(value->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(value->bytes, std::string(260, '\0'));
}

TEST_F(RunValue, MissingRunKeyIsNeverCreated) {
    EXPECT_FALSE(kivo::platform::WriteRunValue(true, "C:\\kivo.exe"));
    EXPECT_FALSE(RunKeyExists());
}

TEST_F(RunValue, PathThatDoesNotFitIsNotWritten) {
    CreateRunKey();
    const std::string longest = "C:\\" + std::string(252, 'k') + ".exe";  // 259 bytes and the zero
    ASSERT_TRUE(kivo::platform::WriteRunValue(true, longest));
    EXPECT_EQ(ReadValue()->bytes, PathThenZeros(longest));
    EXPECT_FALSE(kivo::platform::WriteRunValue(true, "C:\\" + std::string(253, 'k') + ".exe"));
    EXPECT_EQ(ReadValue()->bytes, PathThenZeros(longest));  // the old value stays
}

#ifdef KIVO_TEST_WITH_UI
TEST_F(RunValue, SetAutoRunWritesThisExecutable) {
    CreateRunKey();
    kivo::platform::CRunValueStartAtLogin entry;
    kivo::ui::SetStartAtLogin(&entry);
    CConfig config;
    EXPECT_EQ(config.SetAutoRun(1), 1);
    EXPECT_EQ(ReadValue()->bytes, PathThenZeros(kivo::platform::ExecutablePath()));
    EXPECT_EQ(config.SetAutoRun(0), 1);
    EXPECT_EQ(ReadValue()->bytes, std::string(260, '\0'));
    kivo::ui::SetStartAtLogin(nullptr);
}
#endif
