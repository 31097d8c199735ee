#include "platform/System.h"
#include "platform/linux/Folders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <pwd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

extern char** environ;

namespace kivo::platform {

char PathSeparator() { return '/'; }

std::string ExecutablePath() {
    // readlink does not say whether it cut the name: grow until it fits.
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
        if (buffer.size() >= (1u << 20)) return {};
        buffer.resize(buffer.size() * 2);
    }
}

bool CanCreateFileIn(const std::string& dir) {
    const std::string probe = dir + ".kivo-probe-" + std::to_string(::getpid());
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

namespace {

// An absolute folder from the environment, or `fallback` under the home.
std::string XdgHome(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/') return value;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        const passwd* user = ::getpwuid(::getuid());
        if (user == nullptr || user->pw_dir == nullptr) return {};
        home = user->pw_dir;
    }
    return std::string(home) + "/" + fallback;
}

}  // namespace

bool MakeFolders(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash))) return false;
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string RuntimeFile(const char* name, const char* suffix) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') return std::string(runtime) + "/" + name + suffix;
    const char* tmp = std::getenv("TMPDIR");
    const std::string dir = (tmp != nullptr && tmp[0] == '/') ? tmp : "/tmp";
    return dir + "/" + name + "-" + std::to_string(::getuid()) + suffix;
}

std::string XdgConfigHome() { return XdgHome("XDG_CONFIG_HOME", ".config"); }
std::string XdgCacheHome() { return XdgHome("XDG_CACHE_HOME", ".cache"); }

std::string UserFolderPath(UserFolder kind) {
    const std::string base = kind == UserFolder::Settings ? XdgConfigHome() : XdgCacheHome();
    if (base.empty() || !MakeFolders(base + "/kivo")) return {};
    return base + "/kivo/";
}

const char* UpdatePlatform() {
#if defined(__x86_64__)
    return "linux-x86_64";
#elif defined(__aarch64__)
    return "linux-aarch64";
#elif defined(__i386__)
    return "linux-i686";
#endif
}

bool IsStartableProgram(const std::string& path) {
    unsigned char head[20] = {};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    if (got >= 2 && head[0] == '#' && head[1] == '!') return true;
    if (got < sizeof head || std::memcmp(head,
                                         "\x7F"
                                         "ELF",
                                         4) != 0)
        return false;
#if defined(__x86_64__)
    const unsigned kMachine = 62, kClass = 2;  // EM_X86_64, ELFCLASS64
#elif defined(__aarch64__)
    const unsigned kMachine = 183, kClass = 2;  // EM_AARCH64
#elif defined(__i386__)
    const unsigned kMachine = 3, kClass = 1;  // EM_386, ELFCLASS32
#else
#error "the ELF machine of this architecture is not known"
#endif
    // e_ident: class at 4, data (1: little-endian) at 5; e_machine at 18.
    const unsigned machine = head[18] | head[19] << 8;
    return head[4] == kClass && head[5] == 1 && machine == kMachine;
}

bool IsReadableFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ::close(fd);
    return regular;
}

bool MakeDir(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool RenameOver(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

bool SyncFile(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
    return ::fsync(::fileno(file)) == 0;
}

long long FileLength(std::FILE* file) {
    struct stat st {};
    if (::fstat(::fileno(file), &st) != 0) return -1;
    return static_cast<long long>(st.st_size);
}

bool MakeExecutable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    const mode_t exec = (st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH)) >> 2;
    return ::chmod(path.c_str(), st.st_mode | exec | S_IXUSR) == 0;
}

bool StartProgram(const std::string& path) {
    // Double fork: the program is re-parented to init, so nobody has to wait
    // for it, and a pipe closed on exec tells whether the exec succeeded.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return false;
    char* const argv[] = {const_cast<char*>(path.c_str()), nullptr};
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ::execve(path.c_str(), argv, environ);
            const int error = errno;
            (void)!::write(report[1], &error, sizeof error);
            ::_exit(127);
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t n;
    do {
        n = ::read(report[0], &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    const bool forked = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return forked && n == 0;
}

bool StartDetachedThread(std::function<void()> work) {
    try {
        std::thread(std::move(work)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace kivo::platform
