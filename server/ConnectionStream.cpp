#include "ConnectionStream.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kivo::server {
namespace {

constexpr std::chrono::milliseconds kPollSlice{50};

void AddressOf(const sockaddr_storage& addr, socklen_t len, std::string& ip, int& port) {
    char host[NI_MAXHOST] = {};
    char serv[NI_MAXSERV] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&addr), len, host, sizeof host, serv,
                    sizeof serv, NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
        ip = host;
        port = std::atoi(serv);
    }
}

}  // namespace

ConnectionStream::ConnectionStream(socket_t sock,
                                   const std::atomic<socket_t>& listener,
                                   std::chrono::milliseconds readTimeout,
                                   std::chrono::milliseconds writeTimeout)
    : sock_(sock), listener_(listener), readTimeout_(readTimeout), writeTimeout_(writeTimeout) {}

bool ConnectionStream::WaitFor(short events, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (listener_.load() == INVALID_SOCKET) return false;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        const auto slice = std::min<std::chrono::milliseconds>(
            kPollSlice, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) +
                            std::chrono::milliseconds(1));
        pollfd pfd{sock_, events, 0};
        const int rc = ::poll(&pfd, 1, static_cast<int>(slice.count()));
        if (rc > 0) return (pfd.revents & (events | POLLHUP | POLLERR)) != 0;
        if (rc < 0 && errno != EINTR) return false;
    }
}

bool ConnectionStream::is_readable() const {
    return pos_ < buffer_.size() || WaitFor(POLLIN, readTimeout_);
}

bool ConnectionStream::is_writable() const { return WaitFor(POLLOUT, writeTimeout_); }

bool ConnectionStream::WaitForRequest(std::chrono::milliseconds idle) const {
    return pos_ < buffer_.size() || WaitFor(POLLIN, idle);
}

ssize_t ConnectionStream::Fill() {
    if (!WaitFor(POLLIN, readTimeout_)) return -1;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::recv(sock_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n > 0) buffer_.append(chunk, static_cast<std::size_t>(n));
        return n;
    }
}

void ConnectionStream::TakeRequestLine() {
    expectLine_ = false;
    rawTarget_.clear();

    std::size_t newline = buffer_.find('\n', pos_);
    while (newline == std::string::npos && buffer_.size() - pos_ <= kMaxLine) {
        const std::size_t before = buffer_.size();
        if (Fill() <= 0) break;
        newline = buffer_.find('\n', before);
    }
    if (newline == std::string::npos) return;  // httplib reports the bad or oversized line

    // Same token rules as httplib: split on ' ', ignore empty pieces, expect
    // exactly method, target and version.
    std::size_t end = newline;
    if (end > pos_ && buffer_[end - 1] == '\r') --end;
    std::size_t tokens = 0;
    std::size_t targetBegin = 0;
    std::size_t targetEnd = 0;
    for (std::size_t i = pos_; i < end;) {
        if (buffer_[i] == ' ') {
            ++i;
            continue;
        }
        const std::size_t tokenEnd = std::min(end, buffer_.find(' ', i));
        if (++tokens == 2) {
            targetBegin = i;
            targetEnd = tokenEnd;
        }
        i = tokenEnd;
    }
    if (tokens != 3) return;

    rawTarget_ = buffer_.substr(targetBegin, targetEnd - targetBegin);
    const std::size_t firstQuery = rawTarget_.find('?');
    if (firstQuery == std::string::npos ||
        rawTarget_.find('?', firstQuery + 1) == std::string::npos) {
        return;
    }
    std::string adapted = rawTarget_.substr(0, firstQuery + 1);
    for (std::size_t i = firstQuery + 1; i < rawTarget_.size(); ++i) {
        if (rawTarget_[i] == '?') {
            adapted += "%3F";
        } else {
            adapted.push_back(rawTarget_[i]);
        }
    }
    buffer_.replace(targetBegin, targetEnd - targetBegin, adapted);
}

ssize_t ConnectionStream::read(char* ptr, size_t size) {
    if (size == 0) return 0;
    if (expectLine_) TakeRequestLine();
    if (pos_ >= buffer_.size()) {
        buffer_.clear();
        pos_ = 0;
        const ssize_t n = Fill();
        if (n <= 0) return n;
    }
    const std::size_t n = std::min(size, buffer_.size() - pos_);
    std::memcpy(ptr, buffer_.data() + pos_, n);
    pos_ += n;
    return static_cast<ssize_t>(n);
}

ssize_t ConnectionStream::write(const char* ptr, size_t size) {
    std::size_t sent = 0;
    while (sent < size) {
        if (!is_writable()) return -1;
        const ssize_t n = ::send(sock_, ptr + sent, size - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return -1;
        }
        sent += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(size);
}

void ConnectionStream::get_remote_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (::getpeername(sock_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        AddressOf(addr, len, ip, port);
    }
}

void ConnectionStream::get_local_ip_and_port(std::string& ip, int& port) const {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(sock_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        AddressOf(addr, len, ip, port);
    }
}

}  // namespace kivo::server
