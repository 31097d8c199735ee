#include "FaultTable.h"

namespace kivo::server {

void FaultTable::Set(const std::string& path, Fault fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_[path] = std::move(fault);
}

std::optional<Fault> FaultTable::Find(const std::string& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = faults_.find(path);
    if (it == faults_.end()) return std::nullopt;
    return it->second;
}

bool FaultTable::Clear(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_.erase(path) > 0;
}

void FaultTable::ClearAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

}  // namespace kivo::server
