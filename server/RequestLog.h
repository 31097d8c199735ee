// Raw request targets seen on the public port, in arrival order.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace kivo::server {

class RequestLog {
public:
    void Add(std::string target);
    std::vector<std::string> Snapshot() const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> targets_;
};

}  // namespace kivo::server
