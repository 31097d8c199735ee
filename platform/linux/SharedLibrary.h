#pragma once
// Shared libraries the program loads when it first needs them rather than at
// start: opened for good, their functions looked up by name.
#include <dlfcn.h>

namespace kivo::platform {

// The library named `soname`, kept for the process's life; null when it
// cannot be loaded.
inline void* OpenLibrary(const char* soname) { return ::dlopen(soname, RTLD_NOW | RTLD_LOCAL); }

// Function `name` of `library` into `function`; false when it has none.
template <typename Function>
bool Bind(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(library, name));
    return function != nullptr;
}

}  // namespace kivo::platform
