// Operating-system services over the Win32 "A" functions: every path is a
// byte string in the system code page and reaches the system unchanged.
#include <windows.h>

#include <io.h>

#include <string>
#include <vector>

#include "platform/System.h"

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
        const bool busy = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
                          error == ERROR_LOCK_VIOLATION;
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
    // The program is named by its bare path as the application name, so no
    // search and no splitting at spaces takes place, and no shell is involved.
    // Its command line, which it reads its own name from, is the same path,
    // quoted when it holds a space or a tab, so that it parses as one word.
    const bool quote = path.find_first_of(" \t") != std::string::npos;
    std::string commandLine = quote ? "\"" + path + "\"" : path;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return false;
    // Nobody waits for the program.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

}  // namespace kivo::platform
