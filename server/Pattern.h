// Deterministic filler bytes used for every generated response body.
// Tests include this header to check that downloads are byte-identical.
#pragma once

#include <cstddef>
#include <string>

namespace kivo::server {

// Byte number i of the endless pattern stream.
inline unsigned char PatternByte(std::size_t i) { return static_cast<unsigned char>((i * 131u + 7u) & 0xFFu); }

// Bytes [offset, offset + count) of the pattern stream.
inline std::string PatternBytes(std::size_t count, std::size_t offset = 0) {
    std::string out;
    out.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = static_cast<char>(PatternByte(offset + i));
    }
    return out;
}

}  // namespace kivo::server
