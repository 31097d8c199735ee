// httplib::Stream over one accepted socket. It keeps the request line exactly
// as received (RawTarget) and hands httplib a copy it can parse: httplib
// rejects a target holding more than one '?', so every '?' after the first is
// passed on as "%3F". Waits give up promptly once the listening socket closes.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <string>

namespace kivo::server {

class ConnectionStream final : public httplib::Stream {
public:
    ConnectionStream(socket_t sock, const std::atomic<socket_t>& listener,
                     std::chrono::milliseconds readTimeout, std::chrono::milliseconds writeTimeout);

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override { return sock_; }

    // Waits up to `idle` for the first byte of another request.
    bool WaitForRequest(std::chrono::milliseconds idle) const;

    // The next line read is a request line: capture and adapt it.
    void ExpectRequestLine() { expectLine_ = true; }

    // Target of the last request line, byte for byte (empty if unparsable).
    const std::string& RawTarget() const { return rawTarget_; }

private:
    static constexpr std::size_t kMaxLine = 16 * 1024;

    bool WaitFor(short events, std::chrono::milliseconds timeout) const;
    ssize_t Fill();
    void TakeRequestLine();

    socket_t sock_;
    const std::atomic<socket_t>& listener_;
    std::chrono::milliseconds readTimeout_;
    std::chrono::milliseconds writeTimeout_;
    std::string buffer_;
    std::size_t pos_ = 0;
    bool expectLine_ = false;
    std::string rawTarget_;
};

}  // namespace kivo::server
