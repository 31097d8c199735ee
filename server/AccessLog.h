// The access log: one line per answered request in the combined format that
// nginx writes and log analysers read:
//   ADDR - - [08/Dec/2026:20:45:38 +0000] "GET /sml/today.html HTTP/1.1" 200 5120 "REFERER" "AGENT"
// Lines are gathered in memory, each event loop in a buffer of its own, and
// written by a thread of their own at least once a second, so a request
// never waits for the disk or for another loop. A disk that
// fails or fills costs lines (counted), never an answer. Reopen() starts the
// file anew after logrotate has moved it away.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "HttpServer.h"

namespace kivo::server {

class AccessLog final : public RequestObserver {
public:
    // Lines of one thread waiting for the disk beyond this are dropped.
    static constexpr std::size_t kMaxPending = 8 * 1024 * 1024;

    // Opens `path` for appending (created 0640); throws std::runtime_error
    // when it cannot.
    explicit AccessLog(std::string path);
    // Writes what is pending.
    ~AccessLog() override;
    AccessLog(const AccessLog&) = delete;
    AccessLog& operator=(const AccessLog&) = delete;

    void Answered(const Exchange& exchange, unsigned status, std::uint64_t bodyBytes) override;

    // Appends one finished line (with its newline).
    void Add(std::string_view line);
    // Writes what is pending to the file open now, then opens the path
    // again; returns at once, the writer does it.
    void Reopen();
    // Writes what is pending now and waits for it.
    void Flush();
    // Lines lost to a full buffer or a failed write.
    std::uint64_t Dropped() const { return dropped_.load(std::memory_order_relaxed); }

    // The combined-format line of one request. Bytes outside printable
    // ASCII, '"' and '\' in the request line and headers are written \xHH.
    static void FormatLine(std::string& out, std::string_view address, std::time_t when, std::string_view method,
                           std::string_view target, std::string_view version, unsigned status, std::uint64_t bodyBytes,
                           std::string_view referer, std::string_view agent);

private:
    struct Shard {  // the lines of one thread
        std::mutex mutex;
        std::string text;
        std::size_t lines = 0;
    };
    Shard& ThreadShard();
    void Run();
    void WritePending(std::unique_lock<std::mutex>& lock);
    void OpenFile();

    const std::string path_;
    int fd_ = -1;        // only the writer thread touches these two after construction
    std::string batch_;  // what one write takes
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable written_;
    std::mutex shardsMutex_;
    std::vector<std::shared_ptr<Shard>> shards_;
    const std::uint64_t id_;         // tells a thread's shard of this log from one of an earlier log
    std::atomic<bool> full_{false};  // a shard is past kWriteAt
    std::uint64_t flushRequests_ = 0, flushesDone_ = 0;
    bool reopen_ = false;
    bool stopping_ = false;
    bool failing_ = false;  // the last write failed (reported once)
    std::atomic<std::uint64_t> dropped_{0};
    std::thread writer_;
};

}  // namespace kivo::server
