// Tests of kivo-server through its public and control ports.
#include <arpa/inet.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/Catalogue.h"
#include "platform/linux/Gbk.h"
#include "server/Pattern.h"
#include "tests/support/TestServer.h"

namespace {

using kivo::server::PatternBytes;
using kivo::test::TestServer;

// The background image, then the fourteen pages, as the program fetches them.
std::vector<std::string> AllItemPaths() {
    std::vector<std::string> paths;
    for (const char* item : g_szRefreshItems) paths.push_back(std::string("/sml/") + item);
    return paths;
}

// Sends `request` on a fresh connection and returns everything received until
// the server closes it (or the timeout passes).
std::string RawExchange(int port, const std::string& request,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return {};
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string received;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd pfd{fd, POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
            char buf[4096];
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            received.append(buf, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return received;
}

class ServerTest : public ::testing::Test {
protected:
    TestServer server_;
};

// ---- content under /sml/ ----------------------------------------------------

TEST_F(ServerTest, ServesEveryItemWithAtLeast3072Bytes) {
    auto client = server_.MakeClient();
    for (const std::string& path : AllItemPaths()) {
        const auto res = client->Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, 200) << path;
        EXPECT_GE(res->body.size(), 3072u) << path;
    }
}

TEST_F(ServerTest, PagesAreGbkAndCarryTheirTitles) {
    auto client = server_.MakeClient();
    for (const CategoryInfo& list : g_categories) {
        const std::string name = list.szPageFile;
        const auto res = client->Get("/sml/" + name);
        ASSERT_TRUE(res) << name;
        ASSERT_EQ(res->status, 200) << name;
        EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=gbk") << name;
        const std::string& page = res->body;
        EXPECT_NE(page.find("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">"),
                  std::string::npos)
            << name;
        EXPECT_NE(page.find("url(main_back.gif)"), std::string::npos) << name;
        // The page's title is the list's name in the popup's chooser.
        EXPECT_NE(page.find(list.szPopupText), std::string::npos) << name << " lacks its GBK title";
        const std::string utf8 = kivo::platform::GbkToUtf8(list.szPopupText);
        EXPECT_EQ(page.find(utf8), std::string::npos) << name << " holds UTF-8 text";
    }
}

TEST_F(ServerTest, BackgroundIsAValidGif) {
    auto client = server_.MakeClient();
    const auto res = client->Get("/sml/main_back.gif");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Type"), "image/gif");
    const std::string& gif = res->body;
    ASSERT_GE(gif.size(), 3072u);
    EXPECT_EQ(gif.substr(0, 6), "GIF89a");
    EXPECT_EQ(static_cast<unsigned char>(gif[6]) | static_cast<unsigned char>(gif[7]) << 8, 156);
    EXPECT_EQ(static_cast<unsigned char>(gif[8]) | static_cast<unsigned char>(gif[9]) << 8, 135);
    EXPECT_EQ(static_cast<unsigned char>(gif.back()), 0x3Bu);

    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("gif", nullptr);
    ASSERT_NE(loader, nullptr);
    const bool decoded = gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(gif.data()), gif.size(),
                                                 nullptr) &&
                         gdk_pixbuf_loader_close(loader, nullptr);
    GdkPixbuf* image = decoded ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    ASSERT_NE(image, nullptr) << "GIF data does not decode";
    EXPECT_EQ(gdk_pixbuf_get_width(image), 156);
    EXPECT_EQ(gdk_pixbuf_get_height(image), 135);
    // A vertical gradient: the top row is lighter than the bottom row.
    const guchar* pixels = gdk_pixbuf_read_pixels(image);
    const guchar* bottom = pixels + 134 * gdk_pixbuf_get_rowstride(image);
    EXPECT_GT(pixels[0] + pixels[1] + pixels[2], bottom[0] + bottom[1] + bottom[2]);
    g_object_unref(loader);
}

// ---- routing ------------------------------------------------------------------

TEST_F(ServerTest, UnknownTargetsAnswer404AndServingContinues) {
    auto client = server_.MakeClient();
    for (const std::string path : {"/sml/../x", "/sml/%2e%2e/x", "/sml/", "/sml/today.html/x",
                                   "/sml/TODAY.html", "/sml/%74oday.html", "/nothing", "/"}) {
        const auto res = client->Get(path);
        ASSERT_TRUE(res) << path;
        EXPECT_EQ(res->status, 404) << path;
        EXPECT_FALSE(res->body.empty()) << path;
    }
    const auto post = client->Post("/sml/today.html", "x", "text/plain");
    ASSERT_TRUE(post);
    EXPECT_EQ(post->status, 404);

    const auto res = client->Get("/sml/today.html");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
}

TEST(ServerUpdate, ServesTheConfiguredFileOr404) {
    const auto dir = TestServer::MakeTempDir();
    const std::string first = dir.File("update.exe");
    const std::string second = dir.File("other.exe");
    std::ofstream(first, std::ios::binary) << PatternBytes(5000);
    std::ofstream(second, std::ios::binary) << std::string("MZ\0\x01second", 10);

    {
        TestServer plain;
        const auto res = plain.MakeClient()->Get("/update/update.exe");
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 404);
    }

    TestServer server({"--update-file", first});
    auto client = server.MakeClient();
    auto res = client->Get("/update/update.exe");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->get_header_value("Content-Type"), "application/octet-stream");
    EXPECT_EQ(res->body, PatternBytes(5000));

    server.SetUpdateFile(second, "");
    res = client->Get("/update/update.exe");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, std::string("MZ\0\x01second", 10));

    server.SetUpdateFile("", "");
    res = client->Get("/update/update.exe");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 404);

    server.Reset();  // back to --update-file
    res = client->Get("/update/update.exe");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, PatternBytes(5000));

    // Each platform its own installer; a platform without one is answered
    // version 0, Windows the published version as always.
    TestServer both({"--version", "1002", "--update-file-for", "linux-x86_64=" + second});
    client = both.MakeClient();
    const std::vector<std::pair<std::string, std::string>> answers = {
        {"/kivoversion.php", "version:1002"},
        {"/kivoversion.php?platform=linux-x86_64", "version:1002"},
        {"/kivoversion.php?platform=linux-aarch64", "version:0"},
        {"/update/linux-x86_64/update", std::string("MZ\0\x01second", 10)}};
    for (const auto& [target, body] : answers) {
        res = client->Get(target);
        ASSERT_TRUE(res) << target;
        EXPECT_EQ(res->body, body) << target;
    }
    for (const char* target : {"/update/update.exe", "/update/linux-aarch64/update", "/update/a/b/update"}) {
        res = client->Get(target);
        ASSERT_TRUE(res) << target;
        EXPECT_EQ(res->status, 404) << target;
    }
}

// ---- robustness --------------------------------------------------------------

TEST_F(ServerTest, ServesParallelClients) {
    std::map<std::string, std::string> expected;
    {
        auto client = server_.MakeClient();
        for (const std::string& path : AllItemPaths()) {
            const auto res = client->Get(path);
            ASSERT_TRUE(res && res->status == 200) << path;
            expected[path] = res->body;
        }
    }
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            auto client = server_.MakeClient();
            for (int round = 0; round < 3; ++round) {
                for (const auto& [path, body] : expected) {
                    const auto res = client->Get(path);
                    if (!res || res->status != 200 || res->body != body) ++failures;
                }
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST_F(ServerTest, SurvivesMalformedRequests) {
    static const char kGarbage[] = "\x00\xff\x13 garbage \x80\r\n\r\n";
    const std::string garbage(kGarbage, sizeof kGarbage - 1);
    const std::string reply = RawExchange(server_.Port(), garbage, std::chrono::seconds(2));
    EXPECT_TRUE(reply.empty() || reply.rfind("HTTP/1.1 400", 0) == 0) << reply;
    RawExchange(server_.Port(), "GET /sml/today.html HTTP/9.9\r\n\r\n", std::chrono::seconds(2));
    RawExchange(server_.Port(), std::string(20000, 'A') + "\r\n\r\n", std::chrono::seconds(2));

    const auto ok = server_.MakeClient()->Get("/sml/today.html");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->status, 200);
    EXPECT_GE(ok->body.size(), 3072u);
}

}  // namespace
