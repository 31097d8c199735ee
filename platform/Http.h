#pragma once
// HTTP client seen by the core: a root session opened with a user agent, URL
// requests opened on it, and a blocking sequential body read. Each backend
// (libcurl on Linux, WinINet on Windows) behaves the same way:
//  - the system's proxy configuration is used, redirects are followed and the
//    answer is never stored in a shared cache;
//  - OpenUrl returns once the final answer's headers are in, or null when no
//    answer can be had (refused, unreachable, time-out, malformed URL);
//  - a session keeps its connection to a server open between its requests
//    (HTTP keep-alive), and opens a new one when the server closed it;
//  - a request may ask for a gzip body (Accept-Encoding): the body is then
//    read decoded, and a stream that does not decode, or that ends before
//    its end, is a transfer that broke off;
//  - a request may carry the validators of a copy the caller holds
//    (If-None-Match, If-Modified-Since);
//  - the answer's status and validators are told; any status is content.
#include <cstddef>
#include <memory>
#include <string>

namespace kivo::platform {

struct HttpTimeouts {
    // Longest wait for a connection to be established.
    long connectMs = 15000;
    // A transfer that delivers no byte for this long is abandoned.
    long stallMs = 30000;
};

// What a request asks beyond a plain GET. Validator texts are sent as
// given; one holding a control byte is not sent at all.
struct HttpRequestOptions {
    bool acceptGzip = false;
    std::string ifNoneMatch;      // an ETag the caller's copy was stored with
    std::string ifModifiedSince;  // that copy's Last-Modified
};

class IHttpRequest {
public:
    virtual ~IHttpRequest() = default;  // closes the request
    // The final answer's status (200, 304, 404...).
    virtual int Status() const = 0;
    // The final answer's ETag and Last-Modified as sent; empty when absent.
    virtual std::string ETag() const = 0;
    virtual std::string LastModified() const = 0;
    // Blocks until `capacity` bytes have been delivered into `buffer` or the
    // body has ended. Returns true with `got` bytes (0 at the end of the body);
    // returns false with `got` = 0 when the transfer broke off. Bytes that
    // arrived before a break are delivered first; the break is reported by
    // the following call.
    virtual bool Read(void* buffer, std::size_t capacity, std::size_t& got) = 0;
};

class IHttpSession {
public:
    virtual ~IHttpSession() = default;  // closes the session
    // At most one request of a session is open at a time.
    virtual std::unique_ptr<IHttpRequest> OpenUrl(const char* url, const HttpRequestOptions& options) = 0;
    std::unique_ptr<IHttpRequest> OpenUrl(const char* url) { return OpenUrl(url, HttpRequestOptions{}); }
};

class IHttpClient {
public:
    virtual ~IHttpClient() = default;
    // Null when no session can be opened.
    virtual std::unique_ptr<IHttpSession> Open(const char* userAgent) = 0;
};

// The backend of this operating system.
std::unique_ptr<IHttpClient> CreateHttpClient(const HttpTimeouts& timeouts = {});

}  // namespace kivo::platform
