// kivo-server as an operator runs it: its access log read back by a real log
// analyser (goaccess) and reopened for logrotate, its metrics checked by
// Prometheus's own promtool and against what was sent, and the exported tree
// behind a real nginx following a reload while a client keeps fetching.
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ServerOptions.h"
#include "tests/server/Fixtures.h"
#include "tests/support/Files.h"
#include "tests/support/Process.h"
#include "tests/support/Socket.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"
#include "tests/support/Wait.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kivo::server::ServerOptions;
using kivo::server::UsageError;
using kivo::test::HttpClientFor;
using kivo::test::Process;
using kivo::test::RawExchange;
using kivo::test::ReadBytes;
using kivo::test::TempDir;
using kivo::test::WaitUntil;
using kivo::test::WriteBytes;

// kivo-server for one test on ephemeral ports, its output in a log.
class Server {
public:
    Server(const TempDir& dir, std::vector<std::string> args) : log_(dir.File("server.log")) {
        args.insert(args.begin(), {"--port", "0", "--db", dir.File("mail.db")});
        process_ = std::make_unique<Process>(KIVO_PRODUCT_EXE, args, std::vector<std::string>{},
                                             kivo::test::ProcessOptions{log_});
        const bool metrics = std::find(args.begin(), args.end(), "--metrics") != args.end();
        if (!WaitUntil([&] { return Log().find(metrics ? "\nmetrics " : "listening ") != std::string::npos; }, 10s))
            throw std::runtime_error("kivo-server did not start: " + Log());
        port_ = std::atoi(Log().c_str() + Log().find("listening ") + 10);
        if (metrics) metricsPort_ = std::atoi(Log().c_str() + Log().find("\nmetrics ") + 9);
    }
    ~Server() {
        process_->Kill(SIGTERM);
        EXPECT_EQ(process_->Wait(10s), 0) << Log();
    }
    int Port() const { return port_; }
    int MetricsPort() const { return metricsPort_; }
    std::string Log() const { return ReadBytes(log_).value_or(""); }
    void Signal(int number) { process_->Kill(number); }
    int Get(const std::string& target, const httplib::Headers& headers = {}) const {
        const auto res = HttpClientFor(port_)->Get(target, headers);
        return res ? res->status : -1;
    }

private:
    std::string log_;
    std::unique_ptr<Process> process_;
    int port_ = 0, metricsPort_ = 0;
};

int Shell(const std::string& shellCommand, std::string* output = nullptr) {
    Process process("sh", {"-c", shellCommand + " 2>&1"});
    const int status = process.Wait(60s);
    if (output != nullptr) *output = process.Output();
    return status;
}

int CountLines(const std::string& file) { return kivo::test::Count(ReadBytes(file).value_or(""), "\n"); }

// goaccess's count of the valid requests in a combined-format log; -1 when
// it reports a line it could not read or no count at all.
int GoaccessRequests(const TempDir& dir, const std::string& log) {
    const std::string report = dir.File("report.json");
    std::string output;
    if (Shell(std::string(KIVO_GOACCESS) + " " + log + " --log-format=COMBINED --no-global-config -o " + report,
              &output) != 0)
        return -1;
    const std::string json = ReadBytes(report).value_or("");
    std::smatch valid, failed;
    if (!std::regex_search(json, valid, std::regex("\"valid_requests\": *([0-9]+)")) ||
        !std::regex_search(json, failed, std::regex("\"failed_requests\": *([0-9]+)")) || failed[1] != "0")
        return -1;
    return std::stoi(valid[1]);
}

std::string Metrics(int port) {
    const auto res = HttpClientFor(port)->Get("/metrics");
    return res && res->status == 200 ? res->body : "";
}

// The value of one sample ("name{labels}") of an exposition; -1 when absent.
double Sample(const std::string& text, const std::string& series) {
    const std::size_t at = text.find("\n" + series + " ");
    return at == std::string::npos ? -1 : std::stod(text.substr(at + series.size() + 2));
}

void CopyData(const std::string& to) { fs::copy(KIVO_SOURCE_DIR "/server/data", to, fs::copy_options::recursive); }

// ---- command line ------------------------------------------------------------

TEST(OperatorOptions, MetricsAddressesAreHostAndPortAndTheRestIsRefused) {
    const auto parse = [](const std::string& value) { return ServerOptions::Parse({"--metrics", value}); };
    EXPECT_EQ(parse("127.0.0.1:9180").metricsHost, "127.0.0.1");
    EXPECT_EQ(parse("127.0.0.1:9180").metricsPort, 9180);
    EXPECT_EQ(parse("[::1]:0").metricsHost, "::1");
    EXPECT_EQ(parse("localhost:65535").metricsPort, 65535);
    for (const std::string bad : {"9180", ":9180", "::1:80", "[::1]", "[]:80", "[::1:80", "[[::1]]:80", "a]:80",
                                  "host:", "host:65536", "host:-1", "host:80x"}) {
        EXPECT_THROW(parse(bad), UsageError) << bad;
    }
    EXPECT_THROW(ServerOptions::Parse({"--access-log", ""}), UsageError);
    EXPECT_THROW(ServerOptions::Parse({"--export-to", ""}), UsageError);
    EXPECT_TRUE(ServerOptions::Parse({}).accessLog.empty());
    EXPECT_TRUE(ServerOptions::Parse({}).metricsHost.empty());
}

// ---- access log ------------------------------------------------------------

TEST(OperatorAccessLog, GoaccessCountsEveryRequestAndARenamedLogLosesNoLineOnSigusr1) {
    TempDir dir("kivo-log");
    const std::string log = dir.File("access.log");
    Server server(dir, {"--access-log", log});
    int sent = 0;
    for (const std::string target : {"/sml/today.html", "/sml/main_back.gif", "/kivoversion.php", "/nothing",
                                     "/postmail.php?email=a%40b.cn", "/sml/today.html?x=\"quoted\"\\"}) {
        EXPECT_GT(server.Get(target, {{"User-Agent", "VedaVU/1.0"}, {"Referer", "http://a/\"b\""}}), 0) << target;
        ++sent;
    }
    // A target with a quote, a space and bytes outside ASCII, as the wire had it.
    EXPECT_NE(RawExchange(server.Port(), "GET /sml/\"a b\xe4\xb8\xad HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n"),
              "");
    ++sent;
    ASSERT_TRUE(WaitUntil([&] { return CountLines(log) == sent; }, 5s)) << ReadBytes(log).value_or("");
    EXPECT_EQ(GoaccessRequests(dir, log), sent) << ReadBytes(log).value_or("");
    const std::string lines = ReadBytes(log).value_or("");
    EXPECT_NE(lines.find("\"GET /sml/today.html HTTP/1.1\" 200 "), std::string::npos) << lines;
    EXPECT_NE(lines.find("\"GET /nothing HTTP/1.1\" 404 "), std::string::npos) << lines;
    EXPECT_NE(lines.find("\"http://a/\\x22b\\x22\" \"VedaVU/1.0\""), std::string::npos) << lines;
    EXPECT_NE(lines.find("/sml/\\x22a"), std::string::npos) << lines;
    for (std::size_t at = 0; at < lines.size(); at = lines.find('\n', at) + 1)
        EXPECT_EQ(lines.compare(at, 15, "127.0.0.1 - - ["), 0) << lines.substr(at, 40);

    // logrotate's way: rename, then SIGUSR1; requests keep coming throughout.
    const std::string rotated = dir.File("access.log.1");
    ASSERT_EQ(std::rename(log.c_str(), rotated.c_str()), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> during{0};
    std::thread client([&] {
        while (!stop) {
            if (server.Get("/sml/week.html") == 200) ++during;
        }
    });
    std::this_thread::sleep_for(200ms);
    server.Signal(SIGUSR1);
    ASSERT_TRUE(WaitUntil([&] { return CountLines(log) > 0; }, 5s)) << server.Log();
    std::this_thread::sleep_for(200ms);
    stop = true;
    client.join();
    const int total = sent + during;
    ASSERT_TRUE(WaitUntil([&] { return CountLines(rotated) + CountLines(log) == total; }, 5s))
        << CountLines(rotated) << " + " << CountLines(log) << " lines for " << total << " requests";
    EXPECT_EQ(GoaccessRequests(dir, rotated) + GoaccessRequests(dir, log), total);
}

TEST(OperatorAccessLog, AFullDiskCostsLinesNotAnswers) {
    TempDir dir("kivo-log");
    Server server(dir, {"--access-log", "/dev/full", "--metrics", "127.0.0.1:0"});
    for (int i = 0; i < 20; ++i) ASSERT_EQ(server.Get("/sml/today.html"), 200);
    EXPECT_TRUE(WaitUntil(
        [&] { return Sample(Metrics(server.MetricsPort()), "kivo_access_log_dropped_lines_total") >= 20; }, 5s))
        << Metrics(server.MetricsPort());
    EXPECT_EQ(kivo::test::Count(server.Log(), "cannot write the access log"), 1) << server.Log();
}

// ---- metrics ----------------------------------------------------------------

TEST(OperatorMetrics, PromtoolAcceptsThemAndTheyCountWhatWasSent) {
    TempDir dir("kivo-metrics");
    CopyData(dir.File("data"));
    Server server(dir, {"--data", dir.File("data"), "--metrics", "127.0.0.1:0"});
    // A client that never finishes its request is closed after 5 s.
    kivo::test::Connection slow(server.Port());
    ASSERT_TRUE(slow.Send("GET /sml/today.html HTTP/1.1\r\n"));

    std::size_t pageBytes = 0;
    auto client = HttpClientFor(server.Port());
    for (const std::string page : {"today", "week", "hot", "movie", "game"}) {
        const auto res = client->Get("/sml/" + page + ".html");
        ASSERT_TRUE(res && res->status == 200);
        pageBytes += res->body.size();
    }
    ASSERT_EQ(client->Head("/sml/today.html")->status, 200);  // no body bytes
    for (const std::string target : {"/nothing", "/metrics", "/sml/none.html"}) ASSERT_EQ(server.Get(target), 404);
    ASSERT_EQ(server.Get("/postmail.php?email=x@y.cn"), 200);
    ASSERT_EQ(server.Get("/kivoversion.php"), 200);
    // Nothing of the public site on the metrics port.
    ASSERT_EQ(HttpClientFor(server.MetricsPort())->Get("/sml/today.html")->status, 404);

    // One good reload, one refused.
    server.Signal(SIGHUP);
    ASSERT_TRUE(WaitUntil([&] { return server.Log().find("content reloaded") != std::string::npos; }, 10s));
    WriteBytes(dir.File("data/release.txt"), "version 1001\n");
    ASSERT_TRUE(WaitUntil([&] { return kivo::test::Count(server.Log(), "content reloaded") == 2; }, 10s));
    WriteBytes(dir.File("data/today.txt"), "broken\n");
    ASSERT_TRUE(WaitUntil([&] { return server.Log().find("still serving") != std::string::npos; }, 10s));
    ASSERT_TRUE(WaitUntil([&] { return slow.ReadToClose(nullptr, 100ms); }, 10s));

    const std::string text = Metrics(server.MetricsPort());
    WriteBytes(dir.File("metrics.txt"), text);
    std::string promtool;
    EXPECT_EQ(Shell(std::string(KIVO_PROMTOOL) + " check metrics < " + dir.File("metrics.txt"), &promtool), 0)
        << promtool << text;
    EXPECT_EQ(promtool, "") << text;
    EXPECT_EQ(Sample(text, "kivo_http_requests_total{route=\"/sml/\",code=\"200\"}"), 6) << text;
    EXPECT_EQ(Sample(text, "kivo_http_requests_total{route=\"/sml/\",code=\"404\"}"), 1) << text;
    EXPECT_EQ(Sample(text, "kivo_http_requests_total{route=\"other\",code=\"404\"}"), 2) << text;
    EXPECT_EQ(Sample(text, "kivo_http_requests_total{route=\"/postmail.php\",code=\"200\"}"), 1) << text;
    EXPECT_EQ(Sample(text, "kivo_http_requests_total{route=\"/kivoversion.php\",code=\"200\"}"), 1) << text;
    EXPECT_EQ(Sample(text, "kivo_http_response_body_bytes_total{route=\"/sml/\"}"), static_cast<double>(pageBytes + 14))
        << text;  // the pages and "404 not found\n"
    EXPECT_EQ(Sample(text, "kivo_http_slow_clients_closed_total"), 1) << text;
    EXPECT_TRUE(
        WaitUntil([&] { return Sample(Metrics(server.MetricsPort()), "kivo_http_open_connections") == 0; }, 5s));
    // Each connection counts once, however many requests it carries.
    const double accepted = Sample(Metrics(server.MetricsPort()), "kivo_http_connections_total");
    EXPECT_GE(accepted, 3) << text;
    for (int i = 0; i < 3; ++i) {
        kivo::test::Connection connection(server.Port());
        ASSERT_TRUE(
            connection.Send("GET /sml/week.html HTTP/1.1\r\nHost: a\r\n\r\n"
                            "GET /sml/hot.html HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n"));
        ASSERT_TRUE(connection.ReadToClose(nullptr, 5s));
    }
    EXPECT_EQ(Sample(Metrics(server.MetricsPort()), "kivo_http_connections_total"), accepted + 3);
    EXPECT_EQ(Sample(text, "kivo_content_reloads_total"), 2) << text;
    EXPECT_EQ(Sample(text, "kivo_content_reload_failures_total"), 1) << text;
    EXPECT_EQ(Sample(text, "kivo_content_version"), 1001) << text;
    EXPECT_EQ(Sample(text, "kivo_subscriptions"), 1) << text;
}

// ---- exported tree -----------------------------------------------------------

std::vector<std::string> Trees(const std::string& folder) {
    std::vector<std::string> trees;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().starts_with(".public.")) trees.push_back(entry.path().string());
    }
    return trees;
}

TEST(OperatorExport, NginxFollowsAListChangeWithinASecondAndAFetchingClientNeverSeesAMix) {
    TempDir dir("kivo-export");
    ::chmod(dir.Path().c_str(), 0755);  // nginx's workers read the tree
    CopyData(dir.File("data"));
    const std::string link = dir.File("public");
    Server server(dir, {"--data", dir.File("data"), "--export-to", link});
    ASSERT_TRUE(fs::is_symlink(link));
    ASSERT_EQ(Trees(dir.Path()).size(), 1u);
    kivo::test::Nginx nginx(dir.Path(), link, server.Port());

    const auto fetch = [&] {
        const auto res = HttpClientFor(nginx.Port())->Get("/sml/today.html");
        return res && res->status == 200 ? res->body : std::string();
    };
    const std::string before = fetch();
    ASSERT_EQ(before, HttpClientFor(server.Port())->Get("/sml/today.html")->body);

    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::set<std::string> seen;
    std::thread client([&] {
        while (!stop) {
            const std::string body = fetch();
            std::lock_guard<std::mutex> lock(mutex);
            seen.insert(body);
        }
    });
    // The list changes; the server sees it by itself.
    std::string text = ReadBytes(dir.File("data/today.txt")).value_or("");
    text.replace(text.find("Top8"), 4, "Top8 NEW");
    WriteBytes(dir.File("today.txt"), text);
    fs::rename(dir.File("today.txt"), dir.File("data/today.txt"));
    const auto changed = std::chrono::steady_clock::now();
    const bool followed = WaitUntil([&] { return fetch().find("Top8 NEW") != std::string::npos; }, 5s);
    const auto took = std::chrono::steady_clock::now() - changed;
    std::this_thread::sleep_for(200ms);
    stop = true;
    client.join();
    ASSERT_TRUE(followed);
    EXPECT_LT(took, 1s);

    const std::string after = HttpClientFor(server.Port())->Get("/sml/today.html")->body;
    EXPECT_EQ(fetch(), after);
    for (const std::string& body : seen) EXPECT_TRUE(body == before || body == after) << body.size() << " bytes";
    EXPECT_TRUE(WaitUntil([&] { return Trees(dir.Path()).size() == 1; }, 5s));  // the old tree is gone
    EXPECT_EQ(kivo::test::Count(server.Log(), "content reloaded"), 1) << server.Log();
    EXPECT_EQ(fs::read_symlink(link).string(), fs::path(Trees(dir.Path()).front()).filename().string());
}

TEST(OperatorExport, AFolderInThePlaceOfTheLinkIsRefused) {
    TempDir dir("kivo-export");
    fs::create_directory(dir.File("public"));
    Process server(KIVO_PRODUCT_EXE, {"--port", "0", "--db", dir.File("mail.db"), "--export-to", dir.File("public")},
                   {}, kivo::test::ProcessOptions{dir.File("server.log")});
    EXPECT_EQ(server.Wait(10s), 1);
    const std::string log = ReadBytes(dir.File("server.log")).value_or("");
    EXPECT_NE(log.find("not a symlink"), std::string::npos) << log;
}

}  // namespace
