// The guard is a named mutex. Its name has no "Global\" prefix, so it holds
// within one login session, and its handle is never closed: the system
// releases the mutex when the process ends, also after a crash.
#include <windows.h>

#include "platform/InstanceGuard.h"

namespace kivo::platform {

GuardResult AcquireInstanceGuard(const char* name) {
    // Default security, initial ownership requested.
    HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
    // Read at once: nothing may run between the call and the error read.
    const DWORD error = GetLastError();
    if (mutex == nullptr) return GuardResult::Unavailable;
    if (error == ERROR_ALREADY_EXISTS) {
        // Opened another copy's mutex without owning it; this copy ends now.
        CloseHandle(mutex);
        return GuardResult::AlreadyRunning;
    }
    return GuardResult::Acquired;
}

}  // namespace kivo::platform
