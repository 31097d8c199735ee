#include "net/ServerAddress.h"

#include <cctype>
#include <cstdlib>

#include "platform/System.h"

#ifndef KIVO_DEFAULT_SERVER
#define KIVO_DEFAULT_SERVER "hot.kivo.cn"
#endif

namespace kivo::net {

namespace {
bool IsPort(std::string_view s) {
    if (s.empty() || s.size() > 5) return false;
    long value = 0;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + (c - '0');
    }
    return value >= 1 && value <= 65535;
}
}  // namespace

bool IsValidServerHost(std::string_view host) {
    if (host.empty() || host.size() > 255) return false;
    std::string_view name = host;
    if (host.front() == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos || close < 2) return false;
        for (char c : host.substr(1, close - 1))
            if (!std::isxdigit(static_cast<unsigned char>(c)) && c != ':' && c != '.') return false;
        const std::string_view rest = host.substr(close + 1);
        return rest.empty() || (rest.front() == ':' && IsPort(rest.substr(1)));
    }
    const std::size_t colon = host.find(':');
    if (colon != std::string_view::npos) {
        if (!IsPort(host.substr(colon + 1))) return false;
        name = host.substr(0, colon);
    }
    if (name.empty() || name.front() == '.' || name.front() == '-') return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') return false;
    return true;
}

std::string ServerAddress() {
    const char* overridden = std::getenv("KIVO_SERVER");
    if (overridden != nullptr && IsValidServerHost(overridden)) return std::string("http://") + overridden;
    return "http://" KIVO_DEFAULT_SERVER;
}

std::string VersionPath() {
    const std::string platform = platform::UpdatePlatform();
    return platform.empty() ? "/kivoversion.php" : "/kivoversion.php?platform=" + platform;
}

std::string InstallerPath() {
    const std::string platform = platform::UpdatePlatform();
    return platform.empty() ? "/update/update.exe" : "/update/" + platform + "/update";
}

}  // namespace kivo::net
