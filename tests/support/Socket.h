#pragma once
// Loopback TCP beside the HTTP clients under test: raw requests, connections
// held open, free ports. For both builds (POSIX sockets and Winsock).
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace kivo::test {

// A connection to 127.0.0.1:`port`, closed when the object goes.
class Connection {
public:
    explicit Connection(int port);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Connected() const { return m_connected; }
    bool Send(std::string_view bytes);
    // Reads until the peer closes (true) or nothing comes for `quiet` (false).
    bool ReadToClose(std::string* received, std::chrono::milliseconds quiet);

private:
    std::intptr_t m_socket;
    bool m_connected = false;
};

// `request` on a fresh connection; everything received until the server
// closes it, or until `quiet` passes without a byte.
std::string RawExchange(int port, std::string_view request, std::chrono::milliseconds quiet = std::chrono::seconds(3));
// GET `target` as HTTP/1.0: the body, the status in `status`. Throws
// std::runtime_error when no HTTP answer comes.
std::string RawGet(int port, const std::string& target, int* status = nullptr);
// A loopback port on which nothing listens.
int FreePort();

}  // namespace kivo::test
