// kivo-server-double: the content server as the tests need it. The public
// port answers like kivo-server (its own page rendering and routes), except
// that faults set per path through the control port take over a path, the
// published version and installers can be changed at any time (installers
// are read at each request), and every request target is written down.
//
//   kivo-server-double --port N --control-port N [kivo-server's options]
//
// Control port (GET; 200 "ok" or data, 400 for bad parameters):
//   /fault?path=P&mode=M...  size&size=N, status&code=C&size=N, cut&size=N
//                            (announces N, sends N/2, drops the connection),
//                            stall&ms=T (silent, then the normal answer),
//                            slow&size=N&ms=T, body&hex=HEX, gzip&size=N or
//                            gzip&hex=HEX (gzipped, whatever was asked),
//                            badgzip (a gzip head, then no deflate data),
//                            gzipcut&size=N (the first half of N pattern
//                            bytes gzipped, sent as a whole body)
//   /fault/clear[?path=P]  /version?number=N  /update?path=FILE[&platform=P]
//   /requests  /requests/clear  /emails  /emails/clear (hex)  /reset
//   /connections  /connections/clear  (connections opened on the public port)
//   /close-each?on=1|0  (pages plain, unconditional, and the connection
//                        closed after each answer)
//   /conditional  (requests that carried If-None-Match or If-Modified-Since)
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>

#include "Content.h"
#include "HttpServer.h"
#include "MailStore.h"
#include "Pattern.h"
#include "PublicSite.h"
#include "ServerOptions.h"
#include "TextCodec.h"
#include "zlib.h"

namespace {

using namespace kivo::server;
using Clock = std::chrono::steady_clock;

struct Fault {
    std::string mode;
    std::size_t size = 0;
    unsigned code = 200;
    std::chrono::milliseconds ms{0};
    std::string body;
};

// Everything the control port changes, behind one lock.
struct State {
    explicit State(const Release& published) : initial(published), release(published) {}
    void Reset() {
        faults.clear();
        requests.clear();
        release = initial;
        connections = 0;
        conditional = 0;
        closeEach = false;
    }
    // Sleeps until `due`; false when the server stops first.
    bool SleepUntil(Clock::time_point due) {
        std::unique_lock<std::mutex> lock(mutex);
        return !stopped.wait_until(lock, due, [this] { return stopping; });
    }

    std::mutex mutex;
    std::condition_variable stopped;
    bool stopping = false;
    std::map<std::string, Fault> faults;
    std::vector<std::string> requests;
    const Release initial;
    Release release;
    std::atomic<std::uint64_t> connections{0};
    std::uint64_t conditional = 0;
    bool closeEach = false;
};

// Counts the connections the public port accepts.
class ConnectionCounter final : public RequestObserver {
public:
    explicit ConnectionCounter(State& state) : state_(state) {}
    void Answered(const Exchange&, unsigned, std::uint64_t) override {}
    void ConnectionOpened() override { state_.connections.fetch_add(1); }

private:
    State& state_;
};

// A body of `size` pattern bytes, paced over `ms` in 16 steps, cut after
// `cutAt` bytes (the connection is dropped there).
struct PatternBody {
    std::size_t size;
    std::size_t cutAt;
    std::chrono::milliseconds ms;
    State* state;
    Clock::time_point start{};

    static ssize_t Read(void* cls, std::uint64_t offset, char* buffer, std::size_t max) {
        auto* body = static_cast<PatternBody*>(cls);
        if (offset >= body->cutAt) return MHD_CONTENT_READER_END_WITH_ERROR;
        std::size_t end = std::min<std::size_t>(body->cutAt, offset + max);
        if (body->ms.count() > 0) {
            if (offset == 0) body->start = Clock::now();
            const std::size_t steps = std::min<std::size_t>(16, body->size);
            std::size_t step = 0;
            while ((step + 1) * body->size / steps <= offset) ++step;
            end = std::min(end, (step + 1) * body->size / steps);
            if (!body->state->SleepUntil(body->start +
                                         body->ms * static_cast<long>(step + 1) / static_cast<long>(steps)))
                return MHD_CONTENT_READER_END_WITH_ERROR;
        }
        const std::string bytes = PatternBytes(end - offset, offset);
        std::copy(bytes.begin(), bytes.end(), buffer);
        return static_cast<ssize_t>(bytes.size());
    }
    static void Free(void* cls) { delete static_cast<PatternBody*>(cls); }
};

MHD_Result Send(Exchange& exchange, unsigned status, MHD_Response* response) {
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "application/octet-stream");
    const MHD_Result queued = exchange.Reply(status, response);
    MHD_destroy_response(response);
    return queued;
}

MHD_Result Bytes(Exchange& exchange, unsigned status, const std::string& bytes, const char* encoding = nullptr,
                 bool close = false) {
    MHD_Response* response =
        MHD_create_response_from_buffer(bytes.size(), const_cast<char*>(bytes.data()), MHD_RESPMEM_MUST_COPY);
    if (encoding != nullptr) MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_ENCODING, encoding);
    if (close) MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    return Send(exchange, status, response);
}

MHD_Result Pattern(Exchange& exchange, State& state, unsigned status, std::size_t size, std::size_t cutAt,
                   std::chrono::milliseconds ms = {}) {
    if (size == 0) return Bytes(exchange, status, "");
    return Send(exchange, status,
                MHD_create_response_from_callback(size, 64 * 1024, &PatternBody::Read,
                                                  new PatternBody{size, cutAt, ms, &state}, &PatternBody::Free));
}

// The installer of a platform, or its signature, as the file is now.
MHD_Result Installer(Exchange& exchange, State& state, std::string path) {
    const bool signature = path.ends_with(".sig");
    if (signature) path.resize(path.size() - 4);
    std::string platform = "?";
    if (path == "/update/update.exe")
        platform.clear();
    else if (path.ends_with("/update") && path.size() > 15)
        platform = path.substr(8, path.size() - 15);
    std::string file;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        const auto it = state.release.installers.find(platform);
        if (it != state.release.installers.end()) file = it->second;
    }
    std::ifstream in(file + (signature ? ".sig" : ""), std::ios::binary);
    if (file.empty() || !in) return exchange.Text(404, "404 not found\n");
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return Bytes(exchange, 200, bytes.str());
}

MHD_Result Public(Exchange& exchange, State& state, PublicSite& site, const Content& content) {
    if (exchange.step != 0) return site.Handle(exchange);  // a subscription coming back
    const std::string path(exchange.Path());
    std::optional<Fault> fault;
    bool closeEach = false;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.requests.push_back(exchange.Target());
        if (const auto it = state.faults.find(path); it != state.faults.end()) fault = it->second;
        if (!exchange.Header(MHD_HTTP_HEADER_IF_NONE_MATCH).empty() ||
            !exchange.Header(MHD_HTTP_HEADER_IF_MODIFIED_SINCE).empty())
            ++state.conditional;
        closeEach = state.closeEach;
    }
    if (closeEach && !fault && exchange.Method() == "GET") {
        if (const PublicFile* file = content.Find(path)) return Bytes(exchange, 200, file->body, nullptr, true);
    }
    if (fault && exchange.Method() == "GET") {
        if (fault->mode == "size") return Pattern(exchange, state, 200, fault->size, fault->size);
        if (fault->mode == "status") return Pattern(exchange, state, fault->code, fault->size, fault->size);
        if (fault->mode == "cut") return Pattern(exchange, state, 200, fault->size, fault->size / 2);
        if (fault->mode == "slow") return Pattern(exchange, state, 200, fault->size, fault->size, fault->ms);
        if (fault->mode == "body") return Bytes(exchange, 200, fault->body);
        if (fault->mode == "gzip")
            return Bytes(exchange, 200, Gzip(fault->body.empty() ? PatternBytes(fault->size) : fault->body), "gzip");
        if (fault->mode == "gzipcut") {
            const std::string packed = Gzip(PatternBytes(fault->size));
            return Bytes(exchange, 200, packed.substr(0, packed.size() / 2), "gzip");
        }
        // A gzip member's head, then a deflate block of the reserved type.
        if (fault->mode == "badgzip")
            return Bytes(exchange, 200, std::string("\x1f\x8b\x08\0\0\0\0\0\0\x03\xff\xff\xff\xff", 14), "gzip");
        if (!state.SleepUntil(Clock::now() + fault->ms)) return exchange.Text(503, "503 shutting down\n", true);
    }
    if (!exchange.IsGet()) return site.Handle(exchange);
    if (path == Content::kVersionPath) {
        const std::string platform(exchange.Query("platform"));
        std::lock_guard<std::mutex> lock(state.mutex);
        const auto file = state.release.installers.find(platform);
        const bool offered = platform.empty() || (file != state.release.installers.end() && !file->second.empty());
        return exchange.Text(200, "version:" + std::to_string(offered ? state.release.version : 0));
    }
    if (path.starts_with("/update/")) return Installer(exchange, state, path);
    return site.Handle(exchange);
}

std::optional<std::uint64_t> Number(const Exchange& exchange, const char* name, std::uint64_t max) {
    const std::string_view text = exchange.Query(name);
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > max) return std::nullopt;
    return value;
}

MHD_Result Control(Exchange& exchange, State& state, MailStore& mail) {
    const std::string_view path = exchange.Path();
    std::string out = "ok";
    std::lock_guard<std::mutex> lock(state.mutex);
    if (path == "/fault") {
        static const std::set<std::string> kModes = {"size", "status", "cut",     "stall",  "slow",
                                                     "body", "gzip",   "badgzip", "gzipcut"};
        const std::string target(exchange.Query("path"));
        const auto size = Number(exchange, "size", 1ull << 30), ms = Number(exchange, "ms", 600000),
                   code = Number(exchange, "code", 599);
        const auto hex = HexDecode(exchange.Query("hex"));
        Fault fault{std::string(exchange.Query("mode")), static_cast<std::size_t>(size.value_or(0)),
                    static_cast<unsigned>(code.value_or(200)), std::chrono::milliseconds(ms.value_or(0)),
                    hex.value_or("")};
        if (!target.starts_with("/") || !kModes.count(fault.mode) || fault.code < 200 || (fault.mode == "body" && !hex))
            return exchange.Text(400, "400 bad fault\n");
        state.faults[target] = fault;
    } else if (path == "/fault/clear") {
        if (exchange.Query("path").empty())
            state.faults.clear();
        else
            state.faults.erase(std::string(exchange.Query("path")));
    } else if (path == "/version") {
        const auto number = Number(exchange, "number", UINT64_MAX);
        if (!number) return exchange.Text(400, "400 number must be a non-negative integer\n");
        state.release.version = *number;
    } else if (path == "/update") {
        state.release.installers[std::string(exchange.Query("platform"))] = exchange.Query("path");
    } else if (path == "/requests") {
        out.clear();
        for (const std::string& target : state.requests) out += target + "\n";
    } else if (path == "/requests/clear") {
        state.requests.clear();
    } else if (path == "/emails") {
        out.clear();
        for (const std::string& address : mail.All()) out += HexEncode(address) + "\n";
    } else if (path == "/emails/clear") {
        mail.Clear();
    } else if (path == "/connections") {
        out = std::to_string(state.connections.load());
    } else if (path == "/connections/clear") {
        state.connections = 0;
    } else if (path == "/conditional") {
        out = std::to_string(state.conditional);
    } else if (path == "/close-each") {
        state.closeEach = exchange.Query("on") == "1";
    } else if (path == "/reset") {
        state.Reset();
    } else {
        return exchange.Text(404, "404 not found\n");
    }
    return exchange.Text(200, out);
}

}  // namespace

int main(int argc, char** argv) {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int s : {SIGTERM, SIGINT}) {
        signal(s, SIG_DFL);
        sigaddset(&signals, s);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::vector<std::string> args(argv + 1, argv + argc);
    int controlPort = 0;
    if (const auto it = std::find(args.begin(), args.end(), "--control-port");
        it != args.end() && it + 1 != args.end()) {
        controlPort = std::atoi((it + 1)->c_str());
        args.erase(it, it + 2);
    }
    try {
        const ServerOptions options = ServerOptions::Parse(args);
        State state(options.ToRelease());
        const std::unique_ptr<MailStore> mail = OpenMailStore(options.db);
        const std::shared_ptr<const Content> content = Content::Load(options.dataDir, Release{});
        PublicSite site(content, *mail);
        ConnectionCounter counter(state);

        // A thread per connection: a stalled or slow answer holds only its own.
        HttpServer::Settings settings;
        settings.host = options.host;
        settings.threadPerConnection = true;
        settings.requestDeadline = std::chrono::milliseconds(0);
        settings.sendTimeoutSeconds = 0;
        settings.port = options.port;
        settings.observers = {&counter};
        HttpServer publicServer(settings, [&](Exchange& exchange) { return Public(exchange, state, site, *content); });
        settings.port = controlPort;
        settings.observers.clear();
        HttpServer controlServer(settings, [&](Exchange& exchange) {
            try {
                return Control(exchange, state, *mail);
            } catch (const std::exception& e) {
                return exchange.Text(500, std::string("500 ") + e.what() + "\n");
            }
        });
        std::printf("listening %d %d\n", publicServer.Port(), controlServer.Port());
        std::fflush(stdout);

        int received = 0;
        sigwait(&signals, &received);
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            state.stopping = true;
        }
        state.stopped.notify_all();
        site.Close();
        controlServer.Stop();
        publicServer.Stop();
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "kivo-server-double: " << e.what() << "\n";
        return dynamic_cast<const UsageError*>(&e) != nullptr ? 2 : 1;
    }
}
