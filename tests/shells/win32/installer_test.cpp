// The installer kivo-setup-<version>.exe under Wine, on the desktop of
// scripts/test-windows.sh (code page 936): installs for the user, silently
// and through its pages, over a Kivo that runs, as the online update starts
// it, and start at login as its box says. Each test leaves nothing installed
// and no Run value behind.
#include "tests/shells/win32/shell_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/AutoStart.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"
#include "ui/Texts.h"

namespace kivo::test {
namespace {

constexpr auto kInstallWait = std::chrono::seconds(120);

bool Contains(const std::wstring& text, const std::wstring& part) { return text.find(part) != std::wstring::npos; }

std::wstring WindowText(HWND hWnd) {
    wchar_t text[512] = {};
    DWORD_PTR n = 0;
    if (SendMessageTimeoutW(hWnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &n) == 0)
        return {};
    return std::wstring(text, std::min<std::size_t>(n, 511));
}

std::wstring ClassOf(HWND hWnd) {
    wchar_t name[64] = {};
    return std::wstring(name, static_cast<std::size_t>(std::max(0, GetClassNameW(hWnd, name, 64))));
}

std::vector<HWND> Descendants(HWND hWnd) {
    std::vector<HWND> found;
    EnumChildWindows(
        hWnd,
        [](HWND hChild, LPARAM all) {
            reinterpret_cast<std::vector<HWND>*>(all)->push_back(hChild);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// The visible dialog windows of process `pid`.
std::vector<HWND> Dialogs(DWORD pid) {
    std::vector<HWND> found;
    for (HWND hWnd = nullptr; (hWnd = FindWindowExW(nullptr, hWnd, L"#32770", nullptr)) != nullptr;) {
        DWORD owner = 0;
        GetWindowThreadProcessId(hWnd, &owner);
        if (owner == pid && IsWindowVisible(hWnd)) found.push_back(hWnd);
    }
    return found;
}

// A visible dialog of any process whose program file is named `name`.
HWND DialogOfProgram(const std::string& name) {
    for (HWND hWnd = nullptr; (hWnd = FindWindowExW(nullptr, hWnd, L"#32770", nullptr)) != nullptr;) {
        DWORD pid = 0;
        GetWindowThreadProcessId(hWnd, &pid);
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        if (process == nullptr) continue;
        char path[MAX_PATH] = {};
        DWORD size = sizeof path;
        const bool named = QueryFullProcessImageNameA(process, 0, path, &size) != 0;
        CloseHandle(process);
        const std::string image(path, size);
        if (named && IsWindowVisible(hWnd) && image.size() >= name.size() &&
            lstrcmpiA(image.c_str() + image.size() - name.size(), name.c_str()) == 0)
            return hWnd;
    }
    return nullptr;
}

// True while a copy of Kivo holds its guard in this session.
bool KivoRuns() {
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, "kivo");
    if (mutex != nullptr) CloseHandle(mutex);
    return mutex != nullptr;
}

// The texts of a page: every control's, one per line.
std::wstring PageText(HWND hWnd) {
    std::wstring text;
    for (HWND hChild : Descendants(hWnd))
        if (IsWindowVisible(hChild)) text += ClassOf(hChild) + L":" + WindowText(hChild) + L"\n";
    return text;
}

// Presses the default button (Next, Install, Finish: id 1) of the installer
// window `find` gives, once per page, until `ended` says the installer is
// done; each page's texts in order.
std::vector<std::wstring> ClickThrough(const std::function<HWND()>& find, const std::function<bool()>& ended) {
    std::vector<std::wstring> pages;
    for (int page = 0; page < 8; ++page) {
        HWND window = nullptr;
        HWND next = nullptr;
        std::wstring text;
        const bool ready = WaitUntil(
            [&] {
                if (ended()) return true;
                window = find();
                next = window != nullptr ? GetDlgItem(window, 1) : nullptr;
                if (next == nullptr || !IsWindowEnabled(next) || !IsWindowVisible(next)) return false;
                text = PageText(window);
                // A window going away shows no page.
                return !text.empty() && (pages.empty() || text != pages.back());
            },
            std::chrono::seconds(60));
        if (!ready || ended()) break;
        // The page is whole before it is left: its texts stay the same a while.
        for (int settled = 0, tries = 0; settled < 3 && tries < 50; ++tries) {
            Sleep(200);
            const std::wstring again = PageText(window);
            settled = again == text ? settled + 1 : 0;
            text = again;
        }
        if (text.empty()) continue;
        pages.push_back(text);
        PostMessageW(next, BM_CLICK, 0, 0);
    }
    return pages;
}

class InstallerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (Env("KIVO_TEST_DESKTOP") != "1") GTEST_SKIP() << "needs the desktop of scripts/test-windows.sh";
        // The installer's environment, which every Kivo it starts inherits.
        for (const auto& [name, value] : {std::pair<const char*, std::string>{"KIVO_TRACE", "1"},
                                          {"KIVO_TRACE_FILE", m_dir.File("trace.log")},
                                          {"KIVO_SERVER", "127.0.0.1:1"}})
            SetEnvironmentVariableA(name, value.c_str());
        RegDeleteKeyValueA(HKEY_CURRENT_USER, platform::kRunKey, platform::kRunValueName);
    }

    void TearDown() override {
        for (const std::string& folder : {Folder(), m_dir.File("Kivo") + "\\"}) {
            EndKivo(folder);
            if (!Exists(folder + "uninstall.exe")) continue;
            Process uninstall(folder + "uninstall.exe", "/S /REMOVESETTINGS");
            EXPECT_TRUE(WaitUntil([&] { return !Exists(folder + "kivo.exe"); }, std::chrono::seconds(60)));
        }
        RegDeleteKeyValueA(HKEY_CURRENT_USER, platform::kRunKey, platform::kRunValueName);
    }

    // The folder the installer chooses by default.
    static std::string Folder() { return KnownFolder(CSIDL_LOCAL_APPDATA) + "\\Programs\\Kivo\\"; }

    std::string Trace() const { return ReadBytes(m_dir.File("trace.log")).value_or(""); }
    int Starts() const { return Count(Trace(), "] start "); }

    static long Install(const std::string& args) {
        Process setup(InstallerPath(), args);
        return setup.ExitCodeWithin(static_cast<DWORD>(kInstallWait.count() * 1000));
    }

    // Ends the Kivo that runs, as the installer does: "kivo.exe --exit".
    static void EndKivo(const std::string& folder) {
        if (!KivoRuns()) return;
        Process(folder + "kivo.exe", "--exit").ExitCodeWithin(10000);
        EXPECT_TRUE(WaitUntil([] { return !KivoRuns(); }, std::chrono::seconds(20))) << "Kivo did not end";
    }

    // A Kivo started from `folder` whose program differs from the one in
    // the installer by a byte, with its popup placed.
    std::unique_ptr<Process> StartAnOlderKivo(const std::string& folder) {
        const std::string exe = folder + "kivo.exe";
        WriteBytes(exe, ReadBytes(exe).value_or("") + "x");
        auto kivo = std::make_unique<Process>(exe);
        EXPECT_TRUE(WaitUntil([&] { return Count(Trace(), "placed ") == 1; })) << Trace();
        return kivo;
    }

    void ExpectTheNewKivoRuns(const std::string& folder) {
        EXPECT_EQ(ReadBytes(folder + "kivo.exe"), ReadBytes(ShellExePath())) << "the program was not replaced";
        EXPECT_TRUE(WaitUntil([&] { return Starts() == 2 && KivoRuns(); }, std::chrono::seconds(30))) << Trace();
    }

    // The folder page with the default folder first, the components (start
    // at login among them), the progress, and last the finish page that
    // starts Kivo.
    void ExpectTheUsualPages(const std::vector<std::wstring>& pages) {
        std::wstring all;
        for (const std::wstring& page : pages) all += page + L"----\n";
        ASSERT_GE(pages.size(), 3U) << ToGbk(all);
        const std::string folder = Folder().substr(0, Folder().size() - 1);
        EXPECT_TRUE(Contains(pages.front(), L"Edit:" + FromGbk(folder) + L"\n")) << ToGbk(all);
        EXPECT_TRUE(Contains(pages[1], L"SysTreeView32:")) << ToGbk(all);
        EXPECT_TRUE(Contains(pages.back(), L"Button:运行 Kivo\n")) << ToGbk(all);
    }

    // What the first start's system settings dialog shows for start at
    // login: the settings dialog from the command line, then 高级….
    int AutoRunBoxOfAFirstStart(const std::string& folder) {
        EXPECT_FALSE(Exists(folder + "Configuration.ini"));
        Process kivo(folder + "kivo.exe", "--settings");
        HWND settings = WaitForDialog(kivo.Pid(), kszCaptionSettings);
        if (settings == nullptr) return -1;
        PostMessageW(GetDlgItem(settings, IDC_ADVANCED), BM_CLICK, 0, 0);
        HWND system = WaitForDialog(kivo.Pid(), kszCaptionSystemSettings);
        const int check =
            system != nullptr ? static_cast<int>(SendMessageW(GetDlgItem(system, IDC_AUTORUN), BM_GETCHECK, 0, 0)) : -1;
        EndKivo(folder);
        return check;
    }

    HWND WaitForDialog(DWORD pid, const std::string& caption) {
        HWND found = nullptr;
        WaitUntil([&] {
            for (HWND hWnd : Dialogs(pid))
                if (ToGbk(WindowText(hWnd)) == caption) found = hWnd;
            return found != nullptr;
        });
        EXPECT_NE(found, nullptr) << "no dialog " << caption << "\n" << Trace();
        return found;
    }

    TempDir m_dir{"kivo-setup"};
};

TEST_F(InstallerTest, SilentlyForTheUserAndItsUninstallerKeepsTheSettings) {
    const std::string shortcut = KnownFolder(CSIDL_PROGRAMS) + "\\Kivo.lnk";
    const char* uninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kivo";
    ASSERT_EQ(Install("/S"), 0) << InstallerPath();
    const std::string dir = Folder();
    EXPECT_EQ(ReadBytes(dir + "kivo.exe"), ReadBytes(ShellExePath()));
    EXPECT_TRUE(Exists(dir + "uninstall.exe"));
    EXPECT_TRUE(Exists(shortcut)) << shortcut;
    EXPECT_TRUE(KeyExists(uninstallKey));

    // Started from there, it keeps its files beside itself.
    {
        Process kivo(dir + "kivo.exe");
        ASSERT_TRUE(WaitUntil([&] { return Count(Trace(), "placed ") == 1; })) << Trace();
        EXPECT_TRUE(std::filesystem::is_directory(dir + "prg"));
        EndKivo(dir);
    }

    Process uninstall(dir + "uninstall.exe", "/S");
    EXPECT_TRUE(WaitUntil([&] { return !Exists(dir + "kivo.exe"); }, std::chrono::seconds(60)));
    EXPECT_TRUE(WaitUntil([&] { return !Exists(shortcut); }));
    // The uninstaller goes on from its temporary copy: its last step removes the key.
    EXPECT_TRUE(WaitUntil([&] { return !KeyExists(uninstallKey); }));
    EXPECT_EQ(platform::ReadRunValue(), "");
    EXPECT_TRUE(std::filesystem::is_directory(dir + "prg"));  // the user's cache and settings stay
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

TEST_F(InstallerTest, StartAtLoginAsTheOptionSaysAndTheFirstStartShowsIt) {
    // /NOAUTORUN, into a folder of the test's (/D=, last, unquoted).
    const std::string dir = m_dir.File("Kivo") + "\\";
    ASSERT_EQ(Install("/S /NOAUTORUN /D=" + dir.substr(0, dir.size() - 1)), 0);
    ASSERT_TRUE(Exists(dir + "kivo.exe"));
    char data[8] = {};
    DWORD size = sizeof data;
    EXPECT_EQ(
        RegGetValueA(HKEY_CURRENT_USER, platform::kRunKey, platform::kRunValueName, RRF_RT_ANY, nullptr, data, &size),
        ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(AutoRunBoxOfAFirstStart(dir), BST_UNCHECKED);

    // Installed again without it: the value names the program, and the box shows it.
    ASSERT_EQ(Install("/S /D=" + dir.substr(0, dir.size() - 1)), 0);
    EXPECT_EQ(platform::ReadRunValue(), dir + "kivo.exe");
    EXPECT_EQ(AutoRunBoxOfAFirstStart(dir), BST_CHECKED);
    EXPECT_FALSE(Exists(dir + "Configuration.ini")) << "nothing was saved";
}

TEST_F(InstallerTest, SilentlyOverARunningKivoItEndsItReplacesTheProgramAndStartsTheNewOne) {
    ASSERT_EQ(Install("/S"), 0);
    auto older = StartAnOlderKivo(Folder());
    EXPECT_EQ(Install("/S"), 0);
    EXPECT_NE(older->ExitCodeWithin(0), -1) << "the older Kivo still runs";
    ExpectTheNewKivoRuns(Folder());
}

TEST_F(InstallerTest, ThroughItsPagesOverARunningKivoAndItsFinishPageStartsTheNewOne) {
    ASSERT_EQ(Install("/S"), 0);
    auto older = StartAnOlderKivo(Folder());
    Process setup(InstallerPath());
    const std::vector<std::wstring> pages = ClickThrough(
        [&]() -> HWND {
            const std::vector<HWND> dialogs = Dialogs(setup.Pid());
            return dialogs.empty() ? nullptr : dialogs.front();
        },
        [&] { return setup.ExitCodeWithin(0) != -1; });
    EXPECT_EQ(setup.ExitCodeWithin(30000), 0);
    // The folder, the components with start at login, the finish page that
    // starts Kivo (ticked).
    ExpectTheUsualPages(pages);
    EXPECT_NE(older->ExitCodeWithin(0), -1) << "the older Kivo still runs";
    ExpectTheNewKivoRuns(Folder());
}

TEST_F(InstallerTest, AnOnlineUpdateReplacesTheProgramAndEndsWithTheNewOneRunning) {
    // The script signs the installer it built, as a release is signed.
    const std::string published = Env("KIVO_TEST_INSTALLER");
    if (published.empty()) GTEST_SKIP() << "no signed installer (KIVO_TEST_INSTALLER)";
    ASSERT_EQ(Install("/S"), 0);
    TestServer server;
    server.Reset();
    server.SetVersion(1001);
    server.SetUpdateFile(published);
    SetEnvironmentVariableA("KIVO_SERVER", server.HostPort().c_str());
    auto older = StartAnOlderKivo(Folder());

    // 5 s after start: the check, the download, the notice; its OK ends
    // Kivo, which starts the installer it fetched.
    HWND notice = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            const std::vector<HWND> dialogs = Dialogs(older->Pid());
            for (HWND hWnd : dialogs)
                if (ToGbk(WindowText(hWnd)) == "\xB8\xFC\xD0\xC2\xCC\xE1\xCA\xBE") notice = hWnd;  // 更新提示
            return notice != nullptr;
        },
        std::chrono::seconds(60)))
        << Trace();
    PostMessageW(notice, WM_COMMAND, IDOK, 0);
    EXPECT_NE(older->ExitCodeWithin(15000), -1) << Trace();
    // The new one finds nothing newer.
    server.Reset();
    const std::vector<std::wstring> pages =
        ClickThrough([] { return DialogOfProgram("update.exe"); }, [&] { return Starts() == 2; });
    ExpectTheUsualPages(pages);
    ExpectTheNewKivoRuns(Folder());
    EndKivo(Folder());
}

}  // namespace
}  // namespace kivo::test
