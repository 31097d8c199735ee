#pragma once
// Small file helpers for the tests.
#include <optional>
#include <string>

namespace kivo::test {

// The whole file, or nothing when it cannot be read.
std::optional<std::string> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
// Number of open descriptors of this process.
int OpenDescriptorCount();

}  // namespace kivo::test
