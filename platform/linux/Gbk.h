#pragma once
// Conversions at the boundary to the Linux toolkit, which speaks UTF-8,
// while the program holds every text as GBK bytes.
#include <optional>
#include <string>
#include <string_view>

namespace kivo::platform {

// GBK bytes as UTF-8; a byte sequence that is not GBK comes out as U+FFFD.
std::string GbkToUtf8(std::string_view gbk);

// UTF-8 text as GBK bytes; nothing when the text is not valid UTF-8 or holds
// a character GBK cannot represent.
std::optional<std::string> Utf8ToGbk(std::string_view utf8);

}  // namespace kivo::platform
