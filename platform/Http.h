#pragma once
// HTTP client seen by the core: a root session opened with a user agent, URL
// requests opened on it, and a blocking sequential body read. Each backend
// (libcurl on Linux, WinINet on Windows) behaves the same way:
//  - the system's proxy configuration is used, redirects are followed and the
//    answer is never stored in a shared cache;
//  - OpenUrl returns once the final answer's headers are in, or null when no
//    answer can be had (refused, unreachable, time-out, malformed URL);
//  - the HTTP status is not reported: every answer is content.
#include <cstddef>
#include <memory>

namespace kivo::platform {

struct HttpTimeouts {
    // Longest wait for a connection to be established.
    long connectMs = 15000;
    // A transfer that delivers no byte for this long is abandoned.
    long stallMs = 30000;
};

class IHttpRequest {
public:
    virtual ~IHttpRequest() = default;  // closes the request
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
    virtual std::unique_ptr<IHttpRequest> OpenUrl(const char* url) = 0;
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
