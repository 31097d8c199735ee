// The HTTP front of kivo-server on libmicrohttpd: one listening socket with
// the system's largest backlog, an epoll event loop per core (or a thread per
// connection for handlers that may block), and the limits a public server
// needs: a whole request within a deadline, a bounded request head, and an
// idle keep-alive connection closed when that deadline passes.
#pragma once

#include <microhttpd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kivo::server {

class Exchange;

// Told what the server does, for logs and counters. Called on the event
// loops (and on the sweeper thread for SlowClientClosed): it must not block.
class RequestObserver {
public:
    virtual ~RequestObserver() = default;
    // An answer was queued: its status and the body bytes it sends (none
    // for HEAD).
    virtual void Answered(const Exchange& exchange, unsigned status, std::uint64_t bodyBytes) = 0;
    virtual void ConnectionOpened() {}
    virtual void ConnectionClosed() {}
    // A connection closed because its request did not arrive in time.
    virtual void SlowClientClosed() {}
};

// The request in progress on one connection. It lives as long as the
// connection; each new request on it starts with a fresh target and step.
class Exchange {
public:
    MHD_Connection* Connection() const { return connection_; }
    // The request target exactly as it came off the wire (nothing decoded).
    const std::string& Target() const { return target_; }
    std::string_view Path() const { return std::string_view(target_).substr(0, target_.find('?')); }
    std::string_view Method() const { return method_; }
    bool IsGet() const { return method_ == "GET" || method_ == "HEAD"; }
    // "HTTP/1.1" and the like, as the request line had it.
    std::string_view Version() const { return version_; }
    // A header or a %-decoded query argument; empty when absent.
    std::string_view Header(const char* name) const;
    std::string_view Query(const char* name) const;
    // The client's address as text ("-" when unknown), worked out once per
    // connection.
    std::string_view ClientAddress() const;

    // False in the thread-per-connection mode, where a handler may simply
    // block instead.
    bool CanSuspend() const { return canSuspend_; }

    // Queues `response` (not consumed: the caller keeps its reference);
    // `bodyBytes` is the size of its body, for the observers.
    MHD_Result Reply(unsigned status, MHD_Response* response, std::uint64_t bodyBytes = 0);
    // A short text answer; `close` ends the connection after it.
    MHD_Result Text(unsigned status, std::string_view text, bool close = false);

    // For handlers that answer in several calls (suspended meanwhile): where
    // they are, and a value carried across. Both 0 at each new request.
    int step = 0;
    long long value = 0;
    std::string scratch;

private:
    friend class HttpServer;
    MHD_Connection* connection_ = nullptr;
    int fd_ = -1;
    std::string target_;
    mutable std::string address_;
    std::string_view method_;
    std::string_view version_;
    const std::vector<RequestObserver*>* observers_ = nullptr;
    bool started_ = false;
    bool answered_ = false;
    std::atomic<bool> served_{false};  // a request of this connection has ended
    bool canSuspend_ = true;
    // Milliseconds on the steady clock by which the next whole request must
    // have arrived; kNoDeadline while a request is being answered.
    std::atomic<std::int64_t> deadline_{0};
};

class HttpServer {
public:
    struct Settings {
        std::string host = "127.0.0.1";
        int port = 0;  // 0: any free port
        // A thread per connection instead of the event loops: for handlers
        // that block (the test server's stalls). Not for the public server.
        bool threadPerConnection = false;
        unsigned eventThreads = 0;  // 0: one per core
        // The whole request head must arrive within this time of the
        // connection opening or the previous answer ending; the connection
        // is closed otherwise. Zero: no deadline.
        std::chrono::milliseconds requestDeadline{5000};
        // A connection that takes no data while an answer is sent is closed
        // after this many seconds (0: never).
        unsigned sendTimeoutSeconds = 30;
        unsigned maxHeaders = 100;
        std::size_t maxHeadBytes = 8 * 1024;
        unsigned maxConnections = 20000;
        // Told of every answer and connection (not owned; they must outlive
        // the server).
        std::vector<RequestObserver*> observers;
    };
    using Handler = std::function<MHD_Result(Exchange&)>;

    // Binds and starts serving; throws std::runtime_error when it cannot.
    HttpServer(const Settings& settings, Handler handler);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    int Port() const { return port_; }
    // Stops accepting and ends every connection. Suspended requests must have
    // been resumed first.
    void Stop();

    // A response with `text` and a Content-Type of text/plain, for reuse.
    static MHD_Response* TextResponse(std::string_view text);
    // The longest queue the system allows on a listening socket.
    static int SystemBacklog();

private:
    static void* OnUri(void* cls, const char* uri, MHD_Connection* connection);
    static MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                                const char* version, const char* upload, std::size_t* uploadSize, void** state);
    static void OnCompleted(void* cls, MHD_Connection* connection, void** state, MHD_RequestTerminationCode);
    static void OnConnection(void* cls, MHD_Connection* connection, void** context, MHD_ConnectionNotificationCode);
    bool HeadTooLarge(Exchange& exchange) const;
    void Sweep();

    Settings settings_;
    Handler handler_;
    MHD_Daemon* daemon_ = nullptr;
    int listenFd_ = -1;
    int port_ = 0;

    std::mutex mutex_;  // guards open_ and stopping_
    std::set<Exchange*> open_;
    bool stopping_ = false;
    std::condition_variable wake_;
    std::thread sweeper_;
};

}  // namespace kivo::server
