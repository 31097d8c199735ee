// Injected misbehaviour for public paths, set through the control port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace kivo::server {

enum class FaultMode {
    Size,    // 200 with `size` pattern bytes
    Status,  // status `code` with `size` pattern bytes
    Cut,     // announces `size` bytes, sends size/2, then drops the connection
    Stall,   // silent for `ms`, then the normal answer
    Slow,    // 200 with `size` pattern bytes spread over `ms`
    Body,    // 200 with exactly `body`
};

struct Fault {
    FaultMode mode = FaultMode::Size;
    std::size_t size = 0;
    int code = 200;
    std::uint32_t ms = 0;
    std::string body;
};

class FaultTable {
public:
    void Set(const std::string& path, Fault fault);
    std::optional<Fault> Find(const std::string& path) const;
    bool Clear(const std::string& path);
    void ClearAll();

private:
    mutable std::mutex mutex_;
    std::map<std::string, Fault> faults_;
};

}  // namespace kivo::server
