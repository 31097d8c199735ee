#include "net/VersionAnswer.h"

#include <climits>
#include <cstring>

namespace kivo::net {

namespace {
constexpr char kTag[] = "version:";
constexpr std::size_t kTagLength = sizeof kTag - 1;

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
}  // namespace

int ReadVersionNumber(const char* text) {
    while (IsSpace(*text)) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    long long value = 0;  // magnitude, held below INT_MAX + 1
    for (; *text >= '0' && *text <= '9'; ++text) {
        if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (*text - '0');
    }
    if (negative) return value > static_cast<long long>(INT_MAX) ? INT_MIN : static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

bool AnnouncesNewerVersion(const char* answer, std::size_t length, int currentVersion) {
    if (length <= kTagLength || length >= 30) return false;
    const char* tag = std::strstr(answer, kTag);
    if (tag == nullptr || tag[kTagLength] == '\0') return false;
    return ReadVersionNumber(tag + kTagLength) > currentVersion;
}

}  // namespace kivo::net
