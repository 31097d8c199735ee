#pragma once
// Operating-system services used by the core. Every path is a byte string in
// the system code page, passed on unchanged.
#include <cstdio>
#include <functional>
#include <string>

namespace kivo::platform {

// '/' on Linux, '\\' on Windows.
char PathSeparator();

// Full path of the running executable; empty when it cannot be had.
std::string ExecutablePath();

// True when a new file can be created in the folder `dir` (which ends with
// the separator): found out by creating one and removing it again, since
// permission bits do not tell (root ignores them; read-only mounts do not).
bool CanCreateFileIn(const std::string& dir);

// What the user's own folder for the program holds.
enum class UserFolder {
    Settings,  // Linux: $XDG_CONFIG_HOME/kivo/ (~/.config/kivo/)
    Cache,     // Linux: $XDG_CACHE_HOME/kivo/ (~/.cache/kivo/)
};
// The user's own folder of that kind, with its separator, made when missing
// (Windows: %LOCALAPPDATA%\Kivo\ for both); empty when there is none.
std::string UserFolderPath(UserFolder kind);

// This build's platform as the content server names it in its update
// addresses ("linux-x86_64"); empty for the Windows build.
const char* UpdatePlatform();

// Whether the file at `path` is a program this system can start: Windows,
// a PE image ("MZ"); Linux, an ELF image of this machine's architecture or
// a script ("#!").
bool IsStartableProgram(const std::string& path);

// True when `path` names a regular file that can be opened for reading.
bool IsReadableFile(const std::string& path);

// Creates one folder; false when it cannot (an existing folder included).
bool MakeDir(const std::string& path);

// Deletes a file; false when there was none or it could not be deleted.
bool RemoveFile(const std::string& path);

// Moves `from` over `to` in one step, replacing `to` when it exists.
bool RenameOver(const std::string& from, const std::string& to);

// Flushes the stream and asks the system to put its data on the disk.
bool SyncFile(std::FILE* file);

// Length of an open file as the system sees it; -1 when unknown.
long long FileLength(std::FILE* file);

// Adds the execute permission wherever the read permission is set.
bool MakeExecutable(const std::string& path);

// Starts the program at `path` with no arguments, without a shell and without
// waiting for it. False when it could not be started.
bool StartProgram(const std::string& path);

// Runs `work` on a thread of its own that nobody waits for. False when no
// thread could be made (`work` is then dropped). On Windows the thread comes
// straight from the C runtime: a std::thread detached at once under
// mingw-w64's winpthreads now and then never runs.
bool StartDetachedThread(std::function<void()> work);

}  // namespace kivo::platform
