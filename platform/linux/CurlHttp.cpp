// libcurl backend of the HTTP client. libcurl pushes data through callbacks;
// the core wants the pull model of a synchronous read, so each request drives
// its session's multi handle until the caller's buffer is full or the body
// ends. The multi handle keeps the connection cache: the requests of one
// session, each an easy handle of its own, go over one kept-alive connection.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <strings.h>
#include <vector>

#include "platform/Http.h"
#include "platform/WireUrl.h"
#include "platform/linux/CurlLibrary.h"

namespace kivo::platform {
namespace {

// A header value without its surrounding blanks and line end.
std::string_view Trimmed(std::string_view value) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() &&
           (value.back() == '\r' || value.back() == '\n' || value.back() == ' ' || value.back() == '\t'))
        value.remove_suffix(1);
    return value;
}

// The value of `line` when it is the header `name` (with its colon).
bool HeaderValue(std::string_view line, std::string_view name, std::string& value) {
    if (line.size() < name.size() || strncasecmp(line.data(), name.data(), name.size()) != 0) return false;
    value = Trimmed(line.substr(name.size()));
    return true;
}

bool Sendable(const std::string& value) {
    return std::none_of(value.begin(), value.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

class CurlRequest final : public IHttpRequest {
public:
    CurlRequest(const CurlLibrary& curl, CURLM* multi) : m_curl(curl), m_multi(multi), m_decoder(curl.zlib) {}
    CurlRequest(const CurlRequest&) = delete;
    CurlRequest& operator=(const CurlRequest&) = delete;

    ~CurlRequest() override {
        if (m_added) m_curl.multi_remove_handle(m_multi, m_easy);
        if (m_easy != nullptr) m_curl.easy_cleanup(m_easy);
        if (m_headers != nullptr) m_curl.slist_free_all(m_headers);
    }

    int Status() const override {
        long code = m_status;
        if (code == 0) m_curl.easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &code);
        return static_cast<int>(code);
    }
    std::string ETag() const override { return m_etag; }
    std::string LastModified() const override { return m_lastModified; }

    // True once the final answer's headers are in.
    bool Start(const std::string& agent, const char* url, const HttpRequestOptions& options,
               const HttpTimeouts& timeouts) {
        m_easy = m_curl.easy_init();
        if (m_easy == nullptr) return false;
        const std::string wire = WireUrl(url);
        const long stallSeconds = std::max(1L, (timeouts.stallMs + 999) / 1000);
        bool ok = m_curl.easy_setopt(m_easy, CURLOPT_URL, wire.c_str()) == CURLE_OK;
        m_curl.easy_setopt(m_easy, CURLOPT_USERAGENT, agent.c_str());
        m_curl.easy_setopt(m_easy, CURLOPT_HTTPGET, 1L);
        m_curl.easy_setopt(m_easy, CURLOPT_PATH_AS_IS, 1L);
        m_curl.easy_setopt(m_easy, CURLOPT_FOLLOWLOCATION, 1L);
        m_curl.easy_setopt(m_easy, CURLOPT_MAXREDIRS, 10L);
        m_curl.easy_setopt(m_easy, CURLOPT_PROTOCOLS_STR, "http,https");
        m_curl.easy_setopt(m_easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        m_curl.easy_setopt(m_easy, CURLOPT_NOSIGNAL, 1L);
        m_curl.easy_setopt(m_easy, CURLOPT_CONNECTTIMEOUT_MS, timeouts.connectMs);
        m_curl.easy_setopt(m_easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
        m_curl.easy_setopt(m_easy, CURLOPT_LOW_SPEED_TIME, stallSeconds);
        m_curl.easy_setopt(m_easy, CURLOPT_HEADERFUNCTION, &CurlRequest::OnHeader);
        m_curl.easy_setopt(m_easy, CURLOPT_HEADERDATA, this);
        m_curl.easy_setopt(m_easy, CURLOPT_WRITEFUNCTION, &CurlRequest::OnBody);
        m_curl.easy_setopt(m_easy, CURLOPT_WRITEDATA, this);
        // A gzip body is decoded here (OnBody), not by libcurl; a stream that
        // does not decode, or ends before its end, ends the transfer with an
        // error, which the reads report as a break.
        m_curl.easy_setopt(m_easy, CURLOPT_HTTP_CONTENT_DECODING, 0L);
        m_wantGzip = options.acceptGzip;
        if (options.acceptGzip) AddHeader("Accept-Encoding: gzip");
        if (!options.ifNoneMatch.empty() && Sendable(options.ifNoneMatch))
            AddHeader("If-None-Match: " + options.ifNoneMatch);
        if (!options.ifModifiedSince.empty() && Sendable(options.ifModifiedSince))
            AddHeader("If-Modified-Since: " + options.ifModifiedSince);
        if (m_headers != nullptr) m_curl.easy_setopt(m_easy, CURLOPT_HTTPHEADER, m_headers);
        if (!ok || m_curl.multi_add_handle(m_multi, m_easy) != CURLM_OK) return false;
        m_added = true;
        m_spill.reserve(CURL_MAX_WRITE_SIZE);
        RunUntil([this] { return m_headersIn; });
        return m_headersIn || (m_done && m_result == CURLE_OK);
    }

    bool Read(void* buffer, std::size_t capacity, std::size_t& got) override {
        got = 0;
        m_target = static_cast<char*>(buffer);
        m_targetCap = capacity;
        m_targetLen = std::min(capacity, m_spill.size() - m_spillPos);
        if (m_targetLen > 0) std::memcpy(m_target, m_spill.data() + m_spillPos, m_targetLen);
        m_spillPos += m_targetLen;
        if (m_spillPos == m_spill.size()) {
            m_spill.clear();
            m_spillPos = 0;
        }
        if (m_targetLen < m_targetCap && m_paused) {
            m_paused = false;
            m_curl.easy_pause(m_easy, CURLPAUSE_CONT);
        }
        RunUntil([this] { return m_targetLen == m_targetCap; });
        got = m_targetLen;
        m_target = nullptr;
        m_targetCap = m_targetLen = 0;
        if (got > 0) return true;
        return !(m_done && m_result != CURLE_OK);
    }

private:
    void AddHeader(const std::string& header) {
        if (curl_slist* list = m_curl.slist_append(m_headers, header.c_str())) m_headers = list;
    }

    // Drives the transfer until `reached` holds or the transfer has ended,
    // waiting for the socket only while neither is the case.
    template <typename Condition>
    void RunUntil(Condition reached) {
        for (;;) {
            int running = 0;
            if (m_curl.multi_perform(m_multi, &running) != CURLM_OK) {
                m_done = true;
                m_result = CURLE_FAILED_INIT;
                return;
            }
            int queued = 0;
            while (CURLMsg* msg = m_curl.multi_info_read(m_multi, &queued)) {
                if (msg->msg == CURLMSG_DONE) {
                    m_done = true;
                    m_result = msg->data.result;
                    if (m_result == CURLE_OK && m_decoder.Unfinished()) m_result = CURLE_BAD_CONTENT_ENCODING;
                }
            }
            if (m_done || reached()) return;
            m_curl.multi_poll(m_multi, nullptr, 0, 1000, nullptr);
        }
    }

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
        auto* request = static_cast<CurlRequest*>(self);
        const std::size_t length = size * count;
        const std::string_view line(data, length);
        if (line.rfind("HTTP/", 0) == 0) {
            // A new answer (after a redirect or an interim one): its own headers.
            request->m_redirecting = false;
            request->m_etag.clear();
            request->m_lastModified.clear();
            request->m_encoding.clear();
        } else if (line.size() >= 9 && strncasecmp(line.data(), "location:", 9) == 0) {
            request->m_redirecting = true;
        } else if (line == "\r\n" || line == "\n") {
            long code = 0;
            request->m_curl.easy_getinfo(request->m_easy, CURLINFO_RESPONSE_CODE, &code);
            // A 304 answers a conditional request: it is final, not followed.
            const bool followed = code >= 300 && code < 400 && code != 304 && request->m_redirecting;
            if (code >= 200 && !followed) {
                request->m_headersIn = true;
                request->m_status = code;
                const std::string& coding = request->m_encoding;
                request->m_gzip = request->m_wantGzip && (strcasecmp(coding.c_str(), "gzip") == 0 ||
                                                          strcasecmp(coding.c_str(), "x-gzip") == 0);
            }
        } else if (!HeaderValue(line, "etag:", request->m_etag) &&
                   !HeaderValue(line, "last-modified:", request->m_lastModified)) {
            HeaderValue(line, "content-encoding:", request->m_encoding);
        }
        return length;
    }

    // Fills the caller's buffer; a chunk that does not fit is kept in the
    // spill, and the transfer is paused while there is no room at all, so
    // that at most one chunk is ever held here.
    // A gzip body's chunk decoded, whatever it holds (what is kept is one
    // decoded chunk). The whole chunk is decoded before any of it is
    // delivered: a chunk is never paused half-way.
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) {
        auto* request = static_cast<CurlRequest*>(self);
        const std::size_t length = size * count;
        request->m_headersIn = true;
        if (request->m_target == nullptr || request->m_targetLen == request->m_targetCap) {
            request->m_paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        std::string_view bytes(data, length);
        if (request->m_gzip) {
            // Not gzip: the transfer fails.
            if (!request->m_decoder.Decode(bytes, request->m_decoded)) return 0;
            bytes = request->m_decoded;
        }
        const std::size_t taken = std::min(bytes.size(), request->m_targetCap - request->m_targetLen);
        if (taken > 0) std::memcpy(request->m_target + request->m_targetLen, bytes.data(), taken);
        request->m_targetLen += taken;
        request->m_spill.assign(bytes.begin() + static_cast<std::ptrdiff_t>(taken), bytes.end());
        request->m_spillPos = 0;
        return length;
    }

    const CurlLibrary& m_curl;
    CURLM* const m_multi;
    CURL* m_easy = nullptr;
    curl_slist* m_headers = nullptr;
    bool m_added = false;
    long m_status = 0;
    std::string m_etag;
    std::string m_lastModified;
    std::string m_encoding;
    bool m_wantGzip = false;
    bool m_gzip = false;  // the body is decoded here
    GzipDecoder m_decoder;
    std::string m_decoded;
    bool m_headersIn = false;
    bool m_redirecting = false;
    bool m_paused = false;
    bool m_done = false;
    CURLcode m_result = CURLE_OK;
    // The part of a chunk that did not fit the caller's buffer.
    std::vector<char> m_spill;
    std::size_t m_spillPos = 0;
    char* m_target = nullptr;
    std::size_t m_targetCap = 0;
    std::size_t m_targetLen = 0;
};

class CurlSession final : public IHttpSession {
public:
    CurlSession(const CurlLibrary& curl, CURLM* multi, std::string agent, const HttpTimeouts& timeouts)
        : m_curl(curl), m_multi(multi), m_agent(std::move(agent)), m_timeouts(timeouts) {}
    CurlSession(const CurlSession&) = delete;
    CurlSession& operator=(const CurlSession&) = delete;
    // Closes the connections kept alive.
    ~CurlSession() override { m_curl.multi_cleanup(m_multi); }

    std::unique_ptr<IHttpRequest> OpenUrl(const char* url, const HttpRequestOptions& options) override {
        auto request = std::make_unique<CurlRequest>(m_curl, m_multi);
        if (!request->Start(m_agent, url, options, m_timeouts)) return nullptr;
        return request;
    }

private:
    const CurlLibrary& m_curl;
    CURLM* const m_multi;
    std::string m_agent;
    HttpTimeouts m_timeouts;
};

class CurlClient final : public IHttpClient {
public:
    explicit CurlClient(const HttpTimeouts& timeouts) : m_timeouts(timeouts) {}

    std::unique_ptr<IHttpSession> Open(const char* userAgent) override {
        const CurlLibrary* curl = Curl();
        if (curl == nullptr) return nullptr;
        CURLM* multi = curl->multi_init();
        if (multi == nullptr) return nullptr;
        return std::make_unique<CurlSession>(*curl, multi, userAgent, m_timeouts);
    }

private:
    HttpTimeouts m_timeouts;
};

}  // namespace

std::unique_ptr<IHttpClient> CreateHttpClient(const HttpTimeouts& timeouts) {
    return std::make_unique<CurlClient>(timeouts);
}

}  // namespace kivo::platform
