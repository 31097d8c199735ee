#include "AccessLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <iostream>
#include <stdexcept>

namespace kivo::server {
namespace {

constexpr auto kWriteEvery = std::chrono::milliseconds(500);
constexpr std::size_t kWriteAt = 64 * 1024;  // wake the writer early past this

// Bytes written as they are: printable ASCII but '"' and '\'.
constexpr auto kPlain = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x7f; ++c) plain[c] = c != '"' && c != '\\';
    return plain;
}();

// Each Put writes at `out` and returns the end; the caller has made room.
char* Put(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

char* PutEscaped(char* out, std::string_view text) {
    static const char digits[] = "0123456789ABCDEF";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (kPlain[byte]) {
            *out++ = c;
        } else {
            *out++ = '\\';
            *out++ = 'x';
            *out++ = digits[byte >> 4];
            *out++ = digits[byte & 15];
        }
    }
    return out;
}

// "-" for an empty field, as nginx writes it.
char* PutField(char* out, std::string_view text) {
    if (!text.empty()) return PutEscaped(out, text);
    *out = '-';
    return out + 1;
}

// "[08/Dec/2026:20:45:38 +0000]", made once per second and thread.
std::string_view LocalTime(std::time_t when) {
    thread_local std::time_t cachedAt = -1;
    thread_local char text[40];
    if (when != cachedAt) {
        std::tm parts{};
        localtime_r(&when, &parts);
        if (std::strftime(text, sizeof text, "[%d/%b/%Y:%H:%M:%S %z]", &parts) == 0) text[0] = '\0';
        cachedAt = when;
    }
    return text;
}

std::atomic<std::uint64_t> g_logs{0};

}  // namespace

AccessLog::AccessLog(std::string path) : path_(std::move(path)), id_(++g_logs) {
    OpenFile();
    if (fd_ < 0) throw std::runtime_error("cannot open the access log " + path_ + ": " + std::strerror(errno));
    writer_ = std::thread([this] { Run(); });
}

AccessLog::~AccessLog() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    writer_.join();
    if (fd_ >= 0) ::close(fd_);
}

void AccessLog::OpenFile() {
    const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
    if (fd < 0) return;
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
}

void AccessLog::FormatLine(std::string& out, std::string_view address, std::time_t when, std::string_view method,
                           std::string_view target, std::string_view version, unsigned status, std::uint64_t bodyBytes,
                           std::string_view referer, std::string_view agent) {
    const std::string_view date = LocalTime(when);
    // Room for every byte escaped, the two numbers and the punctuation.
    const std::size_t escapable =
        address.size() + method.size() + target.size() + version.size() + referer.size() + agent.size();
    const std::size_t start = out.size();
    out.resize(start + 4 * escapable + date.size() + 2 * 20 + 32);
    char* p = out.data() + start;
    p = PutField(p, address);
    p = Put(p, " - - ");
    p = Put(p, date);
    p = Put(p, " \"");
    p = PutEscaped(p, method);
    *p++ = ' ';
    p = PutEscaped(p, target);
    *p++ = ' ';
    p = PutEscaped(p, version);
    p = Put(p, "\" ");
    p = std::to_chars(p, p + 20, status).ptr;
    *p++ = ' ';
    p = std::to_chars(p, p + 20, bodyBytes).ptr;
    p = Put(p, " \"");
    p = PutField(p, referer);
    p = Put(p, "\" \"");
    p = PutField(p, agent);
    p = Put(p, "\"\n");
    out.resize(static_cast<std::size_t>(p - out.data()));
}

void AccessLog::Answered(const Exchange& exchange, unsigned status, std::uint64_t bodyBytes) {
    thread_local std::string line;
    line.clear();
    FormatLine(line, exchange.ClientAddress(), std::time(nullptr), exchange.Method(), exchange.Target(),
               exchange.Version(), status, bodyBytes, exchange.Header(MHD_HTTP_HEADER_REFERER),
               exchange.Header(MHD_HTTP_HEADER_USER_AGENT));
    Add(line);
}

AccessLog::Shard& AccessLog::ThreadShard() {
    thread_local std::uint64_t owner = 0;
    thread_local std::shared_ptr<Shard> shard;
    if (owner != id_) {
        shard = std::make_shared<Shard>();
        std::lock_guard<std::mutex> lock(shardsMutex_);
        shards_.push_back(shard);
        owner = id_;
    }
    return *shard;
}

void AccessLog::Add(std::string_view line) {
    Shard& shard = ThreadShard();
    std::size_t size = 0;
    {
        std::lock_guard<std::mutex> lock(shard.mutex);
        if (shard.text.size() + line.size() > kMaxPending) {
            dropped_.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        shard.text.append(line);
        ++shard.lines;
        size = shard.text.size();
    }
    if (size >= kWriteAt && size - line.size() < kWriteAt) {
        // Without the writer's lock: at worst it wakes at its next tick.
        full_.store(true, std::memory_order_relaxed);
        wake_.notify_one();
    }
}

void AccessLog::Reopen() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        reopen_ = true;
    }
    wake_.notify_one();
}

void AccessLog::Flush() {
    std::unique_lock<std::mutex> lock(mutex_);
    const std::uint64_t ticket = ++flushRequests_;
    wake_.notify_one();
    written_.wait(lock, [&] { return flushesDone_ >= ticket || stopping_; });
}

void AccessLog::WritePending(std::unique_lock<std::mutex>& lock) {
    const std::uint64_t requests = flushRequests_;
    const bool reopen = reopen_;
    reopen_ = false;
    full_.store(false, std::memory_order_relaxed);
    lock.unlock();

    std::vector<std::shared_ptr<Shard>> shards;
    {
        std::lock_guard<std::mutex> guard(shardsMutex_);
        shards = shards_;
    }
    // Copied out rather than swapped, so that every buffer keeps its size.
    std::string& batch = batch_;
    batch.clear();
    std::size_t lines = 0;
    for (const auto& shard : shards) {
        std::lock_guard<std::mutex> guard(shard->mutex);
        batch += shard->text;
        shard->text.clear();
        lines += shard->lines;
        shard->lines = 0;
    }

    std::size_t done = 0;
    while (done < batch.size()) {
        const ssize_t n = ::write(fd_, batch.data() + done, batch.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    if (done < batch.size()) {
        // Whole lines count as lost; a line cut by the failure counts too.
        std::size_t lost = 0;
        for (std::size_t i = done; i < batch.size(); ++i) lost += batch[i] == '\n';
        dropped_.fetch_add(lost ? lost : 1, std::memory_order_relaxed);
        if (!failing_)
            std::cerr << "kivo-server: cannot write the access log " << path_ << ": " << std::strerror(errno) << "\n";
        failing_ = true;
    } else if (lines > 0) {
        failing_ = false;
    }
    if (reopen) {
        const int before = fd_;
        OpenFile();
        if (fd_ == before)
            std::cerr << "kivo-server: cannot reopen the access log " << path_ << ": " << std::strerror(errno) << "\n";
    }

    lock.lock();
    flushesDone_ = requests;
    written_.notify_all();
}

void AccessLog::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, kWriteEvery, [this] {
            return stopping_ || reopen_ || flushRequests_ > flushesDone_ || full_.load(std::memory_order_relaxed);
        });
        const bool last = stopping_;
        WritePending(lock);
        if (last) return;
    }
}

}  // namespace kivo::server
