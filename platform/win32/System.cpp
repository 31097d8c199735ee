// Operating-system services over the Win32 "A" functions: every path is a
// byte string in the system code page and reaches the system unchanged.
#include <windows.h>
#include <shellapi.h>
#include <objbase.h>
#include <shlobj.h>

#include <io.h>
#include <process.h>

#include <cstdio>
#include <memory>

#include <string>
#include <vector>

#include "platform/System.h"
#include "platform/BrowserUrl.h"

namespace kivo::platform {

char PathSeparator() { return '\\'; }

std::string ExecutablePath() {
    // GetModuleFileNameA cuts a path that does not fit and then returns the
    // buffer's full size: grow until the answer is shorter than the buffer.
    // The longest path the system handles is 32767 UTF-16 units, at most two
    // bytes each in a double-byte code page.
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) return std::string(buffer.data(), n);
        if (buffer.size() >= 65536) return {};
        buffer.resize(buffer.size() * 2);
    }
}

bool CanCreateFileIn(const std::string& dir) {
    const std::string probe = dir + ".kivo-probe-" + std::to_string(GetCurrentProcessId());
    HANDLE file = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

std::string UserFolderPath(UserFolder) {
    // Settings and cache share the one folder under the local application data.
    char base[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, base)))
        return {};
    const std::string folder = std::string(base) + "\\Kivo";
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return {};
    return folder + "\\";
}

const char* UpdatePlatform() { return ""; }

bool IsStartableProgram(const std::string& path) {
    char head[2] = {};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    return got == 2 && head[0] == 'M' && head[1] == 'Z';
}

bool IsReadableFile(const std::string& path) {
    // Without FILE_FLAG_BACKUP_SEMANTICS a folder cannot be opened; a device
    // ("NUL", "COM1") can, but it is no file on the disk.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool regular = GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
                         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    CloseHandle(file);
    return regular;
}

bool MakeDir(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != 0; }

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool RenameOver(const std::string& from, const std::string& to) {
    // A file that another program holds open cannot be replaced. Readers
    // (the browser control showing a page) hold a file only briefly, so the
    // move is tried again for about 0.1 s before it counts as failed.
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
        const DWORD error = GetLastError();
        const bool busy =
            error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
        if (!busy || attempt >= 100) return false;
        Sleep(1);
    }
}

bool SyncFile(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
    // _commit hands the file's system buffers to FlushFileBuffers.
    return _commit(_fileno(file)) == 0;
}

long long FileLength(std::FILE* file) { return _filelengthi64(_fileno(file)); }

// Windows has no execute permission: any file can be started.
bool MakeExecutable(const std::string&) { return true; }

bool StartProgram(const std::string& path) {
    // Through the shell's "open", so that Windows can ask for the rights an
    // installer's manifest requires (CreateProcess fails with
    // ERROR_ELEVATION_REQUIRED there). The bare path names the file: no
    // arguments, and with SEE_MASK_FLAG_NO_UI no dialog of the shell's own.
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOCLOSEPROCESS;
    info.lpVerb = "open";
    info.lpFile = path.c_str();
    info.nShow = SW_SHOW;
    // The shell may hand the call to its extensions, which need COM on this
    // thread (the update job's worker included).
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const bool started = ShellExecuteExA(&info) != FALSE;
    if (SUCCEEDED(com)) CoUninitialize();
    // Nobody waits for the program.
    if (started && info.hProcess != nullptr) CloseHandle(info.hProcess);
    return started;
}

bool OpenInBrowser(const std::string& address) {
    // The URL itself is what the shell opens: its handler for the scheme, the
    // user's default browser, gets it. COM as for StartProgram.
    const std::string url = BrowserUrl(address);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const HINSTANCE result = ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWMAXIMIZED);
    if (SUCCEEDED(com)) CoUninitialize();
    return reinterpret_cast<INT_PTR>(result) > 32;
}

bool StartDetachedThread(std::function<void()> work) {
    auto owned = std::make_unique<std::function<void()>>(std::move(work));
    const auto run = [](void* argument) -> unsigned {
        const std::unique_ptr<std::function<void()>> job(static_cast<std::function<void()>*>(argument));
        (*job)();
        return 0;
    };
    const uintptr_t thread = _beginthreadex(nullptr, 0, run, owned.get(), 0, nullptr);
    if (thread == 0) return false;
    owned.release();  // the thread owns it now
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

}  // namespace kivo::platform
