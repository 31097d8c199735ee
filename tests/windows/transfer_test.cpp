// The transfers through WinINet against the content server on loopback.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Config.h"
#include "net/ServerAddress.h"
#include "platform/Http.h"
#include "platform/Signature.h"
#include "server/Pattern.h"
#include "tests/support/Files.h"
#include "tests/windows/support/Process.h"
#include "tests/windows/support/Server.h"

using kivo::server::PatternBytes;
using namespace kivo::test;

namespace {

class WinInet : public ServerTest {
protected:
    static std::string Url(const std::string& path) { return ScriptServer::BaseUrl() + path; }
    std::string Page() const { return Dir() + "page.html"; }
};

}  // namespace

TEST_F(WinInet, DownloadsAreTheServedBytesFetchedAfreshEachTime) {
    // One read short of the buffer, exactly the buffer, and many reads.
    for (std::size_t size : {std::size_t{51199}, std::size_t{51200}, std::size_t{1} << 20}) {
        Server().SetSize("/sml/today.html", size);
        EXPECT_EQ(config.DownloadFile(Url("/sml/today.html"), Page()), 1);
        EXPECT_EQ(ReadBytes(Page()), PatternBytes(size)) << size;
    }
    // The installer the server publishes: a real program, the probe.
    Server().SetUpdateFile(ScriptServer::Updater());
    EXPECT_EQ(config.DownloadUpdate(Url("/update/update.exe")), 1);
    EXPECT_EQ(ReadBytes(config.GetUpdatePath()), RawGet(ScriptServer::HostPort(), "/update/update.exe"));
    // An error answer is content too; the same address again is fetched
    // afresh, not taken from a cache.
    Server().Reset();
    Server().SetStatus("/sml/today.html", 404, 4000);
    EXPECT_EQ(config.DownloadFile(Url("/sml/today.html"), Page()), 1);
    EXPECT_EQ(ReadBytes(Page()), PatternBytes(4000));
    Server().SetSize("/sml/today.html", 5000);
    EXPECT_EQ(config.DownloadFile(Url("/sml/today.html"), Page()), 1);
    EXPECT_EQ(ReadBytes(Page()), PatternBytes(5000));
    EXPECT_EQ(Server().Requests().size(), 2u);
}

TEST_F(WinInet, ReadsFillTheBufferAndACutIsABreakNotTheEnd) {
    auto session = config.HttpClient()->Open(kivo::net::kUserAgent);
    ASSERT_TRUE(session);
    // Delivered slowly, in pieces: one read still waits for all of it.
    Server().SetSlow("/kivoversion.php", 6000, 600);
    auto slow = session->OpenUrl(Url("/kivoversion.php").c_str());
    ASSERT_TRUE(slow);
    std::string buffer(10240, '\0');
    std::size_t got = 0;
    ASSERT_TRUE(slow->Read(buffer.data(), 10239, got));
    EXPECT_EQ(buffer.substr(0, got), PatternBytes(6000));
    ASSERT_TRUE(slow->Read(buffer.data(), 10239, got));
    EXPECT_EQ(got, 0u);  // the end of the body

    // Cut after half of the announced 20000 bytes: the bytes before it, then
    // a failed read.
    Server().SetCut("/sml/today.html", 20000);
    auto cut = session->OpenUrl(Url("/sml/today.html").c_str());
    ASSERT_TRUE(cut);
    std::string body;
    bool ok = true;
    while ((ok = cut->Read(buffer.data(), 4096, got)) && got > 0) body.append(buffer.data(), got);
    EXPECT_FALSE(ok) << "the cut was taken for the end of the body";
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(body, PatternBytes(10000));

    // A page that broke off leaves the copy before it; an installer that did
    // not come whole is gone.
    WriteBytes(Page(), "old page");
    EXPECT_EQ(config.DownloadFile(Url("/sml/today.html"), Page()), 0);
    EXPECT_EQ(ReadBytes(Page()), "old page");
    EXPECT_FALSE(Exists(Page() + ".part"));
    WriteBytes(config.GetUpdatePath(), "old installer");
    Server().SetCut("/update/update.exe", 200000);
    EXPECT_EQ(config.DownloadUpdate(Url("/update/update.exe")), 0);
    EXPECT_FALSE(Exists(config.GetUpdatePath()));
}

TEST_F(WinInet, ClosedPortIsAFailureThatChangesNothing) {
    WriteBytes(Page(), "old page");
    UseClosedPort();
    const std::string server = kivo::net::ServerAddress();
    EXPECT_EQ(config.DownloadFile(server + "/sml/today.html", Page()), 0);
    EXPECT_EQ(config.DownloadUpdate(server + "/update/update.exe"), 0);
    std::string url;
    EXPECT_EQ(config.CheckVersion(1000, url), 0);
    EXPECT_FALSE(config.PostMail("a@b.c"));
    EXPECT_EQ(ReadBytes(Page()), "old page");
    EXPECT_FALSE(Exists(Page() + ".part") || Exists(config.GetUpdatePath()));
}

TEST_F(WinInet, StalledServerIsAbandonedAfterTheReceiveTimeOut) {
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr)
        GTEST_SKIP() << "Wine 8 ignores receive time-outs set on a root handle";
    WriteBytes(Page(), "old page");
    Server().SetStall("/sml/today.html", 4000);
    const DWORD start = GetTickCount();
    EXPECT_EQ(config.DownloadFile(Url("/sml/today.html"), Page()), 0);
    EXPECT_LT(GetTickCount() - start, 3500u);  // the suite's time-out is 1 s
    EXPECT_EQ(ReadBytes(Page()), "old page");
}

TEST_F(WinInet, PostMailBytesArriveUnchangedOnceEach) {
    const std::vector<std::string> addresses = {
        "a b+c@example.cn",
        "\xD5\xC5\xC8\xFD@\xC0\xFD\xD7\xD3.cn",  // GBK
        "x%41&y=1#z@w.cn",
        "@",
    };
    for (const auto& address : addresses) EXPECT_TRUE(config.PostMail(address));
    EXPECT_EQ(Server().Emails(), addresses);
    EXPECT_EQ(Server().Requests().size(), 4u);  // no retry
}

// Signatures made on the Linux side by scripts/test-windows.sh with the test
// key pair: by `kivo-server sign` (.sig), by openssl (.openssl.sig) and by
// another key (.other.sig), each of the probe program it serves as installer.
TEST_F(WinInet, OnlyAProgramSignedByTheKeyIsKeptAsInstaller) {
    const std::string probe = TestExeFolder() + "kivo_probe.exe";
    const std::string key = *ReadBytes(TestExeFolder() + KIVO_SOURCE_RELATIVE_KEYS "update-test.pub.pem");
    const auto signature = [&](const char* suffix) { return ReadBytes(probe + suffix).value_or(""); };
    ASSERT_FALSE(signature(".sig").empty());
    EXPECT_TRUE(kivo::platform::VerifyFileSignature(probe, signature(".sig"), key));
    EXPECT_TRUE(kivo::platform::VerifyFileSignature(probe, signature(".openssl.sig"), key));
    EXPECT_FALSE(kivo::platform::VerifyFileSignature(probe, signature(".other.sig"), key));
    const std::string cut = signature(".sig").substr(0, signature(".sig").size() - 2);
    EXPECT_FALSE(kivo::platform::VerifyFileSignature(probe, cut, key));
    EXPECT_FALSE(kivo::platform::VerifyFileSignature(TestExeFolder() + "kivo_fake_browser.exe", signature(".sig"), key));
    EXPECT_FALSE(kivo::platform::VerifyFileSignature(probe, signature(".sig"), "-----BEGIN PUBLIC KEY-----\nAAAA\n"));

    // Only a program is ever kept as installer: not an empty body, not an
    // error page.
    Server().SetSize("/update/update.exe", 0);
    EXPECT_EQ(config.DownloadUpdate(Url("/update/update.exe")), 0);
    Server().SetStatus("/update/update.exe", 404, 3000);
    EXPECT_EQ(config.DownloadUpdate(Url("/update/update.exe")), 0);
    EXPECT_FALSE(Exists(config.GetUpdatePath()));
    Server().ClearFaults();

    // Through the update download: the signature is fetched beside the
    // installer and kept; without a good one nothing is kept.
    config.SetUpdateKey(key);
    Server().SetUpdateFile(ScriptServer::Updater(), "");
    EXPECT_EQ(config.DownloadUpdate(Url("/update/update.exe")), 1);
    EXPECT_EQ(ReadBytes(config.GetUpdatePath() + ".sig"), signature(".sig"));
    Server().SetStatus("/update/update.exe.sig", 404, 70);
    EXPECT_EQ(config.DownloadUpdate(Url("/update/update.exe")), 0);
    EXPECT_FALSE(Exists(config.GetUpdatePath()));
    EXPECT_FALSE(Exists(config.GetUpdatePath() + ".sig"));
}
