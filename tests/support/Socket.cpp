#include "tests/support/Socket.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <stdexcept>

namespace kivo::test {
namespace {

#ifdef _WIN32
using Native = SOCKET;
constexpr int kNoSignal = 0;
void Close(Native s) { closesocket(s); }
int Poll(pollfd& fd, int ms) { return WSAPoll(&fd, 1, ms); }
#else
using Native = int;
constexpr int kNoSignal = MSG_NOSIGNAL;
void Close(Native s) { ::close(s); }
int Poll(pollfd& fd, int ms) { return ::poll(&fd, 1, ms); }
#endif

Native NewSocket() {
#ifdef _WIN32
    static const bool s_started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!s_started) return INVALID_SOCKET;
#endif
    return ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
}

sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

}  // namespace

Connection::Connection(int port) : m_socket(static_cast<std::intptr_t>(NewSocket())) {
    const sockaddr_in addr = Loopback(port);
    m_connected = ::connect(static_cast<Native>(m_socket), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
}

Connection::~Connection() { Close(static_cast<Native>(m_socket)); }

bool Connection::Send(std::string_view bytes) {
    const int size = static_cast<int>(bytes.size());
    return ::send(static_cast<Native>(m_socket), bytes.data(), size, kNoSignal) == size;
}

bool Connection::ReadToClose(std::string* received, std::chrono::milliseconds quiet) {
    for (;;) {
        pollfd fd{static_cast<Native>(m_socket), POLLIN, 0};
        if (Poll(fd, static_cast<int>(quiet.count())) <= 0) return false;
        char buffer[16384];
        const auto n = ::recv(static_cast<Native>(m_socket), buffer, sizeof buffer, 0);
        if (n <= 0) return true;
        if (received != nullptr) received->append(buffer, static_cast<std::size_t>(n));
    }
}

std::string RawExchange(int port, std::string_view request, std::chrono::milliseconds quiet) {
    Connection connection(port);
    std::string received;
    if (connection.Connected() && connection.Send(request)) connection.ReadToClose(&received, quiet);
    return received;
}

std::string RawGet(int port, const std::string& target, int* status) {
    const std::string answer =
        RawExchange(port, "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n", std::chrono::seconds(10));
    const std::size_t head = answer.find("\r\n\r\n");
    if (answer.rfind("HTTP/1.", 0) != 0 || head == std::string::npos)
        throw std::runtime_error("GET " + target + " on port " + std::to_string(port) + ": no HTTP answer");
    if (status != nullptr) *status = std::atoi(answer.c_str() + 9);
    return answer.substr(head + 4);
}

int FreePort() {
    const Native s = NewSocket();
    sockaddr_in addr = Loopback(0);
    socklen_t length = sizeof addr;
    ::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &length);
    Close(s);
    return ntohs(addr.sin_port);
}

}  // namespace kivo::test
