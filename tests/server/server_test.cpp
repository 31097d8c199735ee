// kivo-server from outside: its pages, its HTTP manners and limits, live
// reloads, its static copy behind a real nginx driven by the program's own
// transfers, and the subscription stores on SQLite and a real PostgreSQL.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "MailStore.h"
#include "app/Core.h"
#include "net/Catalogue.h"
#include "platform/Http.h"
#include "platform/System.h"
#include "platform/linux/Gbk.h"
#include "server/Pattern.h"
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
using kivo::server::PatternBytes;
using kivo::test::Connection;
using kivo::test::HttpClientFor;
using kivo::test::Nginx;
using kivo::test::Postgres;
using kivo::test::Process;
using kivo::test::RawExchange;
using kivo::test::ReadBytes;
using kivo::test::TempDir;
using kivo::test::WaitUntil;
using kivo::test::WriteBytes;
using Clock = std::chrono::steady_clock;

// kivo-server started for one test, its standard output and error in a log.
class Product {
public:
    Product(const std::string& dir, std::vector<std::string> args) : log_(dir + "/server.log") {
        args.insert(args.begin(), {"--port", "0"});
        if (std::find(args.begin(), args.end(), "--db") == args.end())
            args.insert(args.end(), {"--db", dir + "/mail.db"});
        process_ = std::make_unique<Process>(KIVO_PRODUCT_EXE, args, std::vector<std::string>{},
                                             kivo::test::ProcessOptions{log_});
        if (!WaitUntil([this] { return Log().find('\n') != std::string::npos; }, 10s) ||
            Log().rfind("listening ", 0) != 0)
            throw std::runtime_error("kivo-server did not start: " + Log());
        port_ = std::atoi(Log().c_str() + 10);
    }
    ~Product() {
        process_->Kill(SIGTERM);
        EXPECT_EQ(process_->Wait(10s), 0) << Log();
    }
    int Port() const { return port_; }
    std::string Log() const { return ReadBytes(log_).value_or(""); }
    int Count(const std::string& text) const { return kivo::test::Count(Log(), text); }
    void Signal(int number) { process_->Kill(number); }
    std::unique_ptr<httplib::Client> Client() const { return HttpClientFor(port_); }

private:
    std::string log_;
    std::unique_ptr<Process> process_;
    int port_ = 0;
};

// ---- content ---------------------------------------------------------------

TEST(ServerContent, PagesAreGbkWithTheirTitlesAndTheImageDecodes) {
    TempDir dir("kivo-server");
    Product server(dir.Path(), {});
    auto client = server.Client();
    for (const CategoryInfo& list : g_categories) {
        const std::string name = list.szPageFile;
        const auto res = client->Get("/sml/" + name);
        ASSERT_TRUE(res && res->status == 200) << name;
        EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=gbk") << name;
        const std::string& page = res->body;
        EXPECT_GE(page.size(), 3072u) << name;
        EXPECT_NE(page.find("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">"),
                  std::string::npos);
        EXPECT_NE(page.find("url(main_back.gif)"), std::string::npos) << name;
        // The page's title is the list's name in the popup's chooser, in GBK.
        EXPECT_NE(page.find(list.szPopupText), std::string::npos) << name << " lacks its GBK title";
        EXPECT_EQ(page.find(kivo::platform::GbkToUtf8(list.szPopupText)), std::string::npos) << name << " holds UTF-8";
    }

    const auto res = client->Get("/sml/main_back.gif");
    ASSERT_TRUE(res && res->status == 200);
    EXPECT_EQ(res->get_header_value("Content-Type"), "image/gif");
    const std::string& gif = res->body;
    ASSERT_GE(gif.size(), 3072u);
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("gif", nullptr);
    const bool decoded =
        gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(gif.data()), gif.size(), nullptr) &&
        gdk_pixbuf_loader_close(loader, nullptr);
    GdkPixbuf* image = decoded ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    ASSERT_NE(image, nullptr) << "GIF data does not decode";
    EXPECT_EQ(gdk_pixbuf_get_width(image), 156);
    EXPECT_EQ(gdk_pixbuf_get_height(image), 135);
    g_object_unref(loader);
}

// ---- HTTP ------------------------------------------------------------------

TEST(ServerHttp, CachingHeadersConditionalRequestsAndHead) {
    TempDir dir("kivo-server");
    Product server(dir.Path(), {});
    auto client = server.Client();
    for (const std::string path : {"/sml/today.html", "/sml/main_back.gif"}) {
        const auto full = client->Get(path);
        ASSERT_TRUE(full && full->status == 200) << path;
        const std::string etag = full->get_header_value("ETag");
        const std::string modified = full->get_header_value("Last-Modified");
        EXPECT_NE(full->get_header_value("Cache-Control").find("max-age="), std::string::npos) << path;
        EXPECT_TRUE(etag.size() > 2 && etag.front() == '"' && etag.back() == '"') << etag;
        EXPECT_TRUE(modified.ends_with(" GMT")) << modified;

        const std::vector<std::pair<httplib::Headers, int>> conditional = {
            {{{"If-None-Match", etag}}, 304},
            {{{"If-None-Match", "\"other\", W/" + etag}}, 304},
            {{{"If-None-Match", "\"other\""}}, 200},
            {{{"If-Modified-Since", modified}}, 304},
            {{{"If-Modified-Since", "Thu, 01 Jan 1970 00:00:01 GMT"}}, 200},
        };
        for (const auto& [headers, status] : conditional) {
            const auto res = client->Get(path, headers);
            ASSERT_TRUE(res) << path;
            EXPECT_EQ(res->status, status) << path << " " << headers.begin()->second;
            EXPECT_EQ(res->body.empty(), status == 304) << path;
            EXPECT_EQ(res->get_header_value("ETag"), etag) << path;
        }
        const auto head = client->Head(path);
        ASSERT_TRUE(head && head->status == 200) << path;
        EXPECT_TRUE(head->body.empty());
        EXPECT_EQ(head->get_header_value("Content-Length"), std::to_string(full->body.size()));
    }
}

// The bytes a gzip stream decodes to; nullopt when it is not one whole stream.
std::optional<std::string> Gunzip(const std::string& packed) {
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK) return std::nullopt;
    std::string out;
    char buffer[16384];
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
    stream.avail_in = static_cast<uInt>(packed.size());
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - stream.avail_out);
    }
    const bool whole = result == Z_STREAM_END && stream.avail_in == 0;
    inflateEnd(&stream);
    return whole ? std::optional<std::string>(out) : std::nullopt;
}

TEST(ServerHttp, TextIsSentGzippedWhenAskedWithATagOfItsOwn) {
    TempDir dir("kivo-server");
    Product server(dir.Path(), {});
    auto client = server.Client();
    client->set_decompress(false);
    const httplib::Headers gzip = {{"Accept-Encoding", "gzip, deflate"}};

    const auto plain = client->Get("/sml/today.html");
    const auto packed = client->Get("/sml/today.html", gzip);
    ASSERT_TRUE(plain && packed && plain->status == 200 && packed->status == 200);
    EXPECT_FALSE(plain->has_header("Content-Encoding"));
    EXPECT_EQ(packed->get_header_value("Content-Encoding"), "gzip");
    for (const auto* res : {&plain, &packed}) EXPECT_EQ((*res)->get_header_value("Vary"), "Accept-Encoding");
    EXPECT_EQ(Gunzip(packed->body), plain->body);
    EXPECT_LT(packed->body.size(), plain->body.size() / 2);
    const std::string plainTag = plain->get_header_value("ETag"), packedTag = packed->get_header_value("ETag");
    EXPECT_NE(plainTag, packedTag);

    // Each form is validated by its own tag.
    httplib::Headers conditional = gzip;
    conditional.emplace("If-None-Match", packedTag);
    const auto unchanged = client->Get("/sml/today.html", conditional);
    ASSERT_TRUE(unchanged);
    EXPECT_EQ(unchanged->status, 304);
    EXPECT_EQ(unchanged->get_header_value("ETag"), packedTag);
    EXPECT_EQ(client->Get("/sml/today.html", {{"If-None-Match", packedTag}})->status, 200);
    EXPECT_EQ(client->Get("/sml/today.html", {{"If-None-Match", plainTag}})->status, 304);

    // What a request accepts, as RFC 9110 weighs it.
    const std::vector<std::pair<std::string, bool>> accepts = {
        {"gzip", true},       {"GZIP", true},      {"x-gzip", true},    {"br, *", true},
        {"gzip;q=0.5", true}, {"identity", false}, {"gzip;q=0", false}, {"gzip; q=0.000, *", false},
        {"br", false},        {"", false}};
    for (const auto& [header, wanted] : accepts) {
        const auto res = client->Get("/sml/week.html", {{"Accept-Encoding", header}});
        ASSERT_TRUE(res && res->status == 200) << header;
        EXPECT_EQ(res->has_header("Content-Encoding"), wanted) << header;
    }

    // Nothing to gain: the image, and answers too small to shrink.
    for (const std::string path : {"/sml/main_back.gif", "/kivoversion.php"}) {
        const auto res = client->Get(path, gzip);
        ASSERT_TRUE(res && res->status == 200) << path;
        EXPECT_FALSE(res->has_header("Content-Encoding")) << path;
        EXPECT_FALSE(res->has_header("Vary")) << path;
    }
}

TEST(ServerHttp, VersionsInstallersSignaturesAndEverythingElse404) {
    TempDir dir("kivo-server");
    const std::string windows = "MZ" + PatternBytes(5000), linux = "#!/bin/sh\n" + PatternBytes(7000);
    WriteBytes(dir.File("setup.exe"), windows);
    WriteBytes(dir.File("setup.exe.sig"), "signature");
    WriteBytes(dir.File("kivo-update"), linux);
    Product server(dir.Path(), {"--version", "1002", "--update-file", dir.File("setup.exe"), "--update-file-for",
                                "linux-x86_64=" + dir.File("kivo-update")});
    auto client = server.Client();
    const std::vector<std::pair<std::string, std::string>> answers = {
        {"/kivoversion.php", "version:1002"},
        {"/kivoversion.php?platform=linux-x86_64", "version:1002"},
        {"/kivoversion.php?platform=linux-aarch64", "version:0"},
        {"/update/update.exe", windows},
        {"/update/update.exe.sig", "signature"},
        {"/update/linux-x86_64/update", linux}};
    for (const auto& [target, body] : answers) {
        const auto res = client->Get(target);
        ASSERT_TRUE(res && res->status == 200) << target;
        EXPECT_EQ(res->body, body) << target;
    }
    for (const std::string target :
         {"/update/linux-x86_64/update.sig", "/update/linux-aarch64/update", "/update/a/b/update", "/sml/../x",
          "/sml/%2e%2e/x", "/sml/", "/sml/today.html/x", "/sml/TODAY.html", "/sml/%74oday.html", "/nothing", "/",
          "/kivoversion/_none", "/kivoversion/linux-x86_64"}) {
        const auto res = client->Get(target);
        ASSERT_TRUE(res) << target;
        EXPECT_EQ(res->status, 404) << target;
    }
    const auto post = client->Post("/sml/today.html", "x", "text/plain");
    ASSERT_TRUE(post);
    EXPECT_EQ(post->status, 404);
    EXPECT_EQ(client->Get("/sml/today.html")->status, 200);
}

TEST(ServerLimits, OversizedAndMalformedRequestsAreRefused) {
    TempDir dir("kivo-server");
    Product server(dir.Path(), {});
    const auto status = [&](const std::string& head) {
        return RawExchange(server.Port(),
                           "GET /sml/today.html HTTP/1.1\r\nHost: a\r\n" + head + "Connection: close\r\n\r\n")
            .substr(0, 12);
    };
    const auto headers = [](int n, std::size_t size = 1) {
        std::string lines;
        for (int i = 0; i < n; ++i) lines += "X-" + std::to_string(i) + ": " + std::string(size, 'v') + "\r\n";
        return lines;
    };
    EXPECT_EQ(status(headers(98)), "HTTP/1.1 200");  // 100 headers with Host and Connection
    EXPECT_EQ(status(headers(99)), "HTTP/1.1 431");
    EXPECT_EQ(status(headers(2000)).substr(0, 10), "HTTP/1.1 4");
    EXPECT_EQ(status(headers(1, 7000)), "HTTP/1.1 200");
    EXPECT_EQ(status(headers(1, 8500)).substr(0, 10), "HTTP/1.1 4");  // 8 KiB of head at most
    EXPECT_EQ(RawExchange(server.Port(), "GET /" + std::string(20000, 'A') + " HTTP/1.1\r\n\r\n").substr(0, 10),
              "HTTP/1.1 4");
    const std::string garbage("\x00\xff\x13 garbage \x80\r\n\r\n", 17);
    const std::string reply = RawExchange(server.Port(), garbage);
    EXPECT_TRUE(reply.empty() || reply.rfind("HTTP/1.1 400", 0) == 0) << reply;
    EXPECT_EQ(server.Client()->Get("/sml/today.html")->status, 200);
}

// 200 clients sending a request one byte every 2 s: each is closed once 5 s
// have passed without a whole request, and normal GETs are answered all the
// while.
TEST(ServerLimits, SlowClientsAreClosedAndOthersAnsweredMeanwhile) {
    TempDir dir("kivo-server");
    Product server(dir.Path(), {});
    const std::string request = "GET /sml/today.html HTTP/1.1\r\nHost: a\r\n\r\n";
    std::deque<Connection> slow;
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(slow.emplace_back(server.Port()).Connected());
    // One more keeps its connection open, idle, after a whole request.
    Connection idle(server.Port());
    ASSERT_TRUE(idle.Send(request));

    const auto start = Clock::now();
    std::size_t sent = 0;
    while (Clock::now() - start < 6500ms) {
        if (sent < request.size() && Clock::now() - start >= sent * 2s) {
            for (Connection& connection : slow) connection.Send(request.substr(sent, 1));
            ++sent;
        }
        const auto res = HttpClientFor(server.Port())->Get("/sml/today.html");
        ASSERT_TRUE(res && res->status == 200);
        std::this_thread::sleep_for(200ms);
    }
    EXPECT_EQ(sent, 4u);
    int closed = 0;
    for (Connection& connection : slow) closed += connection.ReadToClose(nullptr, 1000ms);
    EXPECT_EQ(closed, 200);
    std::string answer;
    EXPECT_TRUE(idle.ReadToClose(&answer, 1000ms));
    EXPECT_EQ(answer.rfind("HTTP/1.1 200", 0), 0u);
}

// ---- live content ----------------------------------------------------------

TEST(ServerReload, ClientsSeeWholeOldOrNewPagesAndABadFileIsNamed) {
    TempDir dir("kivo-server");
    const std::string data = dir.File("data");
    fs::copy(KIVO_SOURCE_DIR "/server/data", data);
    Product server(dir.Path(), {"--data", data});
    const auto page = [&] { return server.Client()->Get("/sml/today.html")->body; };
    // Files are replaced whole, as an editor or a deployment does.
    const auto put = [&](const std::string& name, const std::string& text) {
        WriteBytes(data + "/" + name + ".new", text);
        fs::rename(data + "/" + name + ".new", data + "/" + name);
    };
    std::string list = "Reload\n";
    for (int rank = 1; rank <= 8; ++rank)
        list += std::to_string(rank) + "\tentry " + std::to_string(rank) + "\t9\tup\n";

    const std::string before = page();
    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::mutex mutex;
    std::set<std::string> seen;
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            auto client = server.Client();
            while (!done) {
                const auto res = client->Get("/sml/today.html");
                if (!res || res->status != 200) {
                    ++failures;
                    continue;
                }
                std::lock_guard<std::mutex> lock(mutex);
                seen.insert(res->body);
            }
        });
    }
    std::this_thread::sleep_for(200ms);
    put("today.txt", list);
    EXPECT_TRUE(WaitUntil([&] { return page() != before; }));
    std::this_thread::sleep_for(200ms);
    done = true;
    for (std::thread& t : readers) t.join();
    const std::string after = page();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(seen, (std::set<std::string>{before, after}));
    EXPECT_NE(after.find("entry 8"), std::string::npos);

    // A bad line leaves the last good pages and says where it is, at every reload.
    put("today.txt", "Broken\n1\tx\t5\tsideways\n");
    EXPECT_TRUE(WaitUntil([&] { return server.Count(data + "/today.txt:2: ") == 1; })) << server.Log();
    server.Signal(SIGHUP);
    EXPECT_TRUE(WaitUntil([&] { return server.Count(data + "/today.txt:2: ") == 2; })) << server.Log();
    EXPECT_EQ(page(), after);

    // The release can change too.
    put("today.txt", list);
    put("release.txt", "version 1003\n");
    EXPECT_TRUE(WaitUntil([&] { return server.Client()->Get("/kivoversion.php")->body == "version:1003"; }));
    put("release.txt", "version 1004\ninstaller linux-x86_64 nowhere\n");
    EXPECT_TRUE(WaitUntil([&] { return server.Count(data + "/release.txt:2: ") == 1; })) << server.Log();
    EXPECT_EQ(server.Client()->Get("/kivoversion.php")->body, "version:1003");
}

// ---- the static copy behind nginx -----------------------------------------

TEST(ServerExport, NginxServesTheCopyToTheProgramAndPassesSubscriptionsOn) {
    TempDir dir("kivo-export");
    ::chmod(dir.Path().c_str(), 0755);  // nginx's workers read the copy
    const std::string platform = kivo::platform::UpdatePlatform();
    WriteBytes(dir.File("setup.exe"), "MZ" + PatternBytes(70000));
    WriteBytes(dir.File("setup.exe.sig"), "signature of setup.exe");
    WriteBytes(dir.File("kivo-update"), "#!/bin/sh\n" + PatternBytes(90000));
    WriteBytes(dir.File("kivo-update.sig"), "signature of kivo-update");
    const std::vector<std::string> release = {"--version",         "1001",
                                              "--update-file",     dir.File("setup.exe"),
                                              "--update-file-for", platform + "=" + dir.File("kivo-update")};
    std::vector<std::string> exporting = {"export", dir.File("public")};
    exporting.insert(exporting.end(), release.begin(), release.end());
    ASSERT_EQ(Process(KIVO_PRODUCT_EXE, exporting).Wait(), 0);

    Postgres postgres;
    std::vector<std::string> serving = release;
    serving.insert(serving.end(), {"--db", postgres.Uri()});
    Product server(dir.Path(), serving);

    // The copy holds byte for byte what the server answers.
    auto client = server.Client();
    client->set_decompress(false);
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir.File("public"))) {
        if (!entry.is_regular_file()) continue;
        std::string path = fs::relative(entry.path(), dir.File("public")).string();
        // NAME.gz: what the server sends for NAME to a client that takes gzip.
        const bool packed = path.ends_with(".gz");
        if (packed) path.resize(path.size() - 3);
        const std::string target = path.starts_with("kivoversion/")
                                       ? "/kivoversion.php?platform=" + fs::path(path).filename().string()
                                       : "/" + path;
        const auto res =
            client->Get(target, packed ? httplib::Headers{{"Accept-Encoding", "gzip"}} : httplib::Headers{});
        ASSERT_TRUE(res) << target;
        EXPECT_TRUE(res->body == ReadBytes(entry.path())) << path;
        ++files;
    }
    // sml/ (and the pages' gzip forms), the three version answers, two installers with signatures
    EXPECT_EQ(files, 15 + 14 + 3 + 4);

    Nginx nginx(dir.Path(), dir.File("public"), server.Port());
    ::setenv("KIVO_SERVER", ("127.0.0.1:" + std::to_string(nginx.Port())).c_str(), 1);
    const std::string home = dir.File("app") + "/";
    fs::create_directories(home + "prg");
    kivo::app::Core core{home};
    EXPECT_EQ(core.pages.RefreshPages().Count(kivo::net::TransferResult::kReplaced), kRefreshItemCount);
    for (const char* item : g_szRefreshItems)
        EXPECT_TRUE(ReadBytes(home + "prg/" + item) == ReadBytes(dir.File("public") + "/sml/" + item)) << item;
    std::string url;
    EXPECT_EQ(core.transfers.CheckVersion(1000, url), kivo::net::VersionCheck::kNewer);
    EXPECT_EQ(core.updater.DownloadUpdate(url), kivo::net::TransferResult::kReplaced);
    EXPECT_TRUE(ReadBytes(core.updater.GetUpdatePath()) == ReadBytes(dir.File("kivo-update")));
    EXPECT_TRUE(core.transfers.PostMail("a b+c@kivo.cn?x"));
    ::unsetenv("KIVO_SERVER");
    EXPECT_EQ(kivo::server::OpenMailStore(postgres.Uri())->All(), std::vector<std::string>{"a b+c@kivo.cn?x"});

    const std::string page = RawExchange(nginx.Port(),
                                         "GET /sml/today.html HTTP/1.1\r\nHost: a\r\n"
                                         "Accept-Encoding: gzip\r\nConnection: close\r\n\r\n");
    const std::string head = page.substr(0, page.find("\r\n\r\n") + 2);
    for (const char* header : {"HTTP/1.1 200 OK\r\n", "\r\nContent-Type: text/html; charset=gbk\r\n",
                               "\r\nContent-Encoding: gzip\r\n", "\r\nCache-Control: public, max-age=300\r\n"})
        EXPECT_NE(head.find(header), std::string::npos) << header << " not in\n" << head;
    // The gzip form written by the export, sent as it is.
    EXPECT_EQ(page.substr(page.find("\r\n\r\n") + 4), ReadBytes(dir.File("public") + "/sml/today.html.gz"));
    auto web = HttpClientFor(nginx.Port());
    EXPECT_EQ(web->Get("/kivoversion.php")->body, "version:1001");
    EXPECT_EQ(web->Get("/kivoversion.php?platform=nowhere")->body, "version:0");
    EXPECT_EQ(web->Get("/kivoversion.php?platform=../kivoversion.php")->body, "version:0");
    EXPECT_EQ(web->Get("/update/update.exe.sig")->body, "signature of setup.exe");
}

// ---- subscriptions ---------------------------------------------------------

class Subscriptions : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (std::string(GetParam()) == "postgresql") {
            postgres_ = std::make_unique<Postgres>();
            where_ = postgres_->Uri();
        } else {
            where_ = dir_.File("mail.db");
        }
    }
    TempDir dir_{"kivo-mail"};
    std::unique_ptr<Postgres> postgres_;
    std::string where_;
};

TEST_P(Subscriptions, RawBytesOnceEvenFromEightWritersAtOnce) {
    const auto store = kivo::server::OpenMailStore(where_);
    const std::vector<std::string> addresses = {"a b+c@example.cn", "\xD5\xC5\xC8\xFD@\xC0\xFD.cn",
                                                std::string("x\0y@z", 5), "%41@"};
    for (const std::string& address : addresses) EXPECT_TRUE(store->Add(address));
    EXPECT_FALSE(store->Add(addresses[0]));
    EXPECT_EQ(store->All(), addresses);
    store->Clear();

    // Eight writers, each with its own connection: one address they share
    // and one of their own, again and again.
    std::atomic<int> added{0}, failures{0}, ready{0};
    std::vector<std::thread> writers;
    for (int t = 0; t < 8; ++t) {
        writers.emplace_back([&, t] {
            try {
                const auto own = kivo::server::OpenMailStore(where_);
                for (++ready; ready < 8;) std::this_thread::yield();
                for (int round = 0; round < 20; ++round) {
                    added += own->Add("shared@kivo.cn");
                    added += own->Add("writer" + std::to_string(t) + "@kivo.cn");
                }
            } catch (const std::exception& e) {
                ++failures;
                ADD_FAILURE() << e.what();
            }
        });
    }
    for (std::thread& t : writers) t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(added.load(), 9);
    std::vector<std::string> all = store->All();
    std::sort(all.begin(), all.end());
    std::vector<std::string> expected = {"shared@kivo.cn"};
    for (int t = 0; t < 8; ++t) expected.push_back("writer" + std::to_string(t) + "@kivo.cn");
    EXPECT_EQ(all, expected);
}

INSTANTIATE_TEST_SUITE_P(Stores, Subscriptions, ::testing::Values("sqlite", "postgresql"));

}  // namespace
