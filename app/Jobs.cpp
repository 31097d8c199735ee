#include "app/Jobs.h"

#include <system_error>
#include <thread>

bool StartJob(unsigned (*entry)(void*), CConfig* config) {
    try {
        std::thread(entry, static_cast<void*>(config)).detach();
        return true;
    } catch (const std::system_error&) {
        // No thread: the job is skipped until its timer fires again.
        return false;
    }
}
