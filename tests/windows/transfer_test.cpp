// The transfers through WinINet against the content server on loopback.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/Config.h"
#include "app/HotListApp.h"
#include "app/Jobs.h"
#include "net/Catalogue.h"
#include "net/HttpClient.h"
#include "platform/System.h"
#include "server/Pattern.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/windows/support/Server.h"

using kivo::server::PatternBytes;
using kivo::test::Exists;
using kivo::test::ReadBytes;
using kivo::test::Server;
using kivo::test::WriteBytes;

namespace {

class WinInet : public kivo::test::ServerTest {
protected:
    static std::string Url(const std::string& path) { return Server::BaseUrl() + path; }
    std::string Page() const { return Dir() + "page.html"; }
    CConfig config{Dir()};
};

}  // namespace

TEST_F(WinInet, RefreshFillsTheCacheFolderWithTheServersBytes) {
    const std::string cache = config.GetPageBase(true);
    ASSERT_EQ(cache, Dir() + "prg\\");
    ASSERT_TRUE(kivo::platform::MakeDir(cache));
    config.RefreshPages();
    std::vector<std::string> expected;
    for (const char* item : g_szRefreshItems) expected.push_back(std::string("/sml/") + item);
    EXPECT_EQ(Server::Requests(), expected);
    for (const char* item : g_szRefreshItems) {
        const std::string served = kivo::test::RawGet(Server::HostPort(), std::string("/sml/") + item);
        ASSERT_GE(served.size(), 3072u) << item;
        EXPECT_EQ(ReadBytes(cache + item), served) << item;
        EXPECT_FALSE(Exists(cache + item + ".part")) << item;
    }
}

TEST_F(WinInet, DownloadsAreByteIdenticalAcrossReadSizes) {
    // One read short of the buffer, exactly the buffer, and many reads.
    for (std::size_t size : {std::size_t{51199}, std::size_t{51200}, std::size_t{1} << 20}) {
        Server::SetSize("/sml/today.html", size);
        EXPECT_EQ(config.DownloadFile(Url("/sml/today.html"), Page()), 1);
        EXPECT_EQ(ReadBytes(Page()), PatternBytes(size)) << size;
        Server::SetSize("/update/update.exe", size);
        EXPECT_EQ(config.DownloadUpdate(Url("/update/update.exe")), 1);
        EXPECT_EQ(ReadBytes(config.GetUpdatePath()), PatternBytes(size)) << size;
    }
}

TEST_F(WinInet, ErrorAnswersAreContentAndNothingComesFromACache) {
    Server::SetStatus("/sml/today.html", 404, 4000);
    EXPECT_EQ(config.DownloadFile(Url("/sml/today.html"), Page()), 1);
    EXPECT_EQ(ReadBytes(Page()), PatternBytes(4000));
    // The same address again, another answer: it is fetched afresh.
    Server::SetSize("/sml/today.html", 5000);
    EXPECT_EQ(config.DownloadFile(Url("/sml/today.html"), Page()), 1);
    EXPECT_EQ(ReadBytes(Page()), PatternBytes(5000));
    EXPECT_EQ(Server::Requests().size(), 2u);
}

TEST_F(WinInet, ReadFillsTheBufferAndReportsABreakAfterTheBytesBeforeIt) {
    auto session = kivo::net::HttpClient()->Open(kivo::net::kUserAgent);
    ASSERT_TRUE(session);
    // Delivered slowly, in pieces: one read still waits for all of it.
    Server::SetSlow("/kivoversion.php", 6000, 600);
    auto slow = session->OpenUrl(Url("/kivoversion.php").c_str());
    ASSERT_TRUE(slow);
    std::string buffer(10240, '\0');
    std::size_t got = 0;
    ASSERT_TRUE(slow->Read(buffer.data(), 10239, got));
    EXPECT_EQ(buffer.substr(0, got), PatternBytes(6000));
    ASSERT_TRUE(slow->Read(buffer.data(), 10239, got));
    EXPECT_EQ(got, 0u);  // the end of the body

    // Cut after half of the announced 20000 bytes.
    Server::SetCut("/sml/today.html", 20000);
    auto cut = session->OpenUrl(Url("/sml/today.html").c_str());
    ASSERT_TRUE(cut);
    std::string body;
    bool ok = true;
    while (ok) {
        ok = cut->Read(buffer.data(), 4096, got);
        if (!ok) {
            EXPECT_EQ(got, 0u);
        } else if (got == 0) {
            break;
        } else {
            body.append(buffer.data(), got);
        }
    }
    EXPECT_FALSE(ok) << "the cut was taken for the end of the body";
    EXPECT_EQ(body, PatternBytes(10000));
}

TEST_F(WinInet, CutConnectionKeepsThePartOfAPageButNoInstaller) {
    Server::SetCut("/sml/today.html", 20000);
    EXPECT_EQ(config.DownloadFile(Url("/sml/today.html"), Page()), 1);
    EXPECT_EQ(ReadBytes(Page()), PatternBytes(10000));
    WriteBytes(config.GetUpdatePath(), "old installer");
    Server::SetCut("/update/update.exe", 200000);
    EXPECT_EQ(config.DownloadUpdate(Url("/update/update.exe")), 0);
    EXPECT_FALSE(Exists(config.GetUpdatePath()));
}

TEST_F(WinInet, ClosedPortChangesNothing) {
    WriteBytes(Page(), "old page");
    WriteBytes(config.GetUpdatePath(), "old installer");
    UseClosedPort();
    const std::string server = "http://" + std::string(std::getenv("KIVO_SERVER"));
    EXPECT_EQ(config.DownloadFile(server + "/sml/today.html", Page()), 0);
    EXPECT_EQ(config.DownloadFile(server + "/sml/week.html", Dir() + "new.html"), 0);
    EXPECT_EQ(config.DownloadUpdate(server + "/update/update.exe"), 0);
    std::string url;
    EXPECT_EQ(config.CheckVersion(1000, url), 0);
    EXPECT_FALSE(config.PostMail("a@b.c"));
    EXPECT_EQ(ReadBytes(Page()), "old page");
    EXPECT_EQ(ReadBytes(config.GetUpdatePath()), "old installer");
    EXPECT_FALSE(Exists(Dir() + "new.html"));
    EXPECT_FALSE(Exists(Page() + ".part"));
}

TEST_F(WinInet, StalledServerIsAbandonedAfterTheReceiveTimeOut) {
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr)
        GTEST_SKIP() << "Wine 8 ignores receive time-outs set on a root handle";
    WriteBytes(Page(), "old page");
    Server::SetStall("/sml/today.html", 4000);
    const DWORD start = GetTickCount();
    EXPECT_EQ(config.DownloadFile(Url("/sml/today.html"), Page()), 0);
    EXPECT_LT(GetTickCount() - start, 3500u);  // the suite's time-out is 1 s
    EXPECT_EQ(ReadBytes(Page()), "old page");
}

TEST_F(WinInet, PostMailBytesArriveUnchanged) {
    const std::string addresses[] = {
        "a b+c@example.cn",
        "\xD5\xC5\xC8\xFD@\xC0\xFD\xD7\xD3.cn",  // GBK
        "x%41&y=1#z@w.cn",
        "@",
    };
    for (const auto& address : addresses) EXPECT_TRUE(config.PostMail(address));
    const auto emails = Server::Emails();
    ASSERT_EQ(emails.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(emails[i], addresses[i]);
    EXPECT_EQ(Server::Requests().size(), 4u);  // one request each, no retry
}

TEST_F(WinInet, VersionCheck) {
    std::string url;
    Server::SetVersion(1001);
    EXPECT_EQ(config.CheckVersion(1000, url), 1);
    EXPECT_EQ(url, Server::BaseUrl() + "/update/update.exe");
    Server::SetVersion(1000);
    EXPECT_EQ(config.CheckVersion(1000, url), 0);
}

namespace {

class NoticeHost : public IUiHost {
public:
    void SetTimer(unsigned, unsigned) override {}
    void KillTimer(unsigned) override {}
    void ShowNotice(const char*, const char*) override { ++notices; }
    void PostQuit() override { ++quits; }
    int notices = 0, quits = 0;
};

}  // namespace

TEST_F(WinInet, UpdateDownloadsTheInstallerAndStartsIt) {
    // The installer the server publishes is a real program: the probe,
    // which records how it was started.
    const char* updater = std::getenv("KIVO_TEST_UPDATER");
    ASSERT_NE(updater, nullptr) << "KIVO_TEST_UPDATER: the Linux path of kivo_probe.exe";
    Server::SetUpdateFile(updater);
    Server::SetVersion(1001);
    kivo::test::TempDir spaced("kivo update test");  // the install folder has a space
    CConfig installed(spaced.Path() + "\\");
    NoticeHost host;
    theApp.m_pMainWnd = &host;
    UpdateThreadProc(&installed);
    theApp.m_pMainWnd = nullptr;

    EXPECT_EQ(host.notices, 1);
    EXPECT_EQ(host.quits, 1);
    const std::string exe = installed.GetUpdatePath();
    EXPECT_EQ(exe, spaced.Path() + "\\update.exe");
    EXPECT_EQ(ReadBytes(exe), kivo::test::RawGet(Server::HostPort(), "/update/update.exe"));
    std::optional<std::string> ran;
    for (int i = 0; i < 2000 && !(ran = ReadBytes(exe + ".ran")).value_or("").size(); ++i) Sleep(10);
    EXPECT_EQ(ran, "\"" + exe + "\"");
    EXPECT_EQ(installed.m_bUpdatePending, 0);
    const auto settings = ReadBytes(installed.GetConfigPath());
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->size(), 1016u);
}
