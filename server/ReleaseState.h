// The published version number and the installer offered to each platform.
// The platform "" is the Windows build, which asks the original addresses.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace kivo::server {

class ReleaseState {
public:
    // Installer files by platform.
    using Files = std::map<std::string, std::string>;
    ReleaseState(std::uint64_t version, Files updateFiles);

    std::uint64_t Version() const;
    void SetVersion(std::uint64_t version);
    // The version answered to `platform`: the published one for Windows, and
    // for another platform the published one only while it has an installer
    // (0 otherwise, so that it never looks for one).
    std::uint64_t VersionFor(const std::string& platform) const;

    // Empty means no installer is offered to that platform.
    std::string UpdateFile(const std::string& platform) const;
    void SetUpdateFile(const std::string& platform, std::string path);

    // Back to the values given at construction.
    void Reset();

private:
    const std::uint64_t initialVersion_;
    const Files initialFiles_;
    mutable std::mutex mutex_;
    std::uint64_t version_;
    Files files_;
};

}  // namespace kivo::server
