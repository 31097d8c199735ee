#include "RawTargetServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "ConnectionStream.h"

namespace kivo::server {
namespace {

std::chrono::milliseconds ToMs(time_t sec, time_t usec) {
    return std::chrono::seconds(sec) +
           std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::microseconds(usec));
}

bool HasBody(const httplib::Request& req) {
    if (req.has_header("Transfer-Encoding")) return true;
    const std::string length = req.get_header_value("Content-Length");
    return !length.empty() && length != "0";
}

}  // namespace

RawTargetServer::RawTargetServer() {
    // Stalled and slow answers hold a worker each; leave plenty for the rest.
    new_task_queue = [] { return new httplib::ThreadPool(32); };
    // httplib's default also sets SO_REUSEPORT, which lets a second server
    // bind a port that is already serving; allow quick rebinding only.
    set_socket_options([](socket_t sock) {
        const int one = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    });
}

bool RawTargetServer::process_and_close_socket(socket_t sock) {
    const int one = 1;
    ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    bool ok = false;
    {
        ConnectionStream stream(sock, svr_sock_, ToMs(read_timeout_sec_, read_timeout_usec_),
                                ToMs(write_timeout_sec_, write_timeout_usec_));
        for (std::size_t left = keep_alive_max_count_; left > 0; --left) {
            if (!stream.WaitForRequest(std::chrono::seconds(keep_alive_timeout_sec_))) break;
            bool closeAfter = false;
            bool parsed = false;
            bool closed = false;
            stream.ExpectRequestLine();
            ok = process_request(stream, left == 1, closed, [&](httplib::Request& req) {
                parsed = true;
                if (!stream.RawTarget().empty()) req.target = stream.RawTarget();
                // Handlers never read request bodies, so anything but a plain
                // GET ends the connection rather than leaving a body unread.
                if (req.method != "GET" || HasBody(req)) {
                    closeAfter = true;
                    req.headers.erase("Connection");
                    req.set_header("Connection", "close");
                }
            });
            // A request httplib could not parse is answered with 400; the rest
            // of such a connection is not trusted.
            if (!ok || closed || !parsed || closeAfter) break;
        }
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
}

}  // namespace kivo::server
