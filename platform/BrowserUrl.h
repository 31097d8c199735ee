#pragma once
// What the program hands a web browser: one valid URL, whatever the bytes of
// the address it built (search words in the system code page, a page's link
// in the page's own bytes). Every byte a URL cannot carry raw is
// percent-encoded, so the server decodes exactly the bytes of the address.
#include <cstring>
#include <string>

namespace kivo::platform {

// `address` with these bytes percent-encoded: controls, space, bytes >= 0x7F,
// '"', '<', '>', '\', '^', '`', '{', '|', '}', every '#' after the first (a
// URL has one fragment) and every '%' that does not start an escape. What a
// URL may hold stays as it is: the address's own escapes, its query's '&'
// and '=', its fragment. The result is printable ASCII.
inline std::string BrowserUrl(const std::string& address) {
    static const char hex[] = "0123456789ABCDEF";
    const auto isHex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    std::string out;
    out.reserve(address.size());
    bool fragment = false;
    for (std::size_t i = 0; i < address.size(); ++i) {
        const char c = address[i];
        const auto byte = static_cast<unsigned char>(c);
        bool escape = byte <= 0x20 || byte >= 0x7F || (c != '\0' && std::strchr("\"<>\\^`{|}", c) != nullptr);
        if (c == '#') {
            escape = fragment;
            fragment = true;
        } else if (c == '%') {
            escape = i + 2 >= address.size() || !isHex(address[i + 1]) || !isHex(address[i + 2]);
        }
        if (escape) {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

#ifdef _WIN32
// Opens the address in the user's default browser: the shell's "open" on the
// URL, maximised, without waiting. False when the shell could not.
bool OpenInBrowser(const std::string& address);
#endif

}  // namespace kivo::platform
