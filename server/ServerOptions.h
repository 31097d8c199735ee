// Command line of kivo-server.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kivo::server {

struct ServerOptions {
    std::string host = "127.0.0.1";
    int port = 8123;                    // 0 = ephemeral
    std::optional<int> controlPort;     // absent = no control listener; 0 = ephemeral
    std::string dataDir;                // defaults to the source tree's server/data
    std::string db = "./kivo-mail.db";
    std::uint64_t version = 1000;
    // Installers by platform: "" (--update-file) for /update/update.exe, and
    // --update-file-for PLATFORM=PATH for /update/PLATFORM/update.
    std::map<std::string, std::string> updateFiles;

    // Throws UsageError on unknown options or bad values.
    static ServerOptions Parse(const std::vector<std::string>& args);
    static const char* Usage();
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace kivo::server
