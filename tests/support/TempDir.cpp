#include "tests/support/TempDir.h"

#ifdef _WIN32
#include <windows.h>

#include <atomic>
#else
#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <vector>
#endif

#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace kivo::test {

TempDir::TempDir(std::string_view prefix) {
#ifdef _WIN32
    // Named by the process and a counter.
    static std::atomic<unsigned> s_counter{0};
    char base[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathA(sizeof base, base);
    if (n == 0 || n > MAX_PATH) throw std::runtime_error("GetTempPathA failed");
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const std::string candidate = std::string(base, n) + std::string(prefix) + "-" +
                                      std::to_string(GetCurrentProcessId()) + "-" + std::to_string(s_counter++);
        if (CreateDirectoryA(candidate.c_str(), nullptr)) path_ = candidate;
        else if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    if (path_.empty()) throw std::runtime_error("cannot create a temporary folder in " + std::string(base, n));
#else
    const char* base = std::getenv("TMPDIR");
    std::string pattern = (base != nullptr && *base != '\0') ? base : "/tmp";
    pattern += "/";
    pattern += prefix;
    pattern += "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("mkdtemp(" + pattern + ") failed: " + std::strerror(errno));
    }
    path_ = std::filesystem::absolute(buffer.data()).string();
#endif
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
