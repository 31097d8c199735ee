#pragma once
// Judging the server's version answer: 9 to 29 bytes holding the tag
// "version:" followed by a decimal number.
#include <cstddef>

namespace kivo::net {

// The number after the tag: leading white space skipped, an optional sign,
// digits up to the first other byte, 0 without digits. A number outside the
// range of an int saturates at its end.
int ReadVersionNumber(const char* text);

// True when `answer` (`length` bytes, followed by a zero byte) announces a
// version greater than `currentVersion`.
bool AnnouncesNewerVersion(const char* answer, std::size_t length, int currentVersion);

}  // namespace kivo::net
