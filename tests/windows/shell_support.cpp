#include "tests/windows/shell_support.h"

#include <shellapi.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <thread>

#include "platform/System.h"

namespace kivo::test {

namespace {

std::string Folder(const std::string& path) { return path.substr(0, path.rfind('\\') + 1); }

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The build gives the relative paths with '/'.
std::string Backslashed(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

}  // namespace

std::string TestExeFolder() { return Folder(kivo::platform::ExecutablePath()); }

std::string ShellExePath() { return TestExeFolder() + Backslashed(KIVO_SHELL_EXE_RELATIVE); }

std::string SourcePath(const std::string& relative) {
    return TestExeFolder() + Backslashed(KIVO_SOURCE_RELATIVE) + "\\" + relative;
}

std::string ScreenshotDir() {
    const std::string dir = TestExeFolder() + Backslashed(KIVO_SCREENSHOT_RELATIVE);
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir + "\\";
}

std::string ToGbk(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(936, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(936, 0, text.data(), size, out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring FromGbk(const std::string& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(936, 0, text.data(), size, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(936, 0, text.data(), size, out.data(), n);
    return out;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        Sleep(50);
    }
    return true;
}

Program::Program(const std::string& exe, const std::string& dir, const std::map<std::string, std::string>& env) {
    // The test's environment, with `env` replacing variables of the same name.
    std::map<std::string, std::pair<std::string, std::string>> merged;
    if (char* block = GetEnvironmentStringsA()) {
        for (const char* entry = block; *entry != '\0'; entry += std::strlen(entry) + 1) {
            const std::string text = entry;
            const std::size_t equals = text.find('=', 1);
            if (equals == std::string::npos) continue;
            merged[Upper(text.substr(0, equals))] = {text.substr(0, equals), text.substr(equals + 1)};
        }
        FreeEnvironmentStringsA(block);
    }
    for (const auto& [name, value] : env) merged[Upper(name)] = {name, value};
    std::string block;
    for (const auto& [key, entry] : merged) {
        if (entry.second.empty() && env.count(entry.first) != 0) continue;  // an empty value removes it
        block += entry.first + "=" + entry.second;
        block.push_back('\0');
    }
    block.push_back('\0');

    std::string commandLine = "\"" + exe + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, block.data(), dir.c_str(),
                        &startup, &m_process))
        m_process = PROCESS_INFORMATION{};
}

ScopedRegistryValue::ScopedRegistryValue(HKEY root, const char* key, const char* name, const std::string& value)
    : m_name(name != nullptr ? name : ""), m_bHadName(name != nullptr) {
    if (RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &m_key, nullptr) !=
        ERROR_SUCCESS) {
        m_key = nullptr;
        return;
    }
    const char* valueName = m_bHadName ? m_name.c_str() : nullptr;
    char before[1024];
    DWORD type = 0, size = sizeof before;
    if (RegQueryValueExA(m_key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(before), &size) == ERROR_SUCCESS &&
        type == REG_SZ)
        m_before = std::string(before, size > 0 && before[size - 1] == '\0' ? size - 1 : size);
    RegSetValueExA(m_key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
}

ScopedRegistryValue::~ScopedRegistryValue() {
    if (m_key == nullptr) return;
    const char* valueName = m_bHadName ? m_name.c_str() : nullptr;
    if (m_before)
        RegSetValueExA(m_key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(m_before->c_str()),
                       static_cast<DWORD>(m_before->size() + 1));
    else
        RegDeleteValueA(m_key, valueName);
    RegCloseKey(m_key);
}

Program::~Program() {
    if (m_process.hProcess == nullptr) return;
    Kill();
    CloseHandle(m_process.hThread);
    CloseHandle(m_process.hProcess);
}

long Program::ExitCodeWithin(DWORD ms) {
    if (m_process.hProcess == nullptr || WaitForSingleObject(m_process.hProcess, ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(m_process.hProcess, &code);
    return static_cast<long>(code);
}

void Program::Kill() {
    if (m_process.hProcess == nullptr || ExitCodeWithin(0) != -1) return;
    TerminateProcess(m_process.hProcess, 9);
    WaitForSingleObject(m_process.hProcess, 10000);
}

namespace {

struct WindowQuery {
    DWORD pid;
    const char* className;
    bool bVisibleOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND hWnd, LPARAM lParam) {
    auto* query = reinterpret_cast<WindowQuery*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    if (pid != query->pid) return TRUE;
    if (query->bVisibleOnly && !IsWindowVisible(hWnd)) return TRUE;
    if (query->className != nullptr && ClassName(hWnd) != query->className) return TRUE;
    query->found.push_back(hWnd);
    return TRUE;
}

}  // namespace

std::vector<HWND> TopLevelWindows(DWORD pid, const char* className, bool bVisibleOnly) {
    WindowQuery query{pid, className, bVisibleOnly, {}};
    EnumWindows(&CollectWindow, reinterpret_cast<LPARAM>(&query));
    return query.found;
}

std::wstring WindowText(HWND hWnd) {
    // Asked of the window itself: GetWindowText does not ask the controls of
    // another process.
    wchar_t text[512] = {};
    const auto n = SendMessageW(hWnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
    return std::wstring(text, static_cast<std::size_t>(n > 0 ? n : 0));
}

std::string ClassName(HWND hWnd) {
    char name[256] = {};
    const int n = GetClassNameA(hWnd, name, sizeof name);
    return std::string(name, static_cast<std::size_t>(n > 0 ? n : 0));
}

std::vector<HWND> Children(HWND hWnd) {
    std::vector<HWND> children;
    for (HWND hChild = GetWindow(hWnd, GW_CHILD); hChild != nullptr; hChild = GetWindow(hChild, GW_HWNDNEXT))
        children.push_back(hChild);
    return children;
}

HWND DeepestChild(HWND hWnd) {
    HWND deepest = hWnd;
    while (HWND hChild = GetWindow(deepest, GW_CHILD)) deepest = hChild;
    return deepest;
}

bool TrayIconExists(HWND hWnd, UINT uId) {
    NOTIFYICONDATAA nid{};
    nid.cbSize = NOTIFYICONDATAA_V1_SIZE;
    nid.hWnd = hWnd;
    nid.uID = uId;
    nid.uFlags = 0;
    return Shell_NotifyIconA(NIM_MODIFY, &nid) != FALSE;
}

Image CaptureScreen(const RECT& rect) {
    Image image;
    image.width = rect.right - rect.left;
    image.height = rect.bottom - rect.top;
    if (image.width <= 0 || image.height <= 0) return {};
    HDC hScreen = GetDC(nullptr);
    HDC hMemory = CreateCompatibleDC(hScreen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = image.width;
    info.bmiHeader.biHeight = -image.height;  // rows from the top
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP hBitmap = CreateDIBSection(hScreen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (hBitmap != nullptr && bits != nullptr) {
        HGDIOBJ hOld = SelectObject(hMemory, hBitmap);
        BitBlt(hMemory, 0, 0, image.width, image.height, hScreen, rect.left, rect.top, SRCCOPY | CAPTUREBLT);
        GdiFlush();
        const auto* pixels = static_cast<const std::uint32_t*>(bits);
        image.pixels.assign(pixels, pixels + static_cast<std::size_t>(image.width) * image.height);
        for (auto& p : image.pixels) p &= 0xFFFFFF;
        SelectObject(hMemory, hOld);
    }
    if (hBitmap != nullptr) DeleteObject(hBitmap);
    DeleteDC(hMemory);
    ReleaseDC(nullptr, hScreen);
    return image;
}

Image LoadBmp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') return {};
    auto u32 = [&](std::size_t at) {
        std::uint32_t v;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    };
    auto u16 = [&](std::size_t at) {
        std::uint16_t v;
        std::memcpy(&v, bytes.data() + at, 2);
        return v;
    };
    const std::uint32_t offset = u32(10);
    const auto width = static_cast<std::int32_t>(u32(18));
    const auto height = static_cast<std::int32_t>(u32(22));
    if (u16(28) != 24 || u32(30) != 0 || width <= 0 || height == 0) return {};
    const bool bottomUp = height > 0;
    Image image;
    image.width = width;
    image.height = bottomUp ? height : -height;
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
    if (bytes.size() < offset + stride * image.height) return {};
    image.pixels.resize(static_cast<std::size_t>(image.width) * image.height);
    for (int y = 0; y < image.height; ++y) {
        const std::size_t row = offset + stride * static_cast<std::size_t>(bottomUp ? image.height - 1 - y : y);
        for (int x = 0; x < image.width; ++x) {
            const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + row + 3 * static_cast<std::size_t>(x));
            image.pixels[static_cast<std::size_t>(y) * image.width + x] =
                static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[0];
        }
    }
    return image;
}

bool SaveBmp(const Image& image, const std::string& path) {
    if (image.Empty()) return false;
    const std::size_t stride = (static_cast<std::size_t>(image.width) * 3 + 3) / 4 * 4;
    const std::size_t dataSize = stride * image.height;
    std::string bytes(54 + dataSize, '\0');
    auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(bytes.data() + at, &v, 4); };
    auto put16 = [&](std::size_t at, std::uint16_t v) { std::memcpy(bytes.data() + at, &v, 2); };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(2, static_cast<std::uint32_t>(bytes.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(image.width));
    put32(22, static_cast<std::uint32_t>(image.height));
    put16(26, 1);
    put16(28, 24);
    put32(34, static_cast<std::uint32_t>(dataSize));
    for (int y = 0; y < image.height; ++y) {
        const std::size_t row = 54 + stride * static_cast<std::size_t>(image.height - 1 - y);
        for (int x = 0; x < image.width; ++x) {
            const std::uint32_t p = image.At(x, y);
            bytes[row + 3 * static_cast<std::size_t>(x)] = static_cast<char>(p & 0xFF);
            bytes[row + 3 * static_cast<std::size_t>(x) + 1] = static_cast<char>(p >> 8 & 0xFF);
            bytes[row + 3 * static_cast<std::size_t>(x) + 2] = static_cast<char>(p >> 16 & 0xFF);
        }
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

int DifferingPixels(const Image& a, const Image& b) {
    if (a.width != b.width || a.height != b.height) return -1;
    int n = 0;
    for (std::size_t i = 0; i < a.pixels.size(); ++i)
        if (a.pixels[i] != b.pixels[i]) ++n;
    return n;
}

std::string UnixPath(const std::string& windowsPath) {
    using ToUnix = char*(CDECL*)(LPCWSTR);
    const auto toUnix =
        reinterpret_cast<ToUnix>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
    if (toUnix == nullptr) return {};
    wchar_t wide[MAX_PATH * 2] = {};
    MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH * 2);
    char* unix = toUnix(wide);
    if (unix == nullptr) return {};
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

bool RunUnixCommand(const std::string& shellCommand, const std::string& doneFile, std::chrono::milliseconds timeout) {
    DeleteFileA(doneFile.c_str());
    const std::string done = UnixPath(doneFile);
    if (done.empty()) return false;
    std::string commandLine = "/bin/sh -c \"" + shellCommand + "; touch '" + done + "'\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Wine starts a Unix program in its own way: no process handle comes back.
    if (!CreateProcessA("Z:\\bin\\sh", commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    if (process.hThread != nullptr) CloseHandle(process.hThread);
    if (process.hProcess != nullptr) CloseHandle(process.hProcess);
    return WaitUntil([&] { return GetFileAttributesA(doneFile.c_str()) != INVALID_FILE_ATTRIBUTES; }, timeout);
}

}  // namespace kivo::test
