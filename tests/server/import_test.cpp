// Live lists from outside: the feed formats as real generators and
// aggregators publish them, sources.txt, and kivo-server's importer run as
// operators run it (`import` from cron, `status`, beside the server) against
// real HTTP servers on loopback, with its store in SQLite and a real
// PostgreSQL, the pages then fetched by the program and by nginx.
#include <sys/stat.h>
#include <zlib.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "Feed.h"
#include "GbkEncoder.h"
#include "SnapshotStore.h"
#include "Sources.h"
#include "tests/server/Fixtures.h"
#include "tests/support/Files.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"
#include "tests/support/Wait.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kivo::server::FeedError;
using kivo::server::FeedFormat;
using kivo::server::ListItem;
using kivo::test::Process;
using kivo::test::ReadBytes;
using kivo::test::TempDir;
using kivo::test::WaitUntil;
using kivo::test::WriteBytes;

const std::string kFeeds = KIVO_SOURCE_DIR "/tests/server/feeds/";

std::string Fixture(const std::string& name) { return ReadBytes(kFeeds + name).value(); }

std::vector<ListItem> Items(const std::string& body, const std::string& format = "auto") {
    FeedFormat parsed;
    EXPECT_TRUE(FeedFormat::Parse(format, parsed)) << format;
    return kivo::server::MakeListItems(kivo::server::ParseFeed(body, parsed));
}

std::vector<std::string> Names(const std::vector<ListItem>& items) {
    std::vector<std::string> names;
    for (const ListItem& item : items) names.push_back(item.name);
    return names;
}

std::string Gbk(const std::string& utf8) { return kivo::server::GbkEncoder().Encode(utf8); }

// ---- the formats -------------------------------------------------------------

TEST(FeedFormats, EachFormatAsPublishedGivesNamesHeatAndLinks) {
    const auto rss = Items(Fixture("rss2.xml"));
    ASSERT_EQ(rss.size(), 12u);
    EXPECT_EQ(rss[0].name,
              "\xE5\xAB\xA6\xE5\xA8\xA5\xE4\xB8\x83\xE5\x8F\xB7\xE5\x8F\x91\xE5\xB0\x84\xE6\x88\x90\xE5\x8A\x9F");
    EXPECT_EQ(rss[5].name,
              "\xE5\x9B\xBD\xE4\xBA\xA7\xE5\xA4\xA7\xE9\xA3\x9E\xE6\x9C\xBA\xE9\xA6\x96\xE8\x88\xAA");  // twice escaped
    EXPECT_EQ(rss[0].link, "https://s.weibo.example/weibo?q=%231%23");
    EXPECT_EQ(rss[0].heat, 0);
    EXPECT_EQ(Names(Items(Fixture("rss1.rdf"), "rss")), Names(rss));
    EXPECT_EQ(Names(Items(Fixture("gbk.xml"))), Names(rss));  // declared GBK, read as such
    for (const char* encoding : {"GB18030", "GB2312"}) {
        std::string declared = Fixture("gbk.xml");
        declared.replace(declared.find("GBK"), 3, encoding);
        EXPECT_EQ(Names(Items(declared)), Names(rss)) << encoding;
    }

    const auto atom = Items(Fixture("atom.xml"), "atom");
    ASSERT_EQ(atom.size(), 11u);
    EXPECT_EQ(atom[0].name,
              "\xE6\xB5\x81\xE6\xB5\xAA\xE6\x98\x9F\xE7\x90\x83"
              "3 & \xE5\xBD\xB1\xE8\xAF\x84");
    EXPECT_EQ(atom[0].link, "https://movie.example/subject/100/");  // the alternate, not the enclosure

    const auto feed = Items(Fixture("feed.json"));
    ASSERT_EQ(feed.size(), 10u);
    EXPECT_EQ(feed[9].link, "https://games.example/g/9");

    const auto daily = Items(Fixture("dailyhot.json"));
    ASSERT_EQ(daily.size(), 10u);
    const std::vector<std::int64_t> heat = {1230000, 986000, 120000000, 45678, 30021,
                                            880000,  75000,  660000,    50000, 40000};
    for (std::size_t i = 0; i < heat.size(); ++i) EXPECT_EQ(daily[i].heat, heat[i]) << i;
    const auto rssNames = Names(rss);
    EXPECT_EQ(Names(daily), std::vector<std::string>(rssNames.begin(), rssNames.begin() + 10));

    const auto news = Items(Fixture("newsnow.json"), "newsnow");
    ASSERT_EQ(news.size(), 10u);
    EXPECT_EQ(news[3].link, "https://zhihu.example/question/3");
    EXPECT_EQ(news[3].heat, 0);

    const auto mapped = Items(Fixture("mapping.json"), "json:result.list:word:num:link");
    ASSERT_EQ(mapped.size(), 10u);
    EXPECT_EQ(mapped[1].heat, 993);
    EXPECT_EQ(mapped[1].link, "https://music.example/song/1");
    EXPECT_EQ(Items(Fixture("mapping.json"), "json:result.list:word:-:-")[1].link, "");
}

TEST(FeedFormats, WhatIsNotTheFormatIsRefusedWithAReason) {
    const auto refused = [](const std::string& body, const std::string& format, const std::string& why) {
        FeedFormat parsed;
        ASSERT_TRUE(FeedFormat::Parse(format, parsed));
        try {
            kivo::server::ParseFeed(body, parsed);
            ADD_FAILURE() << "accepted as " << format << ": " << body.substr(0, 80);
        } catch (const FeedError& e) {
            EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
        }
    };
    refused("<!DOCTYPE html><html><head><title>502</title></head><body>Bad gateway</body></html>", "auto", "");
    refused("<html><body><p>rate limited</p></body></html>", "auto", "not a feed");
    refused(Fixture("atom.xml"), "rss", "not an RSS feed");
    refused(Fixture("rss2.xml"), "jsonfeed", "not valid JSON");
    refused(Fixture("dailyhot.json"), "jsonfeed", "not a JSON Feed");
    refused(R"({"code":200,"data":[]})", "auto", "no items");
    refused(R"({"code":500,"msg":"error"})", "auto", "no known feed shape");
    refused(std::string(100, '[') + std::string(100, ']'), "json:.:t:-:-", "nested deeper");
    refused(R"({"data":{"title":"x"}})", "dailyhot", "no item array");
    refused("", "auto", "empty");
    refused("Service Unavailable", "auto", "neither XML nor JSON");
}

TEST(FeedFormats, NamesAreCleanedForTheGbkPages) {
    using kivo::server::NormaliseName;
    EXPECT_EQ(NormaliseName("<b>A</b>\tB\r\n  C&nbsp;&amp;&lt;i&gt;D&lt;/i&gt;<br/>E"), "A B C &D E");
    EXPECT_EQ(NormaliseName("\xE7\x83\xAD<em>\xE6\x90\x9C</em>"), "\xE7\x83\xAD\xE6\x90\x9C");
    EXPECT_EQ(NormaliseName("a < b"), "a < b");
    // Emoji and other characters without a GBK form go; a name of nothing else is empty.
    EXPECT_EQ(NormaliseName("\xF0\x9F\x94\xA5\xE7\x83\xAD\xF0\x9F\x94\xA5 x"), "\xE7\x83\xAD x");
    EXPECT_EQ(NormaliseName("\xF0\x9F\x98\x80\xF0\x9F\x94\xA5 \xE2\x9D\xA4\xEF\xB8\x8F"), "");
    EXPECT_EQ(NormaliseName("\xFF\xFE bad \xC3"), "bad");
    EXPECT_EQ(NormaliseName(std::string(60, 'x')), std::string(40, 'x'));
    std::string han;
    for (int i = 0; i < 50; ++i) han += "\xE7\x83\xAD";
    EXPECT_EQ(NormaliseName(han).size(), 40u * 3);

    // Repeated names after cleaning count once, empty ones not at all.
    std::vector<kivo::server::FeedItem> items = {{"<b>A</b>", 5, "javascript:alert(1)"},
                                                 {"A", 9, ""},
                                                 {"\xF0\x9F\x98\x80", 1, ""},
                                                 {"B", 2, "https://b.example/\xE7\x83\xAD"}};
    const auto list = kivo::server::MakeListItems(items);
    ASSERT_EQ(Names(list), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(list[0].link, "");  // only http(s) addresses
    EXPECT_EQ(list[1].link, "https://b.example/%E7%83%AD");
}

TEST(FeedFormats, XmlNeverFetchesOrExpandsWhatADocumentDeclares) {
    TempDir dir("kivo-xxe");
    WriteBytes(dir.File("secret"), "TOP-SECRET-WORDS");
    std::string external = "<?xml version=\"1.0\"?>\n<!DOCTYPE rss [<!ENTITY x SYSTEM \"file://" + dir.File("secret") +
                           "\">]>\n<rss version=\"2.0\"><channel>";
    for (int i = 0; i < 10; ++i) external += "<item><title>&x;" + std::to_string(i) + "</title></item>";
    external += "</channel></rss>";
    try {
        for (const ListItem& item : Items(external)) EXPECT_EQ(item.name.find("SECRET"), std::string::npos);
    } catch (const FeedError&) {
    }

    std::string bomb =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE rss [<!ENTITY a0 \"lol lol lol lol lol lol lol lol lol lol\">\n";
    for (int i = 1; i <= 12; ++i)
        bomb += "<!ENTITY a" + std::to_string(i) + " \"" + [&] {
            std::string refs;
            for (int k = 0; k < 10; ++k) refs += "&a" + std::to_string(i - 1) + ";";
            return refs;
        }() + "\">\n";
    bomb += "]>\n<rss version=\"2.0\"><channel>";
    for (int i = 0; i < 10; ++i) bomb += "<item><title>&a12;</title></item>";
    bomb += "</channel></rss>";
    EXPECT_THROW(Items(bomb), FeedError);  // libxml2's amplification limit
}

// ---- sources.txt ---------------------------------------------------------------

TEST(SourcesFile, LinesWithTheirDefaultsAndEachBadLineNamed) {
    const auto sources = kivo::server::Sources::Parse(
        "# lists\n\n"
        "today derived:rising\n"
        "hot http://127.0.0.1:1200/weibo/search/hot every=5 window=0 fallback=https://a.example/x fallback=http://b/\n"
        "movie https://127.0.0.1/m format=json:data.list:name:-:url keep=9\n"
        "week derived:week\n",
        "sources.txt");
    ASSERT_EQ(sources.lines.size(), 4u);
    const auto* hot = sources.Find("hot");
    ASSERT_NE(hot, nullptr);
    EXPECT_EQ(hot->keep, 8u);  // a Top8 list
    EXPECT_EQ(hot->everyMinutes, 5);
    EXPECT_EQ(hot->windowMinutes, 0);
    EXPECT_EQ(hot->urls.size(), 3u);
    EXPECT_EQ(sources.Find("movie")->keep, 9u);
    EXPECT_EQ(sources.Find("movie")->format.heat, "");
    EXPECT_EQ(sources.Find("movie")->everyMinutes, 10);
    EXPECT_EQ(sources.Find("game"), nullptr);

    for (const char* bad :
         {"music http://a/", "hot", "hot ftp://a/", "hot http://a/ every=4", "hot http://a/ every=1441",
          "hot http://a/ keep=7", "hot http://a/ keep=11", "hot http://a/ format=xml", "hot http://a/ format=json:a:b",
          "hot http://a/ fallback=file:///etc/passwd", "hot http://a/ colour=red", "hot http://a/ every=5 every=6",
          "hot derived:top", "hot derived:week every=5", "hot http://a/\nhot http://b/", "hot http://a/ window=-1"}) {
        try {
            kivo::server::Sources::Parse("# x\n" + std::string(bad) + "\n", "sources.txt");
            ADD_FAILURE() << "accepted: " << bad;
        } catch (const std::runtime_error& e) {
            const std::string line = std::string(bad).find('\n') != std::string::npos ? "3" : "2";
            EXPECT_EQ(std::string(e.what()).rfind("sources.txt:" + line + ": ", 0), 0u) << e.what();
        }
    }
}

// ---- importing from loopback sources ---------------------------------------

// A feed publisher on a loopback address of its own: answers set per path,
// requests recorded.
class FeedHost {
public:
    struct Answer {
        Answer(int status_ = 200, std::string body_ = {}, std::string type_ = "application/xml",
               std::vector<std::pair<std::string, std::string>> headers_ = {}, bool stall_ = false,
               std::string etag_ = {})
            : status(status_),
              body(std::move(body_)),
              type(std::move(type_)),
              headers(std::move(headers_)),
              stall(stall_),
              etag(std::move(etag_)) {}
        int status;
        std::string body;
        std::string type;
        std::vector<std::pair<std::string, std::string>> headers;
        bool stall;        // no answer for 20 s
        std::string etag;  // answered 304 when asked with it
    };
    struct Request {
        std::string path, agent, ifNoneMatch;
        std::chrono::steady_clock::time_point at;
    };

    explicit FeedHost(std::string address) : address_(std::move(address)) {
        // One request at a time (so a silent answer needs a host of its
        // own): ThreadSanitizer reports races inside the library's pool when
        // two run at once.
        server_.new_task_queue = [] { return new httplib::ThreadPool(1); };
        server_.Get(".*", [this](const httplib::Request& req, httplib::Response& res) { Serve(req, res); });
        port_ = server_.bind_to_any_port(address_);
        if (port_ <= 0) throw std::runtime_error("cannot listen on " + address_);
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        if (!WaitUntil([this] { return server_.is_running(); }, 10s))
            throw std::runtime_error("feed host did not start");
    }
    ~FeedHost() {
        stopping_ = true;
        server_.stop();
        thread_.join();
    }
    std::string Url(const std::string& path) const { return "http://" + address_ + ":" + std::to_string(port_) + path; }
    void Set(const std::string& path, Answer answer) {
        std::lock_guard<std::mutex> lock(mutex_);
        answers_[path] = std::move(answer);
    }
    std::vector<Request> Requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    int Count(const std::string& path) {
        int n = 0;
        for (const Request& r : Requests()) n += r.path == path;
        return n;
    }

private:
    void Serve(const httplib::Request& req, httplib::Response& res) {
        Answer answer;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back({req.path, req.get_header_value("User-Agent"), req.get_header_value("If-None-Match"),
                                 std::chrono::steady_clock::now()});
            const auto it = answers_.find(req.path);
            if (it == answers_.end()) {
                res.status = 404;
                return;
            }
            answer = it->second;
        }
        for (int i = 0; answer.stall && i < 400 && !stopping_; ++i) std::this_thread::sleep_for(50ms);
        if (!answer.etag.empty() && req.get_header_value("If-None-Match") == answer.etag) {
            res.status = 304;
            return;
        }
        res.status = answer.status;
        for (const auto& [name, value] : answer.headers) res.set_header(name.c_str(), value);
        if (!answer.etag.empty()) res.set_header("ETag", answer.etag);
        res.set_content(answer.body, answer.type.c_str());
    }

    std::string address_;
    int port_ = 0;
    httplib::Server server_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::map<std::string, Answer> answers_;
    std::vector<Request> requests_;
};

// A dailyhot answer ranking `names` (with heat counting down).
std::string DailyHot(const std::vector<std::string>& names) {
    std::string body = "{\"code\":200,\"data\":[";
    for (std::size_t i = 0; i < names.size(); ++i)
        body += std::string(i ? "," : "") + "{\"title\":\"" + names[i] + "\",\"hot\":" + std::to_string(1000 - i) +
                ",\"url\":\"https://hot.example/" + std::to_string(i) + "\"}";
    return body + "]}";
}

std::vector<std::string> Words(const std::string& prefix, int count) {
    std::vector<std::string> words;
    for (int i = 1; i <= count; ++i) words.push_back(prefix + std::to_string(i));
    return words;
}

std::string Gzip(const std::string& bytes) {
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(bytes.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// A data folder with the shipped lists and a store, SQLite or a real PostgreSQL.
class Import : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        fs::copy(KIVO_SOURCE_DIR "/server/data", Data());
        if (std::string(GetParam()) == "postgresql") {
            postgres_ = std::make_unique<kivo::test::Postgres>();
            db_ = postgres_->Uri();
        } else {
            db_ = dir_.File("lists.db");
        }
    }
    std::string Data() const { return dir_.File("data"); }
    std::string List(const std::string& page) const { return ReadBytes(Data() + "/" + page + ".txt").value_or(""); }
    void Sources(const std::string& text) const { WriteBytes(Data() + "/sources.txt", text); }
    // `kivo-server COMMAND`: its exit status, its output in `output`.
    int Run(const std::string& command, std::string* output = nullptr) const {
        Process run(KIVO_PRODUCT_EXE, {command, "--data", Data(), "--db", db_});
        const int status = run.Wait(60s);
        if (output) *output = run.Output();
        return status;
    }
    std::string StatusLine(const std::string& page) const {
        std::string out;
        Run("status", &out);
        const std::size_t at = out.find(page + " ");
        return at == std::string::npos ? "" : out.substr(at, out.find('\n', at) - at);
    }
    // The entries of a list file as "name trend" lines.
    std::vector<std::string> Ranking(const std::string& page) const {
        std::vector<std::string> rows;
        const std::string text = List(page);
        for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos && at + 1 < text.size();) {
            const std::string line = text.substr(at + 1, text.find('\n', at + 1) - at - 1);
            at += 1;
            const std::size_t a = line.find('\t'), b = line.find('\t', a + 1), c = line.find('\t', b + 1);
            if (a == std::string::npos || c == std::string::npos) continue;
            rows.push_back(line.substr(a + 1, b - a - 1) + " " + line.substr(c + 1, line.find('\t', c + 1) - c - 1));
        }
        return rows;
    }

    TempDir dir_{"kivo-import"};
    std::unique_ptr<kivo::test::Postgres> postgres_;
    std::string db_;
};

TEST_P(Import, TrendsAndDerivedListsFollowThreeImportsAcrossRestarts) {
    FeedHost one("127.0.0.1"), two("127.0.0.2");
    Sources("hot " + one.Url("/hot") +
            " window=0\n"
            "game " +
            two.Url("/game") +
            " format=dailyhot window=0\n"
            "today derived:rising\nweek derived:week\n");
    const auto a = Words("a", 10), g = Words("g", 10);
    one.Set("/hot", {200, DailyHot(a), "application/json"});
    two.Set("/game", {200, DailyHot(g), "application/json"});
    std::string out;
    ASSERT_EQ(Run("import", &out), 0) << out;
    EXPECT_NE(out.find("hot accepted"), std::string::npos) << out;
    EXPECT_EQ(Ranking("hot"), (std::vector<std::string>{"a1 same", "a2 same", "a3 same", "a4 same", "a5 same",
                                                        "a6 same", "a7 same", "a8 same"}));  // Top8: 8 kept
    EXPECT_EQ(Ranking("game").size(), 10u);
    EXPECT_NE(List("hot").find("\t1000\tsame\thttps://hot.example/0\n"), std::string::npos) << List("hot");
    EXPECT_EQ(List("hot").find("\xE7\x83\xAD\xE9\x97\xA8\xE6\x90\x9C\xE7\xB4\xA2Top8\n") != std::string::npos, true);
    EXPECT_EQ(Ranking("week").size(), 8u);

    // Each import is a new process: trends come from the store.
    one.Set("/hot", {200, DailyHot({"a3", "a1", "new", "a2", "a4", "a5", "a6", "a7", "a8"}), "application/json"});
    two.Set("/game",
            {200, DailyHot({"g10", "g1", "g2", "g3", "g4", "g5", "g6", "g7", "g8", "g9"}), "application/json"});
    ASSERT_EQ(Run("import", &out), 0) << out;
    EXPECT_EQ(Ranking("hot"), (std::vector<std::string>{"a3 up", "a1 down", "new up", "a2 down", "a4 down", "a5 down",
                                                        "a6 down", "a7 down"}));
    // Rising: gains against each list's baseline; "g10" gained 9, "new" (absent,
    // baseline of 8) 8 + 1 - 3 = 6, "a3" 2; ties by current rank.
    const auto rising = Ranking("today");
    ASSERT_EQ(rising.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(rising.begin(), rising.begin() + 3),
              (std::vector<std::string>{"g10 up", "new up", "a3 up"}));

    one.Set("/hot", {200, DailyHot({"a3", "a1", "new", "a2", "a4", "a5", "a6", "a8", "a7"}), "application/json"});
    ASSERT_EQ(Run("import", &out), 0) << out;
    EXPECT_EQ(Ranking("hot"), (std::vector<std::string>{"a3 same", "a1 same", "new same", "a2 same", "a4 same",
                                                        "a5 same", "a6 same", "a8 up"}));
    // The week: the sum of (11 - rank) over the three snapshots of each list.
    const auto week = Ranking("week");
    ASSERT_EQ(week.size(), 8u);
    EXPECT_EQ(week[0].substr(0, week[0].find(' ')), "a1");  // 10 + 9 + 9
    EXPECT_EQ(week[1].substr(0, week[1].find(' ')), "a3");  // 8 + 10 + 10, ties by best rank
    EXPECT_NE(StatusLine("week").find("derived"), std::string::npos);
    EXPECT_NE(StatusLine("hot").find("source=" + one.Url("/hot")), std::string::npos);

    for (const auto& request : one.Requests()) EXPECT_EQ(request.agent.rfind("kivo-server/", 0), 0u) << request.agent;
}

TEST_P(Import, EachBrokenSourceKeepsTheLastGoodListFallbacksAreTriedAndStatusSaysWhy) {
    FeedHost host("127.0.0.3"), spare("127.0.0.4"), silent("127.0.0.8");
    const std::vector<std::string> pages = {"movie", "teleplay", "game",   "novel",  "mm",
                                            "gg",    "mmstar",   "ggstar", "scenic", "newmusic"};
    std::string lines;
    for (const std::string& page : pages) {
        FeedHost& source = page == "game" ? silent : host;
        lines += page + " " + source.Url("/" + page) + " fallback=" + spare.Url("/" + page) + "\n";
        source.Set("/" + page, {200, DailyHot(Words(page + "-", 10)), "application/json"});
    }
    Sources(lines);
    std::string out;
    ASSERT_EQ(Run("import", &out), 0) << out;
    std::map<std::string, std::string> good;
    for (const std::string& page : pages) good[page] = List(page);

    TempDir secret("kivo-secret");
    WriteBytes(secret.File("passwd"), "NEVER-SHOWN-SECRET");
    std::string xxe = "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY x SYSTEM \"file://" + secret.File("passwd") +
                      "\">]><rss version=\"2.0\"><channel>";
    for (int i = 0; i < 10; ++i) xxe += "<item><title>&x;</title></item>";
    xxe += "</channel></rss>";
    std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a0 \"lollollollollollollollollollol\">";
    for (int i = 1; i <= 12; ++i) {
        bomb += "<!ENTITY a" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) bomb += "&a" + std::to_string(i - 1) + ";";
        bomb += "\">";
    }
    bomb += "]><rss version=\"2.0\"><channel>";
    for (int i = 0; i < 10; ++i) bomb += "<item><title>&a12; " + std::to_string(i) + "</title></item>";
    bomb += "</channel></rss>";
    std::vector<std::string> emoji(10);
    for (int i = 0; i < 10; ++i) emoji[i] = std::string(static_cast<std::size_t>(i + 1), ' ') + "\xF0\x9F\x94\xA5";

    const std::map<std::string, std::pair<FeedHost::Answer, std::string>> faults = {
        {"movie", {{500, "{\"error\":\"upstream\"}", "application/json"}, "HTTP status 500"}},
        {"teleplay",
         {{200, "<!DOCTYPE html><html><body>\xE7\x99\xBB\xE5\xBD\x95</body></html>", "text/html"}, "not a feed"}},
        {"game", {{200, "", "text/plain", {}, true}, "no complete answer within 15 s"}},
        {"novel", {{302, "", "text/plain", {{"Location", host.Url("/novel")}}}, "more than 3 redirects"}},
        {"mm",
         {{200, std::string(3 << 20, ' ') + DailyHot(Words("x", 10)), "application/json"}, "larger than 2048 KiB"}},
        {"gg",
         {{200, Gzip(std::string(64 << 20, ' ')), "application/octet-stream", {{"Content-Encoding", "gzip"}}},
          "larger than 2048 KiB"}},
        {"mmstar", {{200, bomb, "application/xml"}, "XML"}},
        {"ggstar", {{200, xxe, "application/xml"}, "only 0 usable entries"}},
        {"scenic", {{200, DailyHot(Words("s", 7)), "application/json"}, "only 7 usable entries"}},
        {"newmusic", {{200, DailyHot(emoji), "application/json"}, "only 0 usable entries"}},
    };
    for (const auto& [page, fault] : faults) (page == "game" ? silent : host).Set("/" + page, fault.first);
    // One fallback answers well, the others are missing.
    spare.Set("/scenic", {200, DailyHot(Words("spare", 10)), "application/json"});
    const std::size_t earlier = host.Requests().size();
    EXPECT_EQ(Run("import", &out), 1) << out;

    for (const auto& [page, fault] : faults) {
        const std::string status = StatusLine(page);
        EXPECT_EQ(spare.Count("/" + page), 1) << page;
        if (page == "scenic") {
            EXPECT_EQ(Ranking(page).front(), "spare1 same");  // no baseline 30 minutes old yet
            EXPECT_NE(status.find("source=" + spare.Url("/scenic")), std::string::npos) << status;
            continue;
        }
        EXPECT_EQ(List(page), good[page]) << page;
        EXPECT_NE(status.find("failures=1 reason="), std::string::npos) << status;
        EXPECT_NE(status.find(fault.second), std::string::npos) << status;
        EXPECT_NE(status.find(spare.Url("/" + page) + ": HTTP status 404"), std::string::npos) << status;
    }
    for (const auto& entry : fs::recursive_directory_iterator(dir_.Path())) {
        if (!entry.is_regular_file()) continue;
        EXPECT_EQ(ReadBytes(entry.path()).value_or("").find("NEVER-SHOWN-SECRET"), std::string::npos) << entry.path();
    }
    std::string status;
    Run("status", &status);
    EXPECT_EQ(status.find("NEVER-SHOWN-SECRET"), std::string::npos);
    // Nine lists on one host: one fetch from it every 500 ms at most (the
    // redirects within one fetch aside), so nine fetches span at least 4 s
    // whatever each one's own delay on the way.
    std::vector<std::chrono::steady_clock::time_point> fetches;
    const auto requests = host.Requests();
    for (std::size_t i = earlier; i < requests.size(); ++i)
        if (i == earlier || requests[i].path != requests[i - 1].path) fetches.push_back(requests[i].at);
    ASSERT_EQ(fetches.size(), 9u);
    EXPECT_GE(fetches.back() - fetches.front(), 7 * 500ms);
}

TEST_P(Import, AnAnswerNotModifiedRewritesNothingAndLongFailureAlarmsCron) {
    FeedHost host("127.0.0.5");
    Sources("novel " + host.Url("/novel") + "\nhotmusic " + host.Url("/down") + "\nmm " + host.Url("/novel") + "\n");
    fs::remove(Data() + "/mm.txt");
    fs::create_directory(Data() + "/mm.txt");  // a list file that cannot be replaced
    host.Set("/novel", {200, Fixture("newsnow.json"), "application/json", {}, false, "\"v1\""});
    host.Set("/down", {200, Fixture("mapping.json"), "application/json"});
    std::string out;
    ASSERT_EQ(Run("import", &out), 1) << out;  // mapping.json is no known shape without format=
    const std::string first = List("novel");
    struct stat before {};
    ::stat((Data() + "/novel.txt").c_str(), &before);
    ASSERT_EQ(Run("import", &out), 1) << out;
    EXPECT_NE(out.find("novel unchanged"), std::string::npos) << out;
    const auto requests = host.Requests();
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(), [](const auto& r) { return r.ifNoneMatch == "\"v1\""; }),
              1);
    struct stat after {};
    ::stat((Data() + "/novel.txt").c_str(), &after);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ(List("novel"), first);
    // The same feed for another list whose file could not be written: asked
    // again without validators, and written once it can be.
    EXPECT_NE(out.find("mm rejected: cannot write " + Data() + "/mm.txt"), std::string::npos) << out;
    fs::remove(Data() + "/mm.txt");
    ASSERT_EQ(Run("import", &out), 1) << out;
    EXPECT_NE(out.find("mm accepted"), std::string::npos) << out;
    EXPECT_EQ(Ranking("mm"), Ranking("novel"));

    EXPECT_EQ(Run("status", &out), 0) << out;  // three failures: not yet
    EXPECT_NE(out.find("hotmusic  imported"), std::string::npos) << out;
    EXPECT_NE(out.find("scenic    manual"), std::string::npos) << out;
    Run("import");
    EXPECT_EQ(Run("status", &out), 1) << out;  // more than three periods
    EXPECT_NE(StatusLine("hotmusic").find("failures=4"), std::string::npos) << out;
    EXPECT_NE(StatusLine("hotmusic").find("OVERDUE"), std::string::npos) << out;
    EXPECT_EQ(StatusLine("novel").find("OVERDUE"), std::string::npos) << out;
}

TEST_P(Import, SnapshotsAreKeptThirtyDays) {
    const auto store = kivo::server::OpenSnapshotStore(db_);
    const std::int64_t day = 24LL * 3600 * 1000;
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    store->Add({now - 31 * day, "hot", "http://a/", {{1, "old", 5, ""}}});
    store->Add({now - 29 * day, "hot", "http://a/", {{1, "kept", 5, ""}}});
    ASSERT_TRUE(store->Latest("hot", now - 30 * day));
    store->Add({now, "hot", "http://a/", {{1, "new", 5, ""}}});
    EXPECT_FALSE(store->Latest("hot", now - 30 * day));
    EXPECT_EQ(store->Latest("hot", now - 29 * day)->entries.at(0).name, "kept");
    EXPECT_EQ(store->Latest("hot", now)->entries.at(0).name, "new");
}

INSTANTIATE_TEST_SUITE_P(Stores, Import, ::testing::Values("sqlite", "postgresql"));

// ---- beside the server --------------------------------------------------------

TEST(ServedImports, TheProgramAndNginxGetTheImportedNamesInGbkAndABadSourcesLineIsNamed) {
    TempDir dir("kivo-served");
    ::chmod(dir.Path().c_str(), 0755);  // nginx's workers read the copy
    const std::string data = dir.File("data");
    fs::copy(KIVO_SOURCE_DIR "/server/data", data);
    FeedHost host("127.0.0.6");
    host.Set("/weibo/search/hot", {200, Fixture("rss2.xml")});
    host.Set("/games", {200, Fixture("feed.json"), "application/feed+json"});
    FeedHost silent("127.0.0.7");
    silent.Set("/never", {200, "", "application/xml", {}, true});  // answers nothing for 20 s
    WriteBytes(data + "/sources.txt", "novel " + silent.Url("/never") + "\nhot " + host.Url("/weibo/search/hot") +
                                          "\ngame " + host.Url("/games") + "\n");
    const std::string log = dir.File("server.log");
    Process server(KIVO_PRODUCT_EXE,
                   {"--port", "0", "--data", data, "--db", dir.File("kivo.db"), "--metrics", "127.0.0.1:0"}, {},
                   kivo::test::ProcessOptions{log});
    const auto Log = [&] { return ReadBytes(log).value_or(""); };
    ASSERT_TRUE(WaitUntil([&] { return Log().find("\nmetrics ") != std::string::npos; }, 10s)) << Log();
    const int port = std::atoi(Log().c_str() + Log().find("listening ") + 10);
    const int metrics = std::atoi(Log().c_str() + Log().find("\nmetrics ") + 9);
    const std::string topic =
        "\xE5\xAB\xA6\xE5\xA8\xA5\xE4\xB8\x83\xE5\x8F\xB7\xE5\x8F\x91\xE5\xB0\x84\xE6\x88\x90\xE5\x8A\x9F";
    auto client = kivo::test::HttpClientFor(port);
    ASSERT_TRUE(WaitUntil([&] {
        const auto res = client->Get("/sml/game.html");
        const auto hot = client->Get("/sml/hot.html");
        return res && hot && res->body.find(Gbk("\xE5\x8E\x9F\xE7\xA5\x9E")) != std::string::npos &&
               hot->body.find(Gbk(topic)) != std::string::npos;
    })) << Log();

    // Each imported list in the metrics.
    const std::string exposition = kivo::test::HttpClientFor(metrics)->Get("/metrics")->body;
    EXPECT_NE(exposition.find("kivo_list_consecutive_failures{page=\"game.html\"} 0\n"), std::string::npos)
        << exposition;
    EXPECT_EQ(exposition.find("kivo_list_last_success_timestamp_seconds{page=\"hot.html\"} 0\n"), std::string::npos);

    // The program's own refresh stores the pages with the names in GBK.
    TempDir app("kivo-app");
    Process once(kivo::test::InstallHeadless(app.Path()), {"--once"},
                 {"XDG_RUNTIME_DIR=" + app.Path(), "KIVO_SERVER=127.0.0.1:" + std::to_string(port)});
    EXPECT_EQ(once.Wait(), 0) << once.Output();
    const std::string page = ReadBytes(app.File("prg/hot.html")).value_or("");
    EXPECT_NE(page.find(Gbk(topic)), std::string::npos);
    EXPECT_NE(page.find("href=\"https://s.weibo.example/weibo?q=%231%23\""), std::string::npos);
    EXPECT_EQ(page.find(Gbk("\xE7\x83\xAD\xE5\xBA\xA6 0")), std::string::npos);  // no heat, no heat tooltip

    // The static copy behind nginx holds them too.
    ASSERT_EQ(Process(KIVO_PRODUCT_EXE, {"export", dir.File("public"), "--data", data}).Wait(), 0);
    kivo::test::Nginx nginx(dir.Path(), dir.File("public"), port);
    EXPECT_NE(kivo::test::HttpClientFor(nginx.Port())->Get("/sml/hot.html")->body.find(Gbk(topic)), std::string::npos);

    // A bad line is named and the lists go on as they were.
    WriteBytes(data + "/sources.txt.new", "hot " + host.Url("/weibo/search/hot") + "\ngame ftp://127.0.0.1/\n");
    fs::rename(data + "/sources.txt.new", data + "/sources.txt");
    EXPECT_TRUE(WaitUntil([&] { return Log().find(data + "/sources.txt:2: ") != std::string::npos; }, 10s)) << Log();
    EXPECT_NE(client->Get("/sml/game.html")->body.find(Gbk("\xE5\x8E\x9F\xE7\xA5\x9E")), std::string::npos);
    // The silent source held neither the other lists nor the pages, and
    // does not hold the stop either.
    EXPECT_EQ(silent.Count("/never"), 1);
    const auto stopping = std::chrono::steady_clock::now();
    server.Kill(SIGTERM);
    EXPECT_EQ(server.Wait(20s), 0) << Log();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 10s);
}

}  // namespace
