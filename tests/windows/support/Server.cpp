#include "tests/windows/support/Server.h"

#include <winsock2.h>

#include <cstdlib>
#include <stdexcept>

namespace kivo::test {
namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0')
        throw std::runtime_error(std::string(name) + " is not set: run the suite with scripts/test-windows.sh");
    return value;
}

}  // namespace

std::string RawGet(const std::string& hostPort, const std::string& target, int* status) {
    static const bool s_started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!s_started || hostPort.rfind("127.0.0.1:", 0) != 0) throw std::runtime_error("cannot reach " + hostPort);
    const struct Socket {
        SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        ~Socket() { closesocket(s); }
    } owned;
    const SOCKET socket = owned.s;
    DWORD timeout = 10000;
    setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<u_short>(std::atoi(hostPort.c_str() + 10)));
    if (connect(socket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        throw std::runtime_error("cannot connect to " + hostPort);
    const std::string request = "GET " + target + " HTTP/1.0\r\nHost: " + hostPort + "\r\n\r\n";
    if (send(socket, request.data(), static_cast<int>(request.size()), 0) != static_cast<int>(request.size()))
        throw std::runtime_error("send to " + hostPort + " failed");
    std::string answer;
    char buffer[16384];
    for (int n; (n = recv(socket, buffer, sizeof buffer, 0)) != 0;) {
        if (n < 0) throw std::runtime_error("GET " + target + ": receive failed");
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    const std::size_t head = answer.find("\r\n\r\n");
    if (answer.rfind("HTTP/1.", 0) != 0 || head == std::string::npos)
        throw std::runtime_error("GET " + target + ": no HTTP answer");
    if (status != nullptr) *status = std::atoi(answer.c_str() + 9);
    return answer.substr(head + 4);
}

std::string ScriptServer::HostPort() { return Env("KIVO_TEST_SERVER"); }

std::string ScriptServer::Updater() { return Env("KIVO_TEST_UPDATER"); }

std::string ScriptServer::Control(const std::string& pathAndQuery) {
    int status = 0;
    std::string body = RawGet("127.0.0.1:" + Env("KIVO_TEST_CONTROL_PORT"), pathAndQuery, &status);
    if (status != 200)
        throw std::runtime_error("control GET " + pathAndQuery + " answered " + std::to_string(status) + ": " + body);
    return body;
}

ScriptServer& Server() {
    static ScriptServer s_server;
    return s_server;
}

std::shared_ptr<platform::IHttpClient> ServerTest::s_client;

void ServerTest::SetUpTestSuite() {
    // Short time-outs keep the stall test quick.
    platform::HttpTimeouts timeouts;
    timeouts.connectMs = 2000;
    timeouts.stallMs = 1000;
    s_client = platform::CreateHttpClient(timeouts);
}

void ServerTest::SetUp() {
    Server().Reset();
    Server().ClearEmails();
    config.SetHttpClient(s_client);
    _putenv_s("KIVO_SERVER", ScriptServer::HostPort().c_str());
}

void ServerTest::TearDown() { _putenv_s("KIVO_SERVER", ""); }

void ServerTest::UseClosedPort() { _putenv_s("KIVO_SERVER", "127.0.0.1:1"); }

}  // namespace kivo::test
