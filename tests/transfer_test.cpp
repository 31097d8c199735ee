// The four transfers against the content server on loopback.
#include <gtest/gtest.h>

#include <string>

#include "app/Config.h"
#include "net/ServerAddress.h"
#include "server/Pattern.h"
#include "tests/support/Files.h"
#include "tests/support/NetworkTest.h"

using kivo::server::PatternBytes;
using kivo::test::Exists;
using kivo::test::ReadBytes;
using kivo::test::WriteBytes;

namespace {

class Transfers : public kivo::test::NetworkTest {
protected:
    std::string Url(const std::string& path) const { return Server().BaseUrl() + path; }
    std::string Page() const { return Dir() + "page.html"; }
    std::string Installer() const { return Server().BaseUrl() + kivo::net::InstallerPath(); }
    // Serves `body` as this platform's installer.
    void Publish(const std::string& body) {
        WriteBytes(Dir() + "served", body);
        Server().SetUpdateFile(Dir() + "served");
    }
};

}  // namespace

TEST_F(Transfers, DownloadsAreByteIdentical) {
    for (std::size_t size : {std::size_t{51199}, std::size_t{51200}, std::size_t{1} << 20, std::size_t{3072}}) {
        Server().SetSize("/sml/today.html", size);
        EXPECT_EQ(config.DownloadFile(Url("/sml/today.html"), Page()), 1);
        EXPECT_EQ(ReadBytes(Page()), PatternBytes(size)) << size;
        const std::string program = "#!/bin/sh\n" + PatternBytes(size - 10);
        Publish(program);
        EXPECT_EQ(config.DownloadUpdate(Installer()), 1);
        EXPECT_EQ(ReadBytes(config.GetUpdatePath()), program) << size;
    }
    EXPECT_FALSE(Exists(Page() + ".part"));
}

TEST_F(Transfers, EmptyBodyAndErrorAnswers) {
    WriteBytes(Page(), std::string(5000, 'x'));
    Server().SetSize("/sml/today.html", 0);
    EXPECT_EQ(config.DownloadFile(Url("/sml/today.html"), Page()), 1);
    EXPECT_FALSE(Exists(Page()));  // shorter than a page: no copy at all
    Server().SetStatus("/sml/today.html", 404, 4000);
    EXPECT_EQ(config.DownloadFile(Url("/sml/today.html"), Page()), 1);
    EXPECT_EQ(ReadBytes(Page()), PatternBytes(4000));  // the status is not examined

    // Only a program this system can start is kept as installer: an empty
    // body, an error page or another platform's installer never is.
    const std::string path = kivo::net::InstallerPath();
    Server().SetSize(path, 0);
    EXPECT_EQ(config.DownloadUpdate(Installer()), 0);
    Server().SetStatus(path, 500, 700);
    EXPECT_EQ(config.DownloadUpdate(Installer()), 0);
    Server().ClearFaults();
    for (const std::string& other : {std::string("MZ\x90\x00windows"), std::string("\x7F" "ELF\x02\x01\x01") + std::string(11, '\0') + "\xB7"}) {
        Publish(other);  // a Windows image, an ARM64 ELF image
        EXPECT_EQ(config.DownloadUpdate(Installer()), 0);
        EXPECT_FALSE(Exists(config.GetUpdatePath()));
    }
    Publish(*ReadBytes("/proc/self/exe"));  // an ELF image of this machine
    EXPECT_EQ(config.DownloadUpdate(Installer()), 1);
}

TEST_F(Transfers, UnreachableServerTouchesNoFile) {
    WriteBytes(Page(), "old page");
    WriteBytes(config.GetUpdatePath(), "old installer");
    UseClosedPort();
    const std::string server = "http://" + std::string(std::getenv("KIVO_SERVER"));
    EXPECT_EQ(config.DownloadFile(server + "/sml/today.html", Page()), 0);
    EXPECT_EQ(config.DownloadFile(server + "/sml/week.html", Dir() + "new.html"), 0);
    EXPECT_EQ(config.DownloadUpdate(server + kivo::net::InstallerPath()), 0);
    std::string url;
    EXPECT_EQ(config.CheckVersion(1000, url), 0);
    EXPECT_EQ(url, server + kivo::net::InstallerPath());
    EXPECT_FALSE(config.PostMail("a@b.c"));
    EXPECT_EQ(ReadBytes(Page()), "old page");
    EXPECT_EQ(ReadBytes(config.GetUpdatePath()), "old installer");
    EXPECT_FALSE(Exists(Dir() + "new.html"));
    EXPECT_FALSE(Exists(Page() + ".part"));
}

TEST_F(Transfers, CutTransfersNeverReplaceAGoodCopy) {
    const std::string good = PatternBytes(20000, 5);
    for (std::size_t received : {std::size_t{3072}, std::size_t{10000}, std::size_t{51200}}) {
        Server().SetCut("/sml/today.html", 2 * received);  // the connection ends half-way
        WriteBytes(Page(), good);
        EXPECT_EQ(config.DownloadFile(Url("/sml/today.html"), Page()), 0);
        EXPECT_EQ(ReadBytes(Page()), good) << received;
        kivo::platform::RemoveFile(Page());
        EXPECT_EQ(config.DownloadFile(Url("/sml/today.html"), Page()), 0);
        EXPECT_FALSE(Exists(Page())) << received;
        EXPECT_FALSE(Exists(Page() + ".part"));
    }
}

TEST_F(Transfers, CutInstallerIsNeverKept) {
    WriteBytes(config.GetUpdatePath(), "old installer");
    Server().SetCut("/update/update.exe", 200000);
    EXPECT_EQ(config.DownloadUpdate(Url("/update/update.exe")), 0);
    EXPECT_FALSE(Exists(config.GetUpdatePath()));
}

TEST_F(Transfers, StalledServerIsAbandoned) {
    WriteBytes(Page(), "old page");
    Server().SetStall("/sml/today.html", 4000);
    EXPECT_EQ(config.DownloadFile(Url("/sml/today.html"), Page()), 0);
    EXPECT_EQ(ReadBytes(Page()), "old page");
}

TEST_F(Transfers, VersionProbe) {
    std::string url;
    Server().SetVersion(1001);
    // The Linux build asks its own address; while there is no installer for
    // it (only the Windows one), the answer is version 0.
    Server().SetUpdateFile("");
    EXPECT_EQ(config.CheckVersion(1000, url), 0);
    EXPECT_EQ(Server().Requests().back(), "/kivoversion.php?platform=" + std::string(kivo::platform::UpdatePlatform()));
    Publish("#!/bin/sh\n");
    EXPECT_EQ(config.CheckVersion(1000, url), 1);
    EXPECT_EQ(url, Installer());
    Server().SetVersion(1000);
    EXPECT_EQ(config.CheckVersion(1000, url), 0);
    Server().SetBody("/kivoversion.php", "abcdversion:1001");
    EXPECT_EQ(config.CheckVersion(1000, url), 1);
    // A tag with a greater number, but the answer is too long to count.
    Server().SetBody("/kivoversion.php", "version:2000" + std::string(18, ' '));
    EXPECT_EQ(config.CheckVersion(1000, url), 0);
}

TEST_F(Transfers, ShortReadWaitsForTheWholeAnswerAndStopsAt10239) {
    auto session = Client()->Open(kivo::net::kUserAgent);
    ASSERT_TRUE(session);
    Server().SetSlow("/kivoversion.php", 6000, 600);
    auto slow = session->OpenUrl(Url("/kivoversion.php").c_str());
    ASSERT_TRUE(slow);
    char buffer[10240] = {};
    std::size_t got = 0;
    ASSERT_TRUE(slow->Read(buffer, 10239, got));
    EXPECT_EQ(got, 6000u);
    EXPECT_EQ(std::string(buffer, got), PatternBytes(6000));

    Server().SetSize("/kivoversion.php", 12000);
    auto big = session->OpenUrl(Url("/kivoversion.php").c_str());
    ASSERT_TRUE(big);
    char second[10240] = {};
    ASSERT_TRUE(big->Read(second, 10239, got));
    EXPECT_EQ(got, 10239u);
    EXPECT_EQ(second[10239], '\0');
}

TEST_F(Transfers, PostMailBytesArriveUnchanged) {
    const std::string addresses[] = {
        "a b+c@example.cn",
        "\xD5\xC5\xC8\xFD@\xC0\xFD\xD7\xD3.cn",  // GBK
        "x%41&y=1#z@w.cn",
        "@",
    };
    for (const auto& address : addresses) EXPECT_TRUE(config.PostMail(address));
    EXPECT_TRUE(config.PostMail(addresses[0]));  // recorded once
    const auto emails = Server().Emails();
    ASSERT_EQ(emails.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(emails[i], addresses[i]);
}

TEST_F(Transfers, PostMailThatWouldPassTheUrlLimitIsNotSent) {
    const std::string prefix = Server().BaseUrl() + "/postmail.php?email=";
    const std::string fits(499 - prefix.size(), 'a');
    EXPECT_TRUE(config.PostMail(fits));
    Server().ClearRequests();
    EXPECT_FALSE(config.PostMail(fits + "a"));
    EXPECT_FALSE(config.PostMail(std::string("a\0b@c", 5)));
    EXPECT_TRUE(Server().Requests().empty());
    EXPECT_EQ(Server().Emails(), std::vector<std::string>{fits});
}

TEST_F(Transfers, NoDescriptorStaysOpen) {
    const int before = kivo::test::OpenDescriptorCount();
    std::string url;
    Server().SetSize("/sml/today.html", 60000);
    config.DownloadFile(Url("/sml/today.html"), Page());
    config.DownloadFile(Url("/sml/today.html"), Dir() + "missing/page.html");
    Server().SetCut("/update/update.exe", 100000);
    config.DownloadUpdate(Url("/update/update.exe"));
    config.CheckVersion(1000, url);
    config.PostMail("fd@test.cn");
    UseClosedPort();
    config.DownloadFile(config.GetPageBase(false) + "today.html", Page());
    config.CheckVersion(1000, url);
    config.PostMail("fd@test.cn");
    EXPECT_EQ(kivo::test::OpenDescriptorCount(), before);
}
