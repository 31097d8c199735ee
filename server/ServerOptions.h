// Command line of kivo-server (and of the test server, which adds its control
// port).
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "Content.h"

namespace kivo::server {

struct ServerOptions {
    std::string host = "127.0.0.1";
    int port = 8123;                    // 0 = ephemeral
    std::string dataDir;                // defaults to the source tree's server/data
    std::string db = "./kivo-mail.db";  // a SQLite file, or a postgresql:// URI
    std::uint64_t version = 1000;
    // Installers by platform: "" (--update-file) for /update/update.exe, and
    // --update-file-for PLATFORM=PATH for /update/PLATFORM/update.
    std::map<std::string, std::string> updateFiles;
    std::string accessLog;    // --access-log FILE; empty: none
    std::string metricsHost;  // --metrics HOST:PORT; empty: no metrics listener
    int metricsPort = 0;
    std::string exportTo;  // --export-to DIR; empty: no exported tree

    // The release these options publish (when the data folder has no release.txt).
    Release ToRelease() const { return Release{version, updateFiles}; }

    // Throws UsageError on unknown options or bad values.
    static ServerOptions Parse(const std::vector<std::string>& args);
    static const char* Usage();
};

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace kivo::server
