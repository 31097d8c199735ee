// The published version number and the file offered as the update download.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace kivo::server {

class ReleaseState {
public:
    ReleaseState(std::uint64_t version, std::string updateFile);

    std::uint64_t Version() const;
    void SetVersion(std::uint64_t version);

    // Empty means no update file is offered.
    std::string UpdateFile() const;
    void SetUpdateFile(std::string path);

    // Back to the values given at construction.
    void Reset();

private:
    const std::uint64_t initialVersion_;
    const std::string initialUpdateFile_;
    mutable std::mutex mutex_;
    std::uint64_t version_;
    std::string updateFile_;
};

}  // namespace kivo::server
