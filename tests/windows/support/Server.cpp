#include "tests/windows/support/Server.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <stdexcept>

#include "net/HttpClient.h"
#include "platform/Http.h"

namespace kivo::test {
namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0')
        throw std::runtime_error(std::string(name) + " is not set: run the suite with scripts/test-windows.sh");
    return value;
}

struct WinsockUser {
    WinsockUser() {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
    }
    ~WinsockUser() { WSACleanup(); }
};

class Socket {
public:
    Socket() : m_socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) {
        if (m_socket == INVALID_SOCKET) throw std::runtime_error("socket failed");
    }
    ~Socket() { closesocket(m_socket); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET Get() const { return m_socket; }

private:
    SOCKET m_socket;
};

sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<u_short>(port));
    return addr;
}

int PortOf(const std::string& hostPort) {
    const std::size_t colon = hostPort.rfind(':');
    if (hostPort.rfind("127.0.0.1:", 0) != 0 || colon == std::string::npos)
        throw std::runtime_error("KIVO_TEST_SERVER must be 127.0.0.1:<port>, not " + hostPort);
    return std::atoi(hostPort.c_str() + colon + 1);
}

std::string UrlEncode(std::string_view text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' || b == '.' ||
            b == '_' || b == '~') {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kDigits[b >> 4]);
            out.push_back(kDigits[b & 0x0F]);
        }
    }
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string Unhex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

void SetFault(std::string_view path, const std::string& tail) {
    Server::Control("/fault?path=" + UrlEncode(path) + "&" + tail);
}

}  // namespace

std::string RawGet(const std::string& hostPort, const std::string& target, int* status) {
    static WinsockUser winsock;
    Socket socket;
    DWORD timeout = 10000;
    setsockopt(socket.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    const sockaddr_in addr = Loopback(PortOf(hostPort));
    if (connect(socket.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        throw std::runtime_error("cannot connect to " + hostPort);
    const std::string request = "GET " + target + " HTTP/1.0\r\nHost: " + hostPort + "\r\n\r\n";
    if (send(socket.Get(), request.data(), static_cast<int>(request.size()), 0) != static_cast<int>(request.size()))
        throw std::runtime_error("send to " + hostPort + " failed");
    std::string answer;
    char buffer[16384];
    for (;;) {
        const int n = recv(socket.Get(), buffer, sizeof buffer, 0);
        if (n < 0) throw std::runtime_error("GET " + target + ": receive failed");
        if (n == 0) break;
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    const std::size_t head = answer.find("\r\n\r\n");
    if (answer.rfind("HTTP/1.", 0) != 0 || head == std::string::npos)
        throw std::runtime_error("GET " + target + ": no HTTP answer");
    if (status != nullptr) *status = std::atoi(answer.c_str() + 9);
    return answer.substr(head + 4);
}

std::string Server::HostPort() { return Env("KIVO_TEST_SERVER"); }

std::string Server::Control(const std::string& pathAndQuery) {
    int status = 0;
    std::string body = RawGet("127.0.0.1:" + Env("KIVO_TEST_CONTROL_PORT"), pathAndQuery, &status);
    if (status != 200)
        throw std::runtime_error("control GET " + pathAndQuery + " answered " + std::to_string(status) + ": " + body);
    return body;
}

void Server::SetSize(std::string_view path, std::size_t n) { SetFault(path, "mode=size&size=" + std::to_string(n)); }

void Server::SetStatus(std::string_view path, int code, std::size_t n) {
    SetFault(path, "mode=status&code=" + std::to_string(code) + "&size=" + std::to_string(n));
}

void Server::SetCut(std::string_view path, std::size_t n) { SetFault(path, "mode=cut&size=" + std::to_string(n)); }

void Server::SetStall(std::string_view path, int ms) { SetFault(path, "mode=stall&ms=" + std::to_string(ms)); }

void Server::SetSlow(std::string_view path, std::size_t n, int ms) {
    SetFault(path, "mode=slow&size=" + std::to_string(n) + "&ms=" + std::to_string(ms));
}

void Server::SetVersion(std::uint64_t number) { Control("/version?number=" + std::to_string(number)); }

void Server::SetUpdateFile(std::string_view linuxPath) { Control("/update?path=" + UrlEncode(linuxPath)); }

std::vector<std::string> Server::Requests() { return Lines(Control("/requests")); }

std::vector<std::string> Server::Emails() {
    std::vector<std::string> out;
    for (const std::string& hex : Lines(Control("/emails"))) out.push_back(Unhex(hex));
    return out;
}

void Server::Reset() {
    Control("/reset");
    Control("/emails/clear");
}

void ServerTest::SetUpTestSuite() {
    // Short time-outs keep the stall test quick.
    platform::HttpTimeouts timeouts;
    timeouts.connectMs = 2000;
    timeouts.stallMs = 1000;
    net::SetHttpClient(platform::CreateHttpClient(timeouts));
}

void ServerTest::TearDownTestSuite() { net::SetHttpClient(nullptr); }

void ServerTest::SetUp() {
    Server::Reset();
    _putenv_s("KIVO_SERVER", Server::HostPort().c_str());
}

void ServerTest::TearDown() { _putenv_s("KIVO_SERVER", ""); }

void ServerTest::UseClosedPort() {
    static WinsockUser winsock;
    int port = 0;
    {
        Socket socket;
        sockaddr_in addr = Loopback(0);
        int length = sizeof addr;
        bind(socket.Get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
        getsockname(socket.Get(), reinterpret_cast<sockaddr*>(&addr), &length);
        port = ntohs(addr.sin_port);
    }
    _putenv_s("KIVO_SERVER", ("127.0.0.1:" + std::to_string(port)).c_str());
}

}  // namespace kivo::test
