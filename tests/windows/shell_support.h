#pragma once
// Helpers of the tests of kivo.exe under Wine: where the program and the
// sources are, GBK texts, the program started as a process of its own with
// its trace, its windows found from outside, the screen read back, and a
// Unix program started from the Windows side (Wine runs those). The shell's
// header comes first: the program's own headers before the Windows ones.
#include "platform/win32/shell/WinApi.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kivo::test {

// kivo.exe in the build tree; a path below the sources; the folder for
// screenshots (build/windows/screenshots, made when missing). Windows paths.
std::string ShellExePath();
std::string SourcePath(const std::string& relative);
std::string ScreenshotDir();
std::string TestExeFolder();  // with its trailing backslash

std::string ToGbk(const std::wstring& text);
std::wstring FromGbk(const std::string& text);

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(20));

// A program started with the test's environment and `env` on top of it, in
// `dir`. Ended when the object goes, if it still runs.
class Program {
public:
    Program(const std::string& exe, const std::string& dir, const std::map<std::string, std::string>& env);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool Started() const { return m_process.hProcess != nullptr; }
    DWORD Pid() const { return m_process.dwProcessId; }
    // The exit code once the process has ended within `ms`; -1 while it runs.
    long ExitCodeWithin(DWORD ms);
    void Kill();

private:
    PROCESS_INFORMATION m_process{};
};

// A string value of the registry (`name` null: the key's default) set for
// as long as the object lives; the value before, or its absence, comes back.
class ScopedRegistryValue {
public:
    ScopedRegistryValue(HKEY root, const char* key, const char* name, const std::string& value);
    ~ScopedRegistryValue();
    ScopedRegistryValue(const ScopedRegistryValue&) = delete;
    ScopedRegistryValue& operator=(const ScopedRegistryValue&) = delete;

private:
    HKEY m_key = nullptr;
    std::string m_name;
    bool m_bHadName = false;
    std::optional<std::string> m_before;
};

// Visible top-level windows of process `pid` with window class `className`
// (null: any).
std::vector<HWND> TopLevelWindows(DWORD pid, const char* className, bool bVisibleOnly = true);
std::wstring WindowText(HWND hWnd);
std::string ClassName(HWND hWnd);
// Child windows of `hWnd` in z-order, top first (direct children only).
std::vector<HWND> Children(HWND hWnd);
// The deepest window in `hWnd`'s first-child chain.
HWND DeepestChild(HWND hWnd);

// The tray icon (`hWnd`, `uId`) as the shell knows it: a change of nothing.
bool TrayIconExists(HWND hWnd, UINT uId);

// 24-bit pixels, 0xRRGGBB, rows from the top.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
    bool Empty() const { return pixels.empty(); }
};
// What the screen shows in `rect` (screen coordinates).
Image CaptureScreen(const RECT& rect);
// A 24-bit BI_RGB BMP file, as the skin is stored; empty when unreadable.
Image LoadBmp(const std::string& path);
bool SaveBmp(const Image& image, const std::string& path);
// The number of pixels in which two images of the same size differ.
int DifferingPixels(const Image& a, const Image& b);

// Starts a Unix program (Wine hands it to the host) with a shell command
// line and waits until `doneFile` (Windows path) exists; false on time-out.
bool RunUnixCommand(const std::string& shellCommand, const std::string& doneFile,
                    std::chrono::milliseconds timeout = std::chrono::seconds(20));
// The Unix path of a Windows path, through Wine's own mapping; empty when
// there is none.
std::string UnixPath(const std::string& windowsPath);

}  // namespace kivo::test
