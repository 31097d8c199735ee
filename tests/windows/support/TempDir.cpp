// TempDir on Windows: a fresh folder in the user's temporary folder.
#include "tests/support/TempDir.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace kivo::test {

TempDir::TempDir(std::string_view prefix) {
    static std::atomic<unsigned> s_counter{0};
    char base[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathA(sizeof base, base);
    if (n == 0 || n > MAX_PATH) throw std::runtime_error("GetTempPathA failed");
    std::string dir(base, n);  // ends with a backslash
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = dir + std::string(prefix) + "-" + std::to_string(GetCurrentProcessId()) +
                                      "-" + std::to_string(s_counter++);
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    throw std::runtime_error("cannot create a temporary folder in " + dir);
}

TempDir::~TempDir() { Remove(); }

TempDir::TempDir(TempDir&& other) noexcept : path_(std::move(other.path_)) { other.path_.clear(); }

TempDir& TempDir::operator=(TempDir&& other) noexcept {
    if (this != &other) {
        Remove();
        path_ = std::move(other.path_);
        other.path_.clear();
    }
    return *this;
}

void TempDir::Remove() noexcept {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    path_.clear();
}

}  // namespace kivo::test
