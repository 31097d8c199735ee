#pragma once
// Small file helpers for the tests.
#include <optional>
#include <string>

namespace kivo::test {

// The whole file, or nothing when it cannot be read. On Windows the file is
// opened with every sharing mode, so that a replacement the program makes
// meanwhile is not refused because of the test.
std::optional<std::string> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
// Number of open descriptors (on Windows: kernel handles) of this process.
int OpenDescriptorCount();

}  // namespace kivo::test
