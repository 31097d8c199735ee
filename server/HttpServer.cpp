#include "HttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <limits>
#include <stdexcept>

namespace kivo::server {
namespace {

constexpr std::int64_t kNoDeadline = std::numeric_limits<std::int64_t>::max();
constexpr std::size_t kConnectionMemory = 16 * 1024;  // the request head and the answer's headers
constexpr std::chrono::milliseconds kSweepEvery{200};

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A listening socket on host:port; its descriptor.
int Listen(const std::string& host, int port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr)
        throw std::runtime_error("cannot resolve " + host);
    int fd = -1;
    std::string why = "no address";
    for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, HttpServer::SystemBacklog()) != 0) {
            why = std::strerror(errno);
            ::close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd < 0) throw std::runtime_error("cannot listen on " + host + ":" + service + ": " + why);
    return fd;
}

int PortOf(int fd) {
    sockaddr_storage addr{};
    socklen_t length = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) return 0;
    char port[NI_MAXSERV] = {};
    getnameinfo(reinterpret_cast<sockaddr*>(&addr), length, nullptr, 0, port, sizeof port, NI_NUMERICSERV);
    return std::atoi(port);
}

struct HeadSize {
    unsigned count = 0;
    std::size_t bytes = 0;
};

MHD_Result CountHeader(void* cls, MHD_ValueKind, const char* key, const char* value) {
    auto* size = static_cast<HeadSize*>(cls);
    ++size->count;
    size->bytes += std::strlen(key) + (value ? std::strlen(value) : 0) + 4;  // ": " and CRLF
    return MHD_YES;
}

}  // namespace

std::string_view Exchange::Header(const char* name) const {
    const char* found = MHD_lookup_connection_value(connection_, MHD_HEADER_KIND, name);
    return found ? std::string_view(found) : std::string_view();
}

std::string_view Exchange::ClientAddress() const {
    if (!address_.empty()) return address_;
    char text[INET6_ADDRSTRLEN] = "-";
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection_, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    const sockaddr* address = info ? info->client_addr : nullptr;
    if (address != nullptr && address->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    } else if (address != nullptr && address->sa_family == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
    }
    address_ = text;
    return address_;
}

std::string_view Exchange::Query(const char* name) const {
    const char* found = MHD_lookup_connection_value(connection_, MHD_GET_ARGUMENT_KIND, name);
    return found ? std::string_view(found) : std::string_view();
}

MHD_Result Exchange::Reply(unsigned status, MHD_Response* response, std::uint64_t bodyBytes) {
    answered_ = true;
    if (observers_ != nullptr) {
        const std::uint64_t sent = method_ == "HEAD" ? 0 : bodyBytes;
        for (RequestObserver* observer : *observers_) observer->Answered(*this, status, sent);
    }
    return MHD_queue_response(connection_, status, response);
}

MHD_Result Exchange::Text(unsigned status, std::string_view text, bool close) {
    MHD_Response* response = HttpServer::TextResponse(text);
    if (close) MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    const MHD_Result queued = Reply(status, response, text.size());
    MHD_destroy_response(response);
    return queued;
}

MHD_Response* HttpServer::TextResponse(std::string_view text) {
    MHD_Response* response =
        MHD_create_response_from_buffer(text.size(), const_cast<char*>(text.data()), MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain");
    return response;
}

int HttpServer::SystemBacklog() {
    int somaxconn = 0;
    std::ifstream("/proc/sys/net/core/somaxconn") >> somaxconn;
    return somaxconn > 0 ? somaxconn : SOMAXCONN;
}

HttpServer::HttpServer(const Settings& settings, Handler handler) : settings_(settings), handler_(std::move(handler)) {
    listenFd_ = Listen(settings.host, settings.port);
    port_ = PortOf(listenFd_);

    unsigned flags = MHD_ALLOW_SUSPEND_RESUME;
    unsigned threads = settings.eventThreads ? settings.eventThreads : std::thread::hardware_concurrency();
    if (settings.threadPerConnection) {
        flags |= MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL;
        threads = 0;
    } else {
        flags |= MHD_USE_EPOLL_INTERNAL_THREAD | MHD_USE_TURBO;
    }
    MHD_OptionItem options[] = {
        {MHD_OPTION_LISTEN_SOCKET, listenFd_, nullptr},
        {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&OnUri), this},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&OnConnection), this},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&OnCompleted), this},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(kConnectionMemory), nullptr},
        {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(settings.maxConnections), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, static_cast<intptr_t>(settings.sendTimeoutSeconds), nullptr},
        {threads > 1 ? MHD_OPTION_THREAD_POOL_SIZE : MHD_OPTION_END, static_cast<intptr_t>(threads), nullptr},
        {MHD_OPTION_END, 0, nullptr},
    };
    daemon_ = MHD_start_daemon(flags, 0, nullptr, nullptr, &OnRequest, this, MHD_OPTION_ARRAY, options, MHD_OPTION_END);
    if (daemon_ == nullptr) {
        ::close(listenFd_);
        throw std::runtime_error("cannot start the HTTP server on port " + std::to_string(port_));
    }
    if (settings.requestDeadline.count() > 0) sweeper_ = std::thread([this] { Sweep(); });
}

HttpServer::~HttpServer() { Stop(); }

void HttpServer::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (sweeper_.joinable()) sweeper_.join();
    if (daemon_ != nullptr) {
        MHD_stop_daemon(daemon_);
        daemon_ = nullptr;
        ::close(listenFd_);
    }
}

void HttpServer::OnConnection(void* cls, MHD_Connection* connection, void** context,
                              MHD_ConnectionNotificationCode code) {
    auto* self = static_cast<HttpServer*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
        auto* exchange = new Exchange;
        exchange->connection_ = connection;
        const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        exchange->fd_ = info ? info->connect_fd : -1;
        exchange->deadline_ = NowMs() + self->settings_.requestDeadline.count();
        exchange->canSuspend_ = !self->settings_.threadPerConnection;
        exchange->observers_ = &self->settings_.observers;
        for (RequestObserver* observer : self->settings_.observers) observer->ConnectionOpened();
        *context = exchange;
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->open_.insert(exchange);
    } else if (auto* exchange = static_cast<Exchange*>(*context)) {
        {
            // The sweeper only shuts sockets down while it holds the lock, so
            // the descriptor stays this connection's until it is erased here.
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->open_.erase(exchange);
        }
        delete exchange;
        *context = nullptr;
        for (RequestObserver* observer : self->settings_.observers) observer->ConnectionClosed();
    }
}

void* HttpServer::OnUri(void*, const char* uri, MHD_Connection* connection) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    auto* exchange = info ? static_cast<Exchange*>(info->socket_context) : nullptr;
    if (exchange == nullptr) return nullptr;
    exchange->target_.assign(uri);
    exchange->method_ = {};
    exchange->version_ = {};
    exchange->started_ = exchange->answered_ = false;
    exchange->step = 0;
    exchange->value = 0;
    exchange->scratch.clear();
    return exchange;
}

bool HttpServer::HeadTooLarge(Exchange& exchange) const {
    HeadSize size;
    size.bytes = exchange.method_.size() + exchange.target_.size() + 12;  // request line
    MHD_get_connection_values(exchange.connection_, MHD_HEADER_KIND, &CountHeader, &size);
    return size.count > settings_.maxHeaders || size.bytes > settings_.maxHeadBytes;
}

MHD_Result HttpServer::OnRequest(void* cls, MHD_Connection*, const char*, const char* method, const char* version,
                                 const char*, std::size_t* uploadSize, void** state) {
    auto* self = static_cast<HttpServer*>(cls);
    auto* exchange = static_cast<Exchange*>(*state);
    if (exchange == nullptr) return MHD_NO;
    if (exchange->answered_) {
        *uploadSize = 0;  // a body nobody asked for is dropped
        return MHD_YES;
    }
    if (!exchange->started_) {
        exchange->started_ = true;
        exchange->method_ = method;
        exchange->version_ = version;
        exchange->deadline_ = kNoDeadline;
        if (self->HeadTooLarge(*exchange)) return exchange->Text(431, "431 request head too large\n", true);
        // An answer queued before the (empty) body has been read makes the
        // library close the connection; GET and HEAD are answered at the
        // next call, anything else at once (its body is never read).
        if (exchange->IsGet()) return MHD_YES;
    }
    return self->handler_(*exchange);
}

void HttpServer::OnCompleted(void* cls, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
    auto* self = static_cast<HttpServer*>(cls);
    if (auto* exchange = static_cast<Exchange*>(*state)) {
        exchange->deadline_ = NowMs() + self->settings_.requestDeadline.count();
        exchange->served_ = true;
    }
}

void HttpServer::Sweep() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, kSweepEvery, [this] { return stopping_; })) {
        const std::int64_t now = NowMs();
        for (Exchange* exchange : open_) {
            if (exchange->deadline_.load() > now || exchange->fd_ < 0) continue;
            // Too slow: the event loop sees the end of the stream and closes it.
            exchange->deadline_ = kNoDeadline;
            // An idle keep-alive connection is closed the same way, but it
            // is no slow client. Counted first: the client may look at once.
            if (!exchange->served_) {
                for (RequestObserver* observer : settings_.observers) observer->SlowClientClosed();
            }
            ::shutdown(exchange->fd_, SHUT_RDWR);
        }
    }
}

}  // namespace kivo::server
