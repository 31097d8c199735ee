#include "platform/InstanceGuard.h"

#include "platform/linux/Folders.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace kivo::platform {

GuardResult AcquireInstanceGuard(const char* name) {
    const std::string path = RuntimeFile(name, ".lock");
    // O_NOFOLLOW: a link planted in a shared temp folder is not followed.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return GuardResult::Unavailable;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
        ::close(fd);
        return GuardResult::Unavailable;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return held ? GuardResult::AlreadyRunning : GuardResult::Unavailable;
    }
    // The descriptor stays open, and the lock held, until the process ends.
    return GuardResult::Acquired;
}

}  // namespace kivo::platform
