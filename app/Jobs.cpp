#include "app/Jobs.h"

#include <system_error>
#include <thread>

void CThreadJobs::Start(unsigned (*entry)(void*)) {
    try {
        std::thread(entry, static_cast<void*>(&m_context)).detach();
    } catch (const std::system_error&) {
        // No thread: the job is skipped until its timer fires again.
    }
}
