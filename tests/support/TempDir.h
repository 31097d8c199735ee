// A fresh directory in the temporary folder ($TMPDIR or /tmp; on Windows the
// user's), removed with its contents on destruction.
#pragma once

#include <string>
#include <string_view>

namespace kivo::test {

class TempDir {
public:
#ifdef _WIN32
    static constexpr char kSeparator = '\\';
#else
    static constexpr char kSeparator = '/';
#endif

    // Throws std::runtime_error when no directory can be made.
    explicit TempDir(std::string_view prefix = "kivo-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Absolute path of the directory, without a trailing separator.
    const std::string& Path() const { return path_; }
    // Path of `name` inside the directory (nothing is created).
    std::string File(std::string_view name) const { return path_ + kSeparator + std::string(name); }

private:
    std::string path_;
};

}  // namespace kivo::test
