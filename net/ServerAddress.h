#pragma once
// The content server: one host for every address of the program.
//
// The host is fixed when the program is built; the environment variable
// KIVO_SERVER ("host" or "host:port", e.g. 127.0.0.1:8123) replaces it for
// development and tests. A value that is not a plain host name, IPv4 or
// bracketed IPv6 address with an optional port is ignored.
#include <string>
#include <string_view>

namespace kivo::net {

// "http://" followed by the host, without a trailing slash.
std::string ServerAddress();

// The user agent of every request.
inline constexpr const char* kUserAgent = "VedaVU/1.0";

bool IsValidServerHost(std::string_view host);

// Paths of the version answer and of the installer for this build. The
// Windows build asks "/kivoversion.php" and "/update/update.exe"; another
// platform adds its name: "/kivoversion.php?platform=linux-x86_64" and
// "/update/linux-x86_64/update".
std::string VersionPath();
std::string InstallerPath();

}  // namespace kivo::net
