#pragma once
// The few POSIX calls the portable test sources make, on the C library of
// Windows. Included ahead of each of those sources by the Windows build
// (-include), so that the sources themselves stay as they are.
#include <direct.h>
#include <stdlib.h>
#include <sys/stat.h>

// POSIX mkdir takes permission bits, which Windows folders do not have.
inline int mkdir(const char* path, int /*mode*/) { return ::_mkdir(path); }

inline int setenv(const char* name, const char* value, int overwrite) {
    if (overwrite == 0 && ::getenv(name) != nullptr) return 0;
    return ::_putenv_s(name, value) == 0 ? 0 : -1;
}

// An empty value removes the variable on Windows.
inline int unsetenv(const char* name) { return ::_putenv_s(name, "") == 0 ? 0 : -1; }
