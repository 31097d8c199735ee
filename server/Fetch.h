// One polite HTTP GET of a feed with libcurl: http and https only (TLS
// verified), few redirects, bounded time and size, gzip accepted, validators
// of the previous answer sent back.
#pragma once

#include <atomic>
#include <string>

namespace kivo::server {

struct FetchLimits {
    long maxRedirects = 3;
    long connectMs = 5000;
    long totalMs = 15000;
    std::size_t maxBytes = 2 * 1024 * 1024;  // after decoding
};

struct FetchRequest {
    std::string url;
    std::string etag;                           // sent as If-None-Match when not empty
    std::string lastModified;                   // sent as If-Modified-Since when not empty
    const std::atomic<bool>* cancel = nullptr;  // set: the transfer stops soon
};

struct FetchResult {
    enum class Outcome { Ok, NotModified, Failed };
    Outcome outcome = Outcome::Failed;
    long status = 0;
    std::string body;
    std::string etag, lastModified;  // of the answer
    long retryAfterSeconds = -1;     // Retry-After of the answer (seconds or date), -1 without
    std::string error;               // why it failed, for the operator
};

// The user agent of every request: "kivo-server/VERSION".
const std::string& FetchUserAgent();

// Never throws. Ok only for a 2xx answer read whole within the limits.
FetchResult Fetch(const FetchRequest& request, const FetchLimits& limits = {});

}  // namespace kivo::server
