// Raw bytes on a connection to the public port, as the internet sends them:
// request lines, targets and headers reach libmicrohttpd, the site's routes,
// the conditional-request and subscription code, the access log and the
// metrics. Whatever comes, the server answers HTTP or closes, and stays up.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "server/AccessLog.h"
#include "server/Content.h"
#include "server/HttpServer.h"
#include "server/MailStore.h"
#include "server/Metrics.h"
#include "server/PublicSite.h"

namespace {

using namespace kivo::server;

struct Site {
    Site()
        : mail(OpenMailStore(":memory:")),
          site(Content::Load(KIVO_SOURCE_DIR "/server/data", Release{}), *mail),
          log("/dev/null") {
        HttpServer::Settings settings;
        settings.eventThreads = 1;
        // The client keeps its side open, as HTTP clients do: the server
        // ends each connection when its next request does not come within
        // this deadline (5 s on the public server).
        settings.requestDeadline = std::chrono::milliseconds(100);
        settings.observers = {&metrics, &log};
        server = std::make_unique<HttpServer>(settings, [this](Exchange& exchange) { return site.Handle(exchange); });
    }
    std::unique_ptr<MailStore> mail;
    PublicSite site;
    Metrics metrics;
    AccessLog log;
    std::unique_ptr<HttpServer> server;
};

long OpenConnections(const Metrics& metrics) {
    const std::string text = metrics.Render();
    const std::size_t at = text.find("\nkivo_http_open_connections ");
    return at == std::string::npos ? -1 : std::atol(text.c_str() + at + 28);
}

// Everything the server sends until it closes, or until it has been silent
// for 20 ms after answering (a keep-alive client leaves then). A request the
// server has not answered within 20 ms is mostly left unfinished: the client
// then ends its side and the server must close. One input in 32 instead
// keeps its side open, for the server's deadline; after 5 s of silence (far
// past it) the client leaves and the server must let the connection go.
std::string Send(int port, const std::uint8_t* data, std::size_t size, const Metrics& metrics) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) std::abort();
    for (std::size_t sent = 0; sent < size;) {
        const ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
        if (n <= 0) break;  // the server may close early on a bad request
        sent += static_cast<std::size_t>(n);
    }
    std::string answer;
    char buffer[16384];
    bool waitForDeadline = size % 32 == 0;
    for (;;) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, answer.empty() && waitForDeadline ? 5000 : 20) != 1) {
            if (!answer.empty()) break;
            if (!waitForDeadline) {
                ::shutdown(fd, SHUT_WR);
                waitForDeadline = true;  // the server now closes at once, or at its deadline
                continue;
            }
            // Silent and open past every limit: once this side closes, the
            // server must let the connection go (no descriptor kept).
            ::close(fd);
            for (int i = 0; i < 50 && OpenConnections(metrics) != 0; ++i) ::usleep(100 * 1000);
            if (OpenConnections(metrics) != 0) {
                std::fprintf(stderr, "a connection stays open after its client left:\n%s", metrics.Render().c_str());
                std::abort();
            }
            std::fprintf(stderr, "kept open past the deadline, closed when the client left\n");
            return answer;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return answer;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Site* site = new Site;  // serves until the process ends
    const std::string answer = Send(site->server->Port(), data, size, site->metrics);
    if (!answer.empty() && answer.rfind("HTTP/1.", 0) != 0) std::abort();
    if (size % 64 == 0) {
        const std::string text = site->metrics.Render();
        if (text.find("kivo_http_requests_total") == std::string::npos) std::abort();
    }
    return 0;
}
