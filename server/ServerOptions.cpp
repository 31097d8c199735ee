#include "ServerOptions.h"

#include <charconv>

#ifndef KIVO_SERVER_DEFAULT_DATA_DIR
#define KIVO_SERVER_DEFAULT_DATA_DIR "data"
#endif

namespace kivo::server {
namespace {

template <typename Int>
Int ParseNumber(const std::string& option, const std::string& text, Int min, Int max) {
    Int value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < min || value > max) {
        throw UsageError(option + " expects a number from " + std::to_string(min) + " to " + std::to_string(max) +
                         ", got '" + text + "'");
    }
    return value;
}

// "HOST:PORT", "[V6]:PORT".
void ParseHostPort(const std::string& option, const std::string& text, std::string& host, int& port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) throw UsageError(option + " expects HOST:PORT, got '" + text + "'");
    host = text.substr(0, colon);
    if (host.front() == '[') {
        if (host.size() < 3 || host.back() != ']' || host.find_first_of("[]", 1) != host.size() - 1)
            throw UsageError(option + " expects [ADDRESS]:PORT, got '" + text + "'");
        host = host.substr(1, host.size() - 2);
    } else if (host.find_first_of(":[]") != std::string::npos) {
        throw UsageError(option + " needs an IPv6 address in brackets, got '" + text + "'");
    }
    port = ParseNumber<int>(option, text.substr(colon + 1), 0, 65535);
}

}  // namespace

const char* ServerOptions::Usage() {
    return "usage: kivo-server [--host ADDR] [--port N] [--data DIR] [--db FILE|postgresql://...]\n"
           "                   [--version N] [--update-file PATH] [--update-file-for PLATFORM=PATH]...\n"
           "                   [--access-log FILE] [--metrics HOST:PORT] [--export-to DIR]\n"
           "       kivo-server export DIR [--data DIR] [--version N] [--update-file PATH]\n"
           "                   [--update-file-for PLATFORM=PATH]...\n"
           "       kivo-server import [--data DIR] [--db FILE|postgresql://...]\n"
           "       kivo-server status [--data DIR] [--db FILE|postgresql://...]\n"
           "       kivo-server sign --key PRIVATE.pem FILE\n";
}

ServerOptions ServerOptions::Parse(const std::vector<std::string>& args) {
    ServerOptions options;
    options.dataDir = KIVO_SERVER_DEFAULT_DATA_DIR;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option.rfind("--", 0) != 0) throw UsageError("unexpected argument '" + option + "'");
        if (i + 1 >= args.size()) throw UsageError(option + " needs a value");
        const std::string& value = args[++i];
        if (option == "--host") {
            if (value.empty()) throw UsageError("--host needs an address");
            options.host = value;
        } else if (option == "--port") {
            options.port = ParseNumber<int>(option, value, 0, 65535);
        } else if (option == "--data") {
            if (value.empty()) throw UsageError("--data needs a folder");
            options.dataDir = value;
        } else if (option == "--db") {
            if (value.empty()) throw UsageError("--db needs a file name or a postgresql:// URI");
            options.db = value;
        } else if (option == "--version") {
            options.version = ParseNumber<std::uint64_t>(option, value, 0, UINT64_MAX);
        } else if (option == "--update-file") {
            options.updateFiles[""] = value;
        } else if (option == "--update-file-for") {
            const std::size_t equals = value.find('=');
            if (equals == std::string::npos || !Release::ValidPlatform(value.substr(0, equals)))
                throw UsageError("--update-file-for needs PLATFORM=PATH (PLATFORM: letters, digits, '_', '-')");
            options.updateFiles[value.substr(0, equals)] = value.substr(equals + 1);
        } else if (option == "--access-log") {
            if (value.empty()) throw UsageError("--access-log needs a file name");
            options.accessLog = value;
        } else if (option == "--metrics") {
            ParseHostPort(option, value, options.metricsHost, options.metricsPort);
        } else if (option == "--export-to") {
            if (value.empty()) throw UsageError("--export-to needs a folder");
            options.exportTo = value;
        } else {
            throw UsageError("unknown option '" + option + "'");
        }
    }
    return options;
}

}  // namespace kivo::server
