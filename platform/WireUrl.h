#pragma once
// The bytes of a URL as an HTTP backend sends them. The program never
// escapes its URLs; the backends percent-encode the bytes of the path and
// query that cannot stand raw in an HTTP request target (controls, space,
// '#', '%', '"', '<', '>', '\', '^', '`', '{', '|', '}' and bytes >= 0x80),
// so the server decodes exactly the bytes the program gave. Scheme and
// authority stay unchanged. The result is pure ASCII.
#include <string>

namespace kivo::platform {

std::string WireUrl(const char* url);

}  // namespace kivo::platform
