#include "Fetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <ctime>
#include <memory>
#include <mutex>

#ifndef KIVO_VERSION
#define KIVO_VERSION "0"
#endif

namespace kivo::server {
namespace {

struct Transfer {
    const FetchLimits* limits;
    FetchResult* result;
    const std::atomic<bool>* cancel;
    bool tooLarge = false;
};

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* cancel = static_cast<Transfer*>(user)->cancel;
    return cancel != nullptr && cancel->load() ? 1 : 0;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::size_t bytes = size * count;
    if (transfer->result->body.size() + bytes > transfer->limits->maxBytes) {
        transfer->tooLarge = true;
        return 0;  // stops the transfer: no more is read or inflated
    }
    transfer->result->body.append(data, bytes);
    return bytes;
}

std::string Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return std::string(text);
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* result = static_cast<Transfer*>(user)->result;
    const std::size_t bytes = size * count;
    const std::string_view line(data, bytes);
    if (line.starts_with("HTTP/")) {  // a new answer (after a redirect): forget the last one's
        result->etag.clear();
        result->lastModified.clear();
        result->retryAfterSeconds = -1;
        return bytes;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return bytes;
    std::string name(line.substr(0, colon));
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    const std::string value = Trim(line.substr(colon + 1));
    if (value.size() > 512) return bytes;
    if (name == "etag") {
        result->etag = value;
    } else if (name == "last-modified") {
        result->lastModified = value;
    } else if (name == "retry-after") {
        long seconds = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), seconds);
        if (!value.empty() && ec == std::errc() && end == value.data() + value.size() && seconds >= 0) {
            result->retryAfterSeconds = seconds;
        } else {
            const time_t when = curl_getdate(value.c_str(), nullptr);
            if (when > 0) result->retryAfterSeconds = std::max<long>(0, static_cast<long>(when - std::time(nullptr)));
        }
    }
    return bytes;
}

struct EasyFree {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

const std::string& FetchUserAgent() {
    static const std::string agent = "kivo-server/" KIVO_VERSION;
    return agent;
}

FetchResult Fetch(const FetchRequest& request, const FetchLimits& limits) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    FetchResult result;
    std::unique_ptr<CURL, EasyFree> curl(curl_easy_init());
    if (!curl) {
        result.error = "cannot start a transfer";
        return result;
    }
    Transfer transfer{&limits, &result, request.cancel};
    std::unique_ptr<curl_slist, ListFree> headers;
    const auto add = [&](const std::string& header) {
        headers.reset(curl_slist_append(headers.release(), header.c_str()));
    };
    if (!request.etag.empty()) add("If-None-Match: " + request.etag);
    if (!request.lastModified.empty()) add("If-Modified-Since: " + request.lastModified);

    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, limits.maxRedirects);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, limits.connectMs);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, limits.totalMs);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "gzip");
    curl_easy_setopt(c, CURLOPT_USERAGENT, FetchUserAgent().c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
    if (limits.maxBytes < static_cast<std::size_t>(INT64_MAX))
        curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limits.maxBytes));

    const CURLcode code = curl_easy_perform(c);
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &result.status);
    if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        result.error = "answer larger than " + std::to_string(limits.maxBytes / 1024) + " KiB";
    } else if (code == CURLE_TOO_MANY_REDIRECTS) {
        result.error = "more than " + std::to_string(limits.maxRedirects) + " redirects";
    } else if (code == CURLE_OPERATION_TIMEDOUT) {
        result.error = "no complete answer within " + std::to_string(limits.totalMs / 1000) + " s";
    } else if (code == CURLE_ABORTED_BY_CALLBACK) {
        result.error = "stopped";
    } else if (code != CURLE_OK) {
        result.error = curl_easy_strerror(code);
    } else if (result.status == 304) {
        result.outcome = FetchResult::Outcome::NotModified;
    } else if (result.status < 200 || result.status > 299) {
        result.error = "HTTP status " + std::to_string(result.status);
    } else {
        result.outcome = FetchResult::Outcome::Ok;
    }
    if (result.outcome != FetchResult::Outcome::Ok) result.body.clear();
    return result;
}

}  // namespace kivo::server
