// WinINet backend of the HTTP client: one root handle per session
// (InternetOpenA), one URL handle per request (InternetOpenUrlA) and
// synchronous reads (InternetReadFile). Handles are plain synchronous ones:
// every call blocks its thread until it is done. WinINet keeps a finished
// request's connection alive for the next request of the same root handle.
// Gzip bodies are decoded here with zlib rather than by WinINet, which takes
// a gzip stream cut short for a whole one.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/GzipDecoder.h"
#include "platform/Http.h"
#include "platform/WireUrl.h"

namespace kivo::platform {
namespace {

// zlib, linked in.
const ZlibCalls kZlib{&inflateInit2_, &::inflate, &inflateReset, &inflateEnd};

DWORD Milliseconds(long ms) { return static_cast<DWORD>(std::clamp<long>(ms, 1, LONG_MAX)); }

// A header of the answer as text; empty when absent.
std::string QueryText(HINTERNET handle, DWORD info) {
    char text[512] = {};
    DWORD size = sizeof text - 1;
    if (!HttpQueryInfoA(handle, info, text, &size, nullptr)) return {};
    return std::string(text, std::min<DWORD>(size, sizeof text - 1));
}

bool Sendable(const std::string& value) {
    return std::none_of(value.begin(), value.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// The request's added headers, each ending with CR LF.
std::string AddedHeaders(const HttpRequestOptions& options) {
    std::string headers;
    if (options.acceptGzip) headers += "Accept-Encoding: gzip\r\n";
    if (!options.ifNoneMatch.empty() && Sendable(options.ifNoneMatch))
        headers += "If-None-Match: " + options.ifNoneMatch + "\r\n";
    if (!options.ifModifiedSince.empty() && Sendable(options.ifModifiedSince))
        headers += "If-Modified-Since: " + options.ifModifiedSince + "\r\n";
    return headers;
}

// Closes a WinINet handle when it goes.
class InternetHandle {
public:
    explicit InternetHandle(HINTERNET handle = nullptr) : m_handle(handle) {}
    ~InternetHandle() {
        if (m_handle != nullptr) InternetCloseHandle(m_handle);
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    HINTERNET Get() const { return m_handle; }

private:
    HINTERNET m_handle;
};

class WinInetRequest final : public IHttpRequest {
public:
    WinInetRequest(HINTERNET url, bool acceptGzip) : m_url(url), m_decoder(kZlib) {
        // A body whose announced length is not reached before the data ends
        // was cut off: WinINet reports a connection closed early as a normal
        // end. The header is read as text (Wine answers no 64-bit number).
        // A gzip body's length counts its bytes as they came, before decoding.
        const std::string length = QueryText(m_url.Get(), HTTP_QUERY_CONTENT_LENGTH);
        if (!length.empty()) {
            const auto [end, error] = std::from_chars(length.data(), length.data() + length.size(), m_length);
            m_announced = error == std::errc() && end == length.data() + length.size();
        }
        DWORD status = 0;
        DWORD size = sizeof status;
        if (HttpQueryInfoA(m_url.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
            m_status = static_cast<int>(status);
        m_etag = QueryText(m_url.Get(), HTTP_QUERY_ETAG);
        m_lastModified = QueryText(m_url.Get(), HTTP_QUERY_LAST_MODIFIED);
        const std::string coding = QueryText(m_url.Get(), HTTP_QUERY_CONTENT_ENCODING);
        m_gzip = acceptGzip && (lstrcmpiA(coding.c_str(), "gzip") == 0 || lstrcmpiA(coding.c_str(), "x-gzip") == 0);
    }
    WinInetRequest(const WinInetRequest&) = delete;
    WinInetRequest& operator=(const WinInetRequest&) = delete;

    int Status() const override { return m_status; }
    std::string ETag() const override { return m_etag; }
    std::string LastModified() const override { return m_lastModified; }

    bool Read(void* buffer, std::size_t capacity, std::size_t& got) override {
        if (!m_gzip) return ReadRaw(buffer, capacity, got);
        // Decoded bytes until the buffer is full or the stream has ended; a
        // stream that does not decode, or whose body ends before the stream
        // does, is a break.
        got = 0;
        auto* out = static_cast<char*>(buffer);
        while (got < capacity) {
            if (m_decodedPos < m_decoded.size()) {
                const std::size_t n = std::min(capacity - got, m_decoded.size() - m_decodedPos);
                std::memcpy(out + got, m_decoded.data() + m_decodedPos, n);
                m_decodedPos += n;
                got += n;
                continue;
            }
            if (m_bodyEnded || m_decodeFailed) break;
            char raw[16384];
            std::size_t n = 0;
            if (!ReadRaw(raw, sizeof raw, n)) {
                m_decodeFailed = true;
            } else if (n == 0) {
                m_bodyEnded = true;
                if (m_decoder.Unfinished()) m_decodeFailed = true;
            } else {
                m_decodedPos = 0;
                if (!m_decoder.Decode(std::string_view(raw, n), m_decoded)) m_decodeFailed = true;
            }
        }
        if (got > 0) return true;
        return !m_decodeFailed;
    }

private:
    // The body's bytes as they came.
    bool ReadRaw(void* buffer, std::size_t capacity, std::size_t& got) {
        got = 0;
        auto* out = static_cast<char*>(buffer);
        // A synchronous InternetReadFile may deliver fewer bytes than asked
        // before the end of the body: read on until the buffer is full, the
        // body ends or the transfer breaks.
        while (got < capacity && !m_ended && !m_broken) {
            const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(capacity - got, MAXDWORD));
            DWORD n = 0;
            if (!InternetReadFile(m_url.Get(), out + got, ask, &n)) {
                m_broken = true;
            } else if (n == 0) {
                m_ended = true;
                if (m_announced && m_received < m_length) m_broken = true;
            } else {
                got += n;
                m_received += n;
            }
        }
        // Bytes that came before a break are delivered now; the break is
        // reported by the next call.
        if (got > 0) return true;
        return !m_broken;
    }

    InternetHandle m_url;
    int m_status = 0;
    bool m_gzip = false;  // the body is decoded here
    bool m_bodyEnded = false;
    bool m_decodeFailed = false;
    GzipDecoder m_decoder;
    std::string m_decoded;
    std::size_t m_decodedPos = 0;
    std::string m_etag;
    std::string m_lastModified;
    bool m_announced = false;
    unsigned long long m_length = 0;
    unsigned long long m_received = 0;
    bool m_ended = false;
    bool m_broken = false;
};

class WinInetSession final : public IHttpSession {
public:
    explicit WinInetSession(HINTERNET root) : m_root(root) {}

    std::unique_ptr<IHttpRequest> OpenUrl(const char* url, const HttpRequestOptions& options) override {
        const std::string wire = WireUrl(url);
        const std::string headers = AddedHeaders(options);
        // The answer is not added to the shared cache. Redirects are
        // followed, as WinINet does by default.
        HINTERNET handle = InternetOpenUrlA(m_root.Get(), wire.c_str(), headers.empty() ? nullptr : headers.c_str(),
                                            static_cast<DWORD>(headers.size()), INTERNET_FLAG_NO_CACHE_WRITE, 0);
        if (handle == nullptr) return nullptr;
        return std::make_unique<WinInetRequest>(handle, options.acceptGzip);
    }

private:
    InternetHandle m_root;
};

class WinInetClient final : public IHttpClient {
public:
    explicit WinInetClient(const HttpTimeouts& timeouts) : m_timeouts(timeouts) {}

    std::unique_ptr<IHttpSession> Open(const char* userAgent) override {
        // The system's proxy configuration, synchronous handles.
        HINTERNET root = InternetOpenA(userAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        if (root == nullptr) return nullptr;
        // Options set on the root handle hold for the URL handles opened on
        // it. WinINet's receive time-out bounds each wait for data, which is
        // the stall rule: a transfer that keeps moving is never cut. (Wine 8
        // applies only the connect time-out of a root handle: under Wine a
        // server that accepts and then stays silent holds the transfer.)
        DWORD connect = Milliseconds(m_timeouts.connectMs);
        DWORD stall = Milliseconds(m_timeouts.stallMs);
        InternetSetOptionA(root, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
        InternetSetOptionA(root, INTERNET_OPTION_SEND_TIMEOUT, &stall, sizeof stall);
        InternetSetOptionA(root, INTERNET_OPTION_RECEIVE_TIMEOUT, &stall, sizeof stall);
        return std::make_unique<WinInetSession>(root);
    }

private:
    HttpTimeouts m_timeouts;
};

}  // namespace

std::unique_ptr<IHttpClient> CreateHttpClient(const HttpTimeouts& timeouts) {
    return std::make_unique<WinInetClient>(timeouts);
}

}  // namespace kivo::platform
