// kivo-bench-traffic: what one installed client costs the operator in a day.
// A simulated day of the program's refreshes (48, one every 30 minutes, after
// a refresh that stands for yesterday's cache) and its version check, by the
// real refresh code against the real kivo-server, while the lists change as
// they do in service: the fast lists (today, week, hot) every 10 minutes,
// the others twice a day. The list files are rewritten in the server's data
// folder between refreshes and the server reloads them (waited for until
// each changed page has a new ETag).
//
// Each run measures the same day twice, paired:
//   - before: each file over a connection of its own, plain and
//     unconditional (a client that strips what the transfers ask for and
//     opens a session per request);
//   - after: the program as it is.
// Counted at the server: the body bytes of its answers (its metrics,
// kivo_http_response_body_bytes_total), and the connections and the bytes on
// the wire both ways (headers included) by a relay in front of it through
// which the client reaches it.
//
//   kivo-bench-traffic [RUNS]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/Core.h"
#include "platform/Http.h"
#include "tests/support/Process.h"
#include "tests/support/Socket.h"

namespace {

namespace fs = std::filesystem;
using kivo::platform::HttpRequestOptions;
using kivo::platform::IHttpClient;
using kivo::platform::IHttpRequest;
using kivo::platform::IHttpSession;

constexpr int kRefreshesPerDay = 48;
constexpr int kMinutesBetweenRefreshes = 30;
constexpr int kFastListMinutes = 10;
constexpr int kSlowListMinutes = 12 * 60;
const char* const kFastLists[] = {"today", "week", "hot"};
const char* const kSlowLists[] = {"movie",  "teleplay", "game",   "novel",    "mm",      "gg",
                                  "mmstar", "ggstar",   "scenic", "newmusic", "hotmusic"};

// The transfers as they were: a session (so a connection) per request, no
// gzip, no validators.
class OldClient final : public IHttpClient {
    class Request final : public IHttpRequest {
    public:
        Request(std::unique_ptr<IHttpSession> session, std::unique_ptr<IHttpRequest> request)
            : session_(std::move(session)), request_(std::move(request)) {}
        ~Request() override { request_.reset(); }
        int Status() const override { return request_->Status(); }
        std::string ETag() const override { return request_->ETag(); }
        std::string LastModified() const override { return request_->LastModified(); }
        bool Read(void* buffer, std::size_t capacity, std::size_t& got) override {
            return request_->Read(buffer, capacity, got);
        }

    private:
        std::unique_ptr<IHttpSession> session_;
        std::unique_ptr<IHttpRequest> request_;
    };
    class Session final : public IHttpSession {
    public:
        Session(IHttpClient& real, std::string agent) : real_(real), agent_(std::move(agent)) {}
        std::unique_ptr<IHttpRequest> OpenUrl(const char* url, const HttpRequestOptions&) override {
            auto session = real_.Open(agent_.c_str());
            if (!session) return nullptr;
            auto request = session->OpenUrl(url, HttpRequestOptions{});
            if (!request) return nullptr;
            return std::make_unique<Request>(std::move(session), std::move(request));
        }

    private:
        IHttpClient& real_;
        std::string agent_;
    };

public:
    std::unique_ptr<IHttpSession> Open(const char* userAgent) override {
        return std::make_unique<Session>(*real_, userAgent);
    }

private:
    std::unique_ptr<IHttpClient> real_ = kivo::platform::CreateHttpClient();
};

// A TCP relay on loopback in front of the server: counts the connections it
// is asked for and the bytes each way.
class Relay {
public:
    explicit Relay(int serverPort) : serverPort_(serverPort) {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listen_, 64) != 0 || ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("relay: cannot listen");
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { Accept(); });
    }
    ~Relay() {
        stopping_ = true;
        ::shutdown(listen_, SHUT_RDWR);
        acceptor_.join();
        for (std::thread& pump : pumps_) pump.join();
        ::close(listen_);
    }
    int Port() const { return port_; }
    std::uint64_t Connections() const { return connections_; }
    std::uint64_t Down() const { return down_; }  // server to client
    std::uint64_t Up() const { return up_; }

private:
    void Accept() {
        for (;;) {
            const int client = ::accept(listen_, nullptr, nullptr);
            if (client < 0) return;
            if (stopping_) {
                ::close(client);
                return;
            }
            ++connections_;
            pumps_.emplace_back([this, client] { Pump(client); });
        }
    }
    void Pump(int client) {
        const int server = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(serverPort_));
        if (server < 0 || ::connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            if (server >= 0) ::close(server);
            ::close(client);
            return;
        }
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        char buffer[65536];
        bool open = true;
        while (open && ::poll(fds, 2, 200) >= 0) {
            if (stopping_) break;
            for (int i = 0; i < 2 && open; ++i) {
                if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
                const ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    open = false;
                    break;
                }
                (i == 0 ? up_ : down_) += static_cast<std::uint64_t>(n);
                for (ssize_t sent = 0; sent < n;) {
                    const ssize_t m = ::send(fds[1 - i].fd, buffer + sent, n - sent, MSG_NOSIGNAL);
                    if (m <= 0) {
                        open = false;
                        break;
                    }
                    sent += m;
                }
            }
        }
        ::close(client);
        ::close(server);
    }

    int serverPort_;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> connections_{0}, down_{0}, up_{0};
    std::thread acceptor_;
    std::vector<std::thread> pumps_;  // only the acceptor adds, joined after it
};

// One counter of the server's metrics, summed over its label sets.
double Metric(int port, const std::string& name, const std::string& label = "") {
    int status = 0;
    const std::string text = kivo::test::RawGet(port, "/metrics", &status);
    double sum = 0;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(name, 0) != 0 ||
            (line.size() > name.size() && line[name.size()] != '{' && line[name.size()] != ' '))
            continue;
        if (!label.empty() && line.find(label) == std::string::npos) continue;
        sum += std::strtod(line.c_str() + line.rfind(' ') + 1, nullptr);
    }
    return sum;
}

// The ETag the server sends now for `page` (asked with HEAD: no body
// bytes for the metrics).
std::string ETagOf(int port, const std::string& page) {
    const std::string answer = kivo::test::RawExchange(
        port, "HEAD /sml/" + page + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    const std::size_t at = answer.find("\r\nETag: ");
    if (at == std::string::npos) return {};
    return answer.substr(at + 8, answer.find("\r\n", at + 8) - at - 8);
}

// Moves the first entry's heat of a list file by `step`: the page changes.
void ChangeList(const fs::path& file, int step) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string bytes = text.str();
    const std::size_t line = bytes.find("\n1\t");
    const std::size_t heat = line == std::string::npos ? line : bytes.find('\t', line + 3);
    if (heat == std::string::npos) throw std::runtime_error("no first entry in " + file.string());
    const std::size_t end = bytes.find_first_not_of("0123456789", heat + 1);
    const long value = std::strtol(bytes.c_str() + heat + 1, nullptr, 10) + step;
    bytes.replace(heat + 1, end - heat - 1, std::to_string(value));
    const fs::path part = file.string() + ".new";
    std::ofstream(part, std::ios::binary) << bytes;
    fs::rename(part, file);
}

struct Day {
    std::uint64_t bodyBytes = 0;  // the server's metrics
    std::uint64_t wireDown = 0, wireUp = 0, connections = 0;
    int replaced = 0, unchanged = 0, other = 0;
};

Day SimulateDay(const std::string& server, const fs::path& sourceData, const fs::path& work, bool old) {
    fs::remove_all(work);
    fs::create_directories(work / "client");
    fs::copy(sourceData, work / "data", fs::copy_options::recursive);
    kivo::test::Process process(server, {"--port", "0", "--data", (work / "data").string(), "--metrics", "127.0.0.1:0",
                                         "--db", (work / "mail.db").string()});
    if (!process.WaitForOutput("metrics ")) throw std::runtime_error("kivo-server did not start");
    int port = 0, metricsPort = 0;
    std::sscanf(process.Output().c_str(), "listening %d\nmetrics %d", &port, &metricsPort);
    Relay relay(port);
    ::setenv("KIVO_SERVER", ("127.0.0.1:" + std::to_string(relay.Port())).c_str(), 1);

    kivo::app::Core core((work / "client").string() + "/");
    if (old) core.transfers.SetHttpClient(std::make_shared<OldClient>());
    core.PrepareFolders();
    (void)core.pages.RefreshPages();  // yesterday's cache

    const auto bytesNow = [&] { return Metric(metricsPort, "kivo_http_response_body_bytes_total"); };
    const double bytesBefore = bytesNow();
    const std::uint64_t connectionsBefore = relay.Connections(), downBefore = relay.Down(), upBefore = relay.Up();
    Day day;
    std::string url;
    (void)core.transfers.CheckVersion(1000, url);
    for (int k = 1; k <= kRefreshesPerDay; ++k) {
        const int from = (k - 1) * kMinutesBetweenRefreshes, to = k * kMinutesBetweenRefreshes;
        const auto changedIn = [&](int period) { return to / period > from / period; };
        std::vector<std::string> changed;
        if (changedIn(kFastListMinutes)) changed.insert(changed.end(), std::begin(kFastLists), std::end(kFastLists));
        if (changedIn(kSlowListMinutes)) changed.insert(changed.end(), std::begin(kSlowLists), std::end(kSlowLists));
        std::vector<std::string> tags;
        for (const std::string& list : changed) {
            tags.push_back(ETagOf(port, list + ".html"));
            ChangeList(work / "data" / (list + ".txt"), k);
        }
        // The server reloads (on the change, and asked once more); the
        // refresh starts once every changed page is served anew.
        if (!changed.empty()) process.Kill(SIGHUP);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (std::size_t i = 0; i < changed.size(); ++i) {
            while (ETagOf(port, changed[i] + ".html") == tags[i]) {
                if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("no reload of " + changed[i]);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        const kivo::net::RefreshReport report = core.pages.RefreshPages();
        day.replaced += report.Count(kivo::net::TransferResult::kReplaced);
        day.unchanged += report.Count(kivo::net::TransferResult::kUnchanged);
        for (const auto& item : report.items)
            if (item && *item != kivo::net::TransferResult::kReplaced && *item != kivo::net::TransferResult::kUnchanged)
                ++day.other;
    }
    day.bodyBytes = static_cast<std::uint64_t>(bytesNow() - bytesBefore);
    day.connections = relay.Connections() - connectionsBefore;
    day.wireDown = relay.Down() - downBefore;
    day.wireUp = relay.Up() - upBefore;
    process.Kill(SIGTERM);
    process.Wait();
    return day;
}

struct Spread {
    double min, median, max;
};

Spread Of(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {values.front(), values[values.size() / 2], values.back()};
}

void Print(const char* what, const Spread& spread, const char* unit) {
    std::printf("  %-44s min %12.4g  median %12.4g  max %12.4g %s\n", what, spread.min, spread.median, spread.max,
                unit);
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const fs::path work = fs::temp_directory_path() / ("kivo-bench-traffic-" + std::to_string(::getpid()));
    std::vector<double> oldBody, newBody, oldWire, newWire, oldConn, newConn, bodyRatio, wireRatio, connRatio;
    try {
        for (int run = 0; run < runs; ++run) {
            const Day before = SimulateDay(KIVO_SERVER_BINARY, KIVO_SERVER_DATA, work, true);
            const Day after = SimulateDay(KIVO_SERVER_BINARY, KIVO_SERVER_DATA, work, false);
            std::printf(
                "run %d: before %llu body B, %llu wire B down, %llu up, %llu connections (%d replaced)\n"
                "       after  %llu body B, %llu wire B down, %llu up, %llu connections (%d replaced, "
                "%d unchanged, %d other)\n",
                run + 1, static_cast<unsigned long long>(before.bodyBytes),
                static_cast<unsigned long long>(before.wireDown), static_cast<unsigned long long>(before.wireUp),
                static_cast<unsigned long long>(before.connections), before.replaced,
                static_cast<unsigned long long>(after.bodyBytes), static_cast<unsigned long long>(after.wireDown),
                static_cast<unsigned long long>(after.wireUp), static_cast<unsigned long long>(after.connections),
                after.replaced, after.unchanged, after.other);
            oldBody.push_back(static_cast<double>(before.bodyBytes));
            newBody.push_back(static_cast<double>(after.bodyBytes));
            oldWire.push_back(static_cast<double>(before.wireDown + before.wireUp));
            newWire.push_back(static_cast<double>(after.wireDown + after.wireUp));
            oldConn.push_back(static_cast<double>(before.connections));
            newConn.push_back(static_cast<double>(after.connections));
            bodyRatio.push_back(newBody.back() / oldBody.back());
            wireRatio.push_back(newWire.back() / oldWire.back());
            connRatio.push_back(newConn.back() / oldConn.back());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kivo-bench-traffic: %s\n", e.what());
        fs::remove_all(work);
        return 1;
    }
    fs::remove_all(work);
    std::printf("\nper client-day, %d paired runs\n", runs);
    Print("before: body bytes", Of(oldBody), "B");
    Print("after:  body bytes", Of(newBody), "B");
    Print("after/before: body bytes", Of(bodyRatio), "");
    Print("before: wire bytes (both ways, headers too)", Of(oldWire), "B");
    Print("after:  wire bytes (both ways, headers too)", Of(newWire), "B");
    Print("after/before: wire bytes", Of(wireRatio), "");
    Print("before: connections", Of(oldConn), "");
    Print("after:  connections", Of(newConn), "");
    Print("after/before: connections", Of(connRatio), "");
    std::vector<double> oldPerRefresh, newPerRefresh;
    for (std::size_t i = 0; i < oldConn.size(); ++i) {
        oldPerRefresh.push_back((oldConn[i] - 1) / kRefreshesPerDay);  // less the version check's
        newPerRefresh.push_back((newConn[i] - 1) / kRefreshesPerDay);
    }
    Print("before: connections per refresh", Of(oldPerRefresh), "");
    Print("after:  connections per refresh", Of(newPerRefresh), "");
    const double million = 1e6;
    std::printf(
        "\na million clients a day (medians): before %.3g TB on the wire and %.3g connections; "
        "after %.3g TB and %.3g connections\n",
        Of(oldWire).median * million / 1e12, Of(oldConn).median * million, Of(newWire).median * million / 1e12,
        Of(newConn).median * million);
    return 0;
}
