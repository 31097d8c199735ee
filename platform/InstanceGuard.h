#pragma once
// One running copy per login. The guard, once taken, is held until the
// process ends; the system releases it then, also after a crash.

namespace kivo::platform {

enum class GuardResult {
    Acquired,        // this process is the one copy
    AlreadyRunning,  // another copy holds the guard
    Unavailable,     // the guard could not be set up; start-up goes on
};

GuardResult AcquireInstanceGuard(const char* name);

}  // namespace kivo::platform
