#include "ReleaseState.h"

namespace kivo::server {

ReleaseState::ReleaseState(std::uint64_t version, Files updateFiles)
    : initialVersion_(version), initialFiles_(updateFiles), version_(version), files_(std::move(updateFiles)) {}

std::uint64_t ReleaseState::Version() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return version_;
}

void ReleaseState::SetVersion(std::uint64_t version) {
    std::lock_guard<std::mutex> lock(mutex_);
    version_ = version;
}

std::uint64_t ReleaseState::VersionFor(const std::string& platform) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (platform.empty()) return version_;
    const auto file = files_.find(platform);
    return file != files_.end() && !file->second.empty() ? version_ : 0;
}

std::string ReleaseState::UpdateFile(const std::string& platform) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto file = files_.find(platform);
    return file != files_.end() ? file->second : std::string();
}

void ReleaseState::SetUpdateFile(const std::string& platform, std::string path) {
    std::lock_guard<std::mutex> lock(mutex_);
    files_[platform] = std::move(path);
}

void ReleaseState::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    version_ = initialVersion_;
    files_ = initialFiles_;
}

}  // namespace kivo::server
