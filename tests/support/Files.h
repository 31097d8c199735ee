#pragma once
// Small helpers of the tests: files and the environment.
#include <optional>
#include <string>

namespace kivo::test {

// The whole file, or nothing when it cannot be read. On Windows the file is
// opened with every sharing mode, so that a replacement the program makes
// meanwhile is not refused because of the test.
std::optional<std::string> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
// The variable's value; empty when it is not set.
std::string Env(const char* name);
// How often `part` occurs in `text`.
int Count(const std::string& text, const std::string& part);
#ifndef _WIN32
// Number of open descriptors of this process.
int OpenDescriptorCount();
#endif

}  // namespace kivo::test
