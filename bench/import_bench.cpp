// kivo-bench-import: what the importer of live lists costs. Fourteen feeds
// on loopback (a child process of their own, so that only the importer's
// work is counted here), each answering a ranking that moves at every
// request, so that each cycle stores fourteen snapshots and rewrites
// fourteen list files. Paired in each run with a peer doing the bare part of
// the same work:
//   - one import cycle of the fourteen lists (CPU and wall) against fourteen
//     bare libcurl GETs of the same feeds, one after another;
//   - reading a 2 MiB RSS feed and a 2 MiB JSON answer into entries against
//     libxml2's and nlohmann::json's bare parse of the same bytes;
//   - the resident memory after 50 cycles and after CYCLES more.
//
//   kivo-bench-import [RUNS] [CYCLES]
#include <curl/curl.h>
#include <libxml/parser.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "Feed.h"
#include "Importer.h"
#include "SnapshotStore.h"
#include "Sources.h"

namespace {

namespace fs = std::filesystem;
using kivo::server::Importer;

constexpr int kLists = 14;

double CpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double WallMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long RssKib() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

std::string Host(int i) { return "127.0.0." + std::to_string(11 + i); }

// Thirty names a feed ranks, moved by one place at every request; even feeds
// answer dailyhot JSON, odd ones RSS.
std::string Feed(int list, unsigned turn) {
    std::vector<std::string> names;
    for (int k = 0; k < 30; ++k)
        names.push_back("\xE7\x83\xAD\xE7\x82\xB9 " + std::to_string(list) + "-" + std::to_string(k));
    std::rotate(names.begin(), names.begin() + turn % names.size(), names.end());
    std::string body;
    if (list % 2 == 0) {
        body = "{\"code\":200,\"data\":[";
        for (std::size_t k = 0; k < names.size(); ++k)
            body += std::string(k ? "," : "") + "{\"title\":\"" + names[k] + "\",\"hot\":\"" + std::to_string(900 - k) +
                    "\xE4\xB8\x87\",\"url\":\"https://hot.example/" + std::to_string(k) + "\"}";
        return body + "]}";
    }
    body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><rss version=\"2.0\"><channel><title>t</title>";
    for (std::size_t k = 0; k < names.size(); ++k)
        body += "<item><title><![CDATA[<b>" + names[k] + "</b>]]></title><link>https://rss.example/" +
                std::to_string(k) + "</link></item>";
    return body + "</channel></rss>";
}

// The feeds, in a child process; their ports come back through a pipe.
pid_t StartFeeds(std::vector<int>& ports) {
    int channel[2];
    if (pipe(channel) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        std::vector<std::unique_ptr<httplib::Server>> servers;
        std::vector<std::thread> threads;
        std::vector<std::atomic<unsigned>> turns(kLists);
        for (int i = 0; i < kLists; ++i) {
            auto server = std::make_unique<httplib::Server>();
            server->Get("/feed", [i, &turns](const httplib::Request&, httplib::Response& res) {
                res.set_content(Feed(i, turns[i]++), i % 2 == 0 ? "application/json" : "application/xml");
            });
            const int port = server->bind_to_any_port(Host(i));
            if (write(channel[1], &port, sizeof port) != sizeof port) _exit(1);
            threads.emplace_back([s = server.get()] { s->listen_after_bind(); });
            servers.push_back(std::move(server));
        }
        pause();  // until the benchmark ends it
        _exit(0);
    }
    close(channel[1]);
    for (int i = 0; i < kLists; ++i) {
        int port = 0;
        if (read(channel[0], &port, sizeof port) != sizeof port || port <= 0) return -1;
        ports.push_back(port);
    }
    close(channel[0]);
    return child;
}

std::size_t Discard(char*, std::size_t size, std::size_t count, void*) { return size * count; }

struct Series {
    std::vector<double> values;
    void Add(double v) { values.push_back(v); }
    std::string Text(int precision = 2) const {
        std::vector<double> v = values;
        std::sort(v.begin(), v.end());
        char text[96];
        std::snprintf(text, sizeof text, "%.*f / %.*f / %.*f", precision, v.front(), precision, v[v.size() / 2],
                      precision, v.back());
        return text;
    }
};

template <typename Work>
std::pair<double, double> Measure(const Work& work) {
    const double cpu = CpuMs(), wall = WallMs();
    work();
    return {CpuMs() - cpu, WallMs() - wall};
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
    const int cycles = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1000;
    std::vector<int> ports;
    const pid_t feeds = StartFeeds(ports);
    if (feeds < 0) {
        std::fprintf(stderr, "cannot start the feeds\n");
        return 1;
    }
    char pattern[] = "/tmp/kivo-bench-import.XXXXXX";
    const fs::path work = mkdtemp(pattern);
    fs::copy(KIVO_SOURCE_DIR "/server/data", work / "data");
    std::string lines;
    std::vector<std::string> urls;
    for (int i = 0; i < kLists; ++i) {
        urls.push_back("http://" + Host(i) + ":" + std::to_string(ports[i]) + "/feed");
        lines += kivo::server::ListPages()[i] + " " + urls.back() + " window=0\n";
    }
    const auto sources = kivo::server::Sources::Parse(lines, "sources.txt");
    const auto store = kivo::server::OpenSnapshotStore((work / "lists.db").string());
    Importer::Settings settings;
    settings.hostSpacing = std::chrono::milliseconds(0);  // cycles back to back: no politeness pause
    Importer importer(work / "data", *store, settings);

    // Cycles against bare GETs, paired and alternating which goes first.
    Series cycleCpu, cycleWall, bareCpu, bareWall, cpuRatio, wallRatio;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
    const auto bare = [&] {
        for (const std::string& url : urls) {
            curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
            curl_easy_perform(curl);
        }
    };
    bool failed = false;
    const auto cycle = [&] {
        for (const auto& [page, outcome] : importer.RunAll(sources)) failed |= outcome != Importer::Outcome::Accepted;
    };
    cycle();  // the store's tables and the first snapshots
    for (int run = 0; run < runs; ++run) {
        std::pair<double, double> ours, peer;
        if (run % 2 == 0) {
            ours = Measure(cycle);
            peer = Measure(bare);
        } else {
            peer = Measure(bare);
            ours = Measure(cycle);
        }
        cycleCpu.Add(ours.first);
        cycleWall.Add(ours.second);
        bareCpu.Add(peer.first);
        bareWall.Add(peer.second);
        cpuRatio.Add(ours.first / std::max(peer.first, 0.001));
        wallRatio.Add(ours.second / peer.second);
    }
    curl_easy_cleanup(curl);

    // 2 MiB feeds read into entries, against the bare parse of the same bytes.
    std::string rss = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><rss version=\"2.0\"><channel><title>t</title>";
    std::string json = "{\"data\":[";
    for (int k = 0; rss.size() < 2 * 1024 * 1024 - 4096; ++k) {
        const std::string name = "\xE7\x83\xAD\xE7\x82\xB9 &amp;amp; " + std::to_string(k);
        rss += "<item><title><![CDATA[<b>" + name + "</b>]]></title><link>https://rss.example/" + std::to_string(k) +
               "</link><description>" + std::string(9000, 'x') + "</description></item>";
        json += std::string(k ? "," : "") + "{\"title\":\"" + name +
                "\",\"hot\":\"1.2\xE4\xBA\xBF\",\"url\":\"https://j/\",\"desc\":\"" + std::string(9000, 'y') + "\"}";
    }
    rss += "</channel></rss>";
    while (json.size() < rss.size() - 2) json += ' ';
    json += "]}";
    Series xmlOurs, xmlBare, xmlRatio, jsonOurs, jsonBare, jsonRatio;
    kivo::server::FeedFormat automatic;
    for (int run = 0; run < runs; ++run) {
        const double a = Measure([&] { kivo::server::MakeListItems(kivo::server::ParseFeed(rss, automatic)); }).second;
        const double b =
            Measure([&] {
                xmlFreeDoc(xmlReadMemory(rss.data(), static_cast<int>(rss.size()), "f.xml", nullptr, XML_PARSE_NONET));
            }).second;
        const double c = Measure([&] { kivo::server::MakeListItems(kivo::server::ParseFeed(json, automatic)); }).second;
        const double d = Measure([&] { const auto parsed = nlohmann::json::parse(json); }).second;
        xmlOurs.Add(a);
        xmlBare.Add(b);
        xmlRatio.Add(a / b);
        jsonOurs.Add(c);
        jsonBare.Add(d);
        jsonRatio.Add(c / d);
    }

    // Memory over many cycles.
    for (int i = 0; i < 50; ++i) cycle();
    const long before = RssKib();
    const double start = WallMs();
    for (int i = 0; i < cycles; ++i) cycle();
    const double spent = WallMs() - start;
    const long after = RssKib();

    std::printf("import cycle, 14 lists (ms, min / median / max of %d runs)\n", runs);
    std::printf("  kivo-server importer: CPU %s, wall %s\n", cycleCpu.Text().c_str(), cycleWall.Text().c_str());
    std::printf("  14 bare libcurl GETs: CPU %s, wall %s\n", bareCpu.Text().c_str(), bareWall.Text().c_str());
    std::printf("  ratio importer / bare GETs: CPU %s, wall %s\n", cpuRatio.Text().c_str(), wallRatio.Text().c_str());
    std::printf("2 MiB feed read into entries (ms, wall)\n");
    std::printf("  RSS: ours %s, bare libxml2 parse %s, ratio %s\n", xmlOurs.Text().c_str(), xmlBare.Text().c_str(),
                xmlRatio.Text().c_str());
    std::printf("  JSON: ours %s, bare nlohmann::json parse %s, ratio %s\n", jsonOurs.Text().c_str(),
                jsonBare.Text().c_str(), jsonRatio.Text().c_str());
    std::printf("resident memory: %.1f MiB after 50 cycles, %.1f MiB after %d more (%+ld KiB); %.1f ms a cycle\n",
                static_cast<double>(before) / 1024.0, static_cast<double>(after) / 1024.0, cycles, after - before,
                spent / cycles);
    kill(feeds, SIGTERM);
    waitpid(feeds, nullptr, 0);
    fs::remove_all(work);
    if (failed) std::printf("WARNING: a cycle rejected a list\n");
    return failed ? 1 : 0;
}
