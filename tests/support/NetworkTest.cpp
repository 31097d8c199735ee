#include "tests/support/NetworkTest.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>


namespace kivo::test {

std::unique_ptr<TestServer> NetworkTest::s_server;
std::shared_ptr<platform::IHttpClient> NetworkTest::s_client;

void NetworkTest::SetUpTestSuite() {
    s_server = std::make_unique<TestServer>();
    platform::HttpTimeouts timeouts;
    timeouts.connectMs = 2000;
    timeouts.stallMs = 1000;
    s_client = platform::CreateHttpClient(timeouts);
}

void NetworkTest::TearDownTestSuite() {
    s_client.reset();
    s_server.reset();
    ::unsetenv("KIVO_SERVER");
}

void NetworkTest::SetUp() {
    s_server->Reset();
    s_server->ClearEmails();
    config.SetHttpClient(s_client);
    ::setenv("KIVO_SERVER", s_server->HostPort().c_str(), 1);
}

void NetworkTest::TearDown() { ::unsetenv("KIVO_SERVER"); }

void NetworkTest::UseClosedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    ::close(fd);
    const std::string host = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    ::setenv("KIVO_SERVER", host.c_str(), 1);
}

}  // namespace kivo::test
