// libcurl backend of the HTTP client. libcurl pushes data through callbacks;
// the core wants the pull model of a synchronous read, so each request drives
// its own multi handle until the caller's buffer is full or the body ends.
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

class CurlRequest final : public IHttpRequest {
public:
    explicit CurlRequest(const CurlLibrary& curl) : m_curl(curl) {}
    CurlRequest(const CurlRequest&) = delete;
    CurlRequest& operator=(const CurlRequest&) = delete;

    ~CurlRequest() override {
        if (m_multi != nullptr && m_easy != nullptr) m_curl.multi_remove_handle(m_multi, m_easy);
        if (m_easy != nullptr) m_curl.easy_cleanup(m_easy);
        if (m_multi != nullptr) m_curl.multi_cleanup(m_multi);
    }

    // True once the final answer's headers are in.
    bool Start(const std::string& agent, const char* url, const HttpTimeouts& timeouts) {
        m_multi = m_curl.multi_init();
        m_easy = m_curl.easy_init();
        if (m_multi == nullptr || m_easy == nullptr) return false;
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
        if (!ok || m_curl.multi_add_handle(m_multi, m_easy) != CURLM_OK) return false;
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
            request->m_redirecting = false;
        } else if (line.size() >= 9 && strncasecmp(line.data(), "location:", 9) == 0) {
            request->m_redirecting = true;
        } else if (line == "\r\n" || line == "\n") {
            long code = 0;
            request->m_curl.easy_getinfo(request->m_easy, CURLINFO_RESPONSE_CODE, &code);
            const bool followed = code >= 300 && code < 400 && request->m_redirecting;
            if (code >= 200 && !followed) request->m_headersIn = true;
        }
        return length;
    }

    // Fills the caller's buffer; a chunk that does not fit is kept in the
    // spill, and the transfer is paused while there is no room at all, so
    // that at most one chunk is ever held here.
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) {
        auto* request = static_cast<CurlRequest*>(self);
        const std::size_t length = size * count;
        request->m_headersIn = true;
        if (request->m_target == nullptr || request->m_targetLen == request->m_targetCap) {
            request->m_paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        const std::size_t taken = std::min(length, request->m_targetCap - request->m_targetLen);
        if (taken > 0) std::memcpy(request->m_target + request->m_targetLen, data, taken);
        request->m_targetLen += taken;
        request->m_spill.assign(data + taken, data + length);
        request->m_spillPos = 0;
        return length;
    }

    const CurlLibrary& m_curl;
    CURLM* m_multi = nullptr;
    CURL* m_easy = nullptr;
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
    CurlSession(const CurlLibrary& curl, std::string agent, const HttpTimeouts& timeouts)
        : m_curl(curl), m_agent(std::move(agent)), m_timeouts(timeouts) {}

    std::unique_ptr<IHttpRequest> OpenUrl(const char* url) override {
        auto request = std::make_unique<CurlRequest>(m_curl);
        if (!request->Start(m_agent, url, m_timeouts)) return nullptr;
        return request;
    }

private:
    const CurlLibrary& m_curl;
    std::string m_agent;
    HttpTimeouts m_timeouts;
};

class CurlClient final : public IHttpClient {
public:
    explicit CurlClient(const HttpTimeouts& timeouts) : m_timeouts(timeouts) {}

    std::unique_ptr<IHttpSession> Open(const char* userAgent) override {
        const CurlLibrary* curl = Curl();
        if (curl == nullptr) return nullptr;
        return std::make_unique<CurlSession>(*curl, userAgent, m_timeouts);
    }

private:
    HttpTimeouts m_timeouts;
};

}  // namespace

std::unique_ptr<IHttpClient> CreateHttpClient(const HttpTimeouts& timeouts) {
    return std::make_unique<CurlClient>(timeouts);
}

}  // namespace kivo::platform
