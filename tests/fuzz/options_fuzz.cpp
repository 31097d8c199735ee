// The command line, arguments separated by NUL bytes: options within their
// ranges, or a usage error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "server/ServerOptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.emplace_back();
        } else {
            args.back() += static_cast<char>(data[i]);
        }
    }
    try {
        const auto options = kivo::server::ServerOptions::Parse(args);
        if (options.port < 0 || options.port > 65535 || options.metricsPort < 0 || options.metricsPort > 65535)
            std::abort();
        if (options.host.empty() || options.dataDir.empty() || options.db.empty()) std::abort();
        if (!options.metricsHost.empty() && options.metricsHost.front() == '[') std::abort();
        for (const auto& [platform, path] : options.updateFiles) {
            if (!platform.empty() && !kivo::server::Release::ValidPlatform(platform)) std::abort();
        }
    } catch (const kivo::server::UsageError&) {
    }
    return 0;
}
