#include "tests/support/TempDir.h"

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace kivo::test {

TempDir::TempDir(std::string_view prefix) {
    // Named by the process and a counter; a name left by an ended process is
    // passed over.
    static std::atomic<unsigned> s_counter{0};
#ifdef _WIN32
    const int pid = _getpid();
#else
    const int pid = static_cast<int>(::getpid());
#endif
    const std::filesystem::path base = std::filesystem::absolute(std::filesystem::temp_directory_path());
    std::error_code error;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const auto candidate =
            base / (std::string(prefix) + "-" + std::to_string(pid) + "-" + std::to_string(s_counter++));
        if (!std::filesystem::create_directory(candidate, error)) continue;
        std::filesystem::permissions(candidate, std::filesystem::perms::owner_all, error);  // as mkdtemp makes it
        path_ = candidate.string();
    }
    if (path_.empty()) throw std::runtime_error("cannot create a temporary folder in " + base.string());
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace kivo::test
