#include "ReleaseState.h"

namespace kivo::server {

ReleaseState::ReleaseState(std::uint64_t version, std::string updateFile)
    : initialVersion_(version),
      initialUpdateFile_(updateFile),
      version_(version),
      updateFile_(std::move(updateFile)) {}

std::uint64_t ReleaseState::Version() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return version_;
}

void ReleaseState::SetVersion(std::uint64_t version) {
    std::lock_guard<std::mutex> lock(mutex_);
    version_ = version;
}

std::string ReleaseState::UpdateFile() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return updateFile_;
}

void ReleaseState::SetUpdateFile(std::string path) {
    std::lock_guard<std::mutex> lock(mutex_);
    updateFile_ = std::move(path);
}

void ReleaseState::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    version_ = initialVersion_;
    updateFile_ = initialUpdateFile_;
}

}  // namespace kivo::server
