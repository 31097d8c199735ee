#include "RequestLog.h"

namespace kivo::server {

void RequestLog::Add(std::string target) {
    std::lock_guard<std::mutex> lock(mutex_);
    targets_.push_back(std::move(target));
}

std::vector<std::string> RequestLog::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return targets_;
}

void RequestLog::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    targets_.clear();
}

}  // namespace kivo::server
