#include "platform/WireUrl.h"

#include <cstring>

namespace kivo::platform {

namespace {
bool NeedsEscape(unsigned char c) { return c <= 0x20 || c >= 0x7F || std::strchr("\"#%<>\\^`{|}", c) != nullptr; }
}  // namespace

std::string WireUrl(const char* url) {
    std::string out;
    const char* p = url;
    const char* scheme = std::strstr(url, "://");
    if (scheme != nullptr) {
        p = scheme + 3;
        while (*p != '\0' && *p != '/' && *p != '?') ++p;
        out.assign(url, p);
    }
    static const char hex[] = "0123456789ABCDEF";
    for (; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (NeedsEscape(c)) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace kivo::platform
