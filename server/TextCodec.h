// Small byte-level text helpers: percent decoding and hex encoding.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kivo::server {

// Decodes %XX escapes (exactly two hex digits). A '%' that is not followed by
// two hex digits stays literal; '+' is never turned into a space.
std::string PercentDecode(std::string_view text);

// Lower-case hex, two digits per byte.
std::string HexEncode(std::string_view bytes);

// Inverse of HexEncode (either case). Empty optional on odd length or a non-hex digit.
std::optional<std::string> HexDecode(std::string_view hex);

}  // namespace kivo::server
