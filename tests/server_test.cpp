// Tests of kivo-server through its public and control ports.
#include <arpa/inet.h>
#include <iconv.h>
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

#include "server/Pattern.h"
#include "tests/support/TestServer.h"

namespace {

using kivo::server::PatternBytes;
using kivo::test::TestServer;

const std::vector<std::string>& PageNames() {
    static const std::vector<std::string> kNames = {
        "today.html",  "week.html",   "hot.html",      "movie.html",   "teleplay.html",
        "game.html",   "novel.html",  "mm.html",       "gg.html",      "mmstar.html",
        "ggstar.html", "scenic.html", "newmusic.html", "hotmusic.html",
    };
    return kNames;
}

const std::map<std::string, std::string>& PageTitles() {
    static const std::map<std::string, std::string> kTitles = {
        {"today.html", "上升最快Top8"},  {"week.html", "一周热点Top8"},
        {"hot.html", "热门搜索Top8"},    {"movie.html", "电影流行榜"},
        {"teleplay.html", "电视剧流行榜"}, {"game.html", "游戏流行榜"},
        {"novel.html", "小说流行榜"},    {"mm.html", "十大美女"},
        {"gg.html", "十大帅哥"},         {"mmstar.html", "最火女歌手榜"},
        {"ggstar.html", "最火男歌手榜"}, {"scenic.html", "十佳旅游景点"},
        {"newmusic.html", "新歌流行榜"}, {"hotmusic.html", "中文金曲榜"},
    };
    return kTitles;
}

std::vector<std::string> AllItemPaths() {
    std::vector<std::string> paths = {"/sml/main_back.gif"};
    for (const std::string& name : PageNames()) paths.push_back("/sml/" + name);
    return paths;
}

std::string ToGbk(const std::string& utf8) {
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1))) return {};
    std::string in = utf8;
    std::string out(in.size() * 2 + 16, '\0');
    char* src = in.data();
    char* dst = out.data();
    std::size_t srcLeft = in.size();
    std::size_t dstLeft = out.size();
    const std::size_t rc = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1)) return {};
    out.resize(out.size() - dstLeft);
    return out;
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

std::string RawGet(int port, const std::string& target) {
    return RawExchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

std::string BodyOf(const std::string& response) {
    const std::size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

// Full GIF decoder (first frame): returns the palette indices, or nullopt when
// the stream is malformed.
std::optional<std::vector<std::uint8_t>> DecodeGif(const std::string& gif, int& width, int& height) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(gif.at(i)); };
    const auto le16 = [&](std::size_t i) { return byte(i) | (byte(i + 1) << 8); };
    try {
        if (gif.compare(0, 6, "GIF89a") != 0 && gif.compare(0, 6, "GIF87a") != 0) return std::nullopt;
        width = le16(6);
        height = le16(8);
        std::size_t pos = 13;
        if ((byte(10) & 0x80) != 0) pos += 3u * (2u << (byte(10) & 7));
        for (;;) {
            const std::uint8_t block = byte(pos++);
            if (block == 0x3B) return std::nullopt;  // trailer before any image
            if (block == 0x21) {
                ++pos;  // extension label
                while (const std::uint8_t n = byte(pos)) pos += 1u + n;
                ++pos;
                continue;
            }
            if (block != 0x2C) return std::nullopt;
            const int w = le16(pos + 4);
            const int h = le16(pos + 6);
            const std::uint8_t flags = byte(pos + 8);
            pos += 9;
            if ((flags & 0x80) != 0) pos += 3u * (2u << (flags & 7));
            const int minCode = byte(pos++);
            std::string data;
            while (const std::uint8_t n = byte(pos)) {
                data.append(gif, pos + 1, n);
                pos += 1u + n;
            }
            ++pos;
            if (byte(pos) != 0x3B) return std::nullopt;  // single-frame image, then trailer

            const int clear = 1 << minCode;
            std::vector<std::string> dict;
            int codeWidth = minCode + 1;
            const auto resetDict = [&] {
                dict.clear();
                for (int i = 0; i < clear + 2; ++i) dict.emplace_back(1, static_cast<char>(i));
                codeWidth = minCode + 1;
            };
            resetDict();
            std::vector<std::uint8_t> pixels;
            std::size_t bit = 0;
            int prev = -1;
            for (;;) {
                if (bit + static_cast<std::size_t>(codeWidth) > data.size() * 8) return std::nullopt;
                int code = 0;
                for (int b = 0; b < codeWidth; ++b, ++bit) {
                    code |= ((static_cast<std::uint8_t>(data[bit / 8]) >> (bit % 8)) & 1) << b;
                }
                if (code == clear) {
                    resetDict();
                    prev = -1;
                    continue;
                }
                if (code == clear + 1) break;
                std::string entry;
                if (code < static_cast<int>(dict.size())) {
                    entry = dict[static_cast<std::size_t>(code)];
                } else if (code == static_cast<int>(dict.size()) && prev >= 0) {
                    entry = dict[static_cast<std::size_t>(prev)];
                    entry += entry[0];
                } else {
                    return std::nullopt;
                }
                if (prev >= 0 && dict.size() < 4096) {
                    dict.push_back(dict[static_cast<std::size_t>(prev)] + entry[0]);
                    if (dict.size() == (std::size_t{1} << codeWidth) && codeWidth < 12) ++codeWidth;
                }
                for (const char c : entry) pixels.push_back(static_cast<std::uint8_t>(c));
                prev = code;
            }
            if (pixels.size() != static_cast<std::size_t>(w) * static_cast<std::size_t>(h)) {
                return std::nullopt;
            }
            return pixels;
        }
    } catch (const std::out_of_range&) {
        return std::nullopt;
    }
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
    for (const std::string& name : PageNames()) {
        const auto res = client->Get("/sml/" + name);
        ASSERT_TRUE(res) << name;
        ASSERT_EQ(res->status, 200) << name;
        EXPECT_EQ(res->get_header_value("Content-Type"), "text/html; charset=gbk") << name;
        const std::string& page = res->body;
        EXPECT_NE(page.find("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">"),
                  std::string::npos)
            << name;
        EXPECT_NE(page.find("url(main_back.gif)"), std::string::npos) << name;
        const std::string title = ToGbk(PageTitles().at(name));
        ASSERT_FALSE(title.empty()) << name;
        EXPECT_NE(page.find(title), std::string::npos) << name << " lacks its GBK title";
        EXPECT_EQ(page.find(PageTitles().at(name)), std::string::npos) << name << " holds UTF-8 text";
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

    int width = 0;
    int height = 0;
    const auto pixels = DecodeGif(gif, width, height);
    ASSERT_TRUE(pixels.has_value()) << "GIF data does not decode";
    EXPECT_EQ(pixels->size(), 156u * 135u);
    // A vertical gradient: the top row is lighter (lower index) than the bottom row.
    EXPECT_LT(pixels->front(), pixels->back());
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

    server.SetUpdateFile(second);
    res = client->Get("/update/update.exe");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->body, std::string("MZ\0\x01second", 10));

    server.SetUpdateFile("");
    res = client->Get("/update/update.exe");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 404);

    server.Reset();  // back to --update-file
    res = client->Get("/update/update.exe");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(res->body, PatternBytes(5000));
}

// ---- e-mail subscriptions ------------------------------------------------------

// ---- faults ------------------------------------------------------------------

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

    const std::string ok = RawGet(server_.Port(), "/sml/today.html");
    EXPECT_EQ(ok.rfind("HTTP/1.1 200", 0), 0u) << ok.substr(0, 200);
    EXPECT_GE(BodyOf(ok).size(), 3072u);
}

}  // namespace
