// The transfers and the installer download against the test server on
// loopback, through each build's HTTP client: libcurl on Linux, WinINet on
// Windows (under Wine). Every result says what happened to the file.
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "net/Catalogue.h"
#include "net/PageCache.h"
#include "net/ServerAddress.h"
#include "platform/Http.h"
#include "platform/System.h"
#include "server/Pattern.h"
#include "tests/support/Files.h"
#include "tests/support/NetworkTest.h"

using kivo::net::RefreshReport;
using kivo::net::TransferResult;
using kivo::net::VersionCheck;
using kivo::server::PatternBytes;
using kivo::test::Exists;
using kivo::test::ReadBytes;
using kivo::test::WriteBytes;

namespace {

class Transfers : public kivo::test::NetworkTest {
protected:
    std::string Url(const std::string& path) const { return Server().BaseUrl() + path; }
    std::string Page() const { return Dir() + "page.html"; }
    std::string Installer() const { return Url(kivo::net::InstallerPath()); }
    // `size` bytes this system takes for a program: its head, then filler.
    static std::string Program(std::size_t size) {
#ifdef _WIN32
        const std::string head = "MZ";
#else
        const std::string head = "#!/bin/sh\n";
#endif
        return head + PatternBytes(size - head.size());
    }
    // The head of an ELF image for `machine` (e_machine, little-endian).
    static std::string Elf(char machine) {
        return std::string(
                   "\x7F"
                   "ELF\x02\x01\x01",
                   7) +
               std::string(11, '\0') + machine + '\0';
    }
    // The body of `path` asked for plainly: no gzip, no validators.
    std::string PlainBody(const std::string& path) const {
        auto session = Client()->Open(kivo::net::kUserAgent);
        auto request = session ? session->OpenUrl(Url(path).c_str()) : nullptr;
        std::string body, buffer(51200, '\0');
        std::size_t got = 0;
        while (request && request->Read(buffer.data(), buffer.size(), got) && got > 0) body.append(buffer.data(), got);
        return body;
    }
};

// Which file stands at a path, and since when: a file rewritten or replaced
// gets another identity (the file system's id; on Windows, where the suite
// cannot rely on one, its write time and creation time).
std::string Identity(const std::string& path) {
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return "none";
    return std::to_string(data.ftCreationTime.dwLowDateTime) + "/" +
           std::to_string(data.ftLastWriteTime.dwLowDateTime) + "/" +
           std::to_string(data.ftLastWriteTime.dwHighDateTime);
#else
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return "none";
    return std::to_string(info.st_ino) + "/" + std::to_string(info.st_mtim.tv_sec) + "." +
           std::to_string(info.st_mtim.tv_nsec);
#endif
}

class Refresh : public Transfers {
protected:
    void SetUp() override {
        Transfers::SetUp();
        pages.MakeFolder();
    }
    std::string Item(int i) const { return pages.GetPageBase(true) + g_szRefreshItems[i]; }
    static std::string Sml(int i) { return std::string("/sml/") + g_szRefreshItems[i]; }
};

}  // namespace

TEST_F(Transfers, DownloadsAreTheServedBytesFetchedAfreshEachTime) {
    // One read short of the buffer, exactly the buffer, many reads, the
    // smallest page.
    for (std::size_t size : {std::size_t{51199}, std::size_t{51200}, std::size_t{1} << 20, std::size_t{3072}}) {
        Server().SetSize("/sml/today.html", size);
        EXPECT_EQ(transfers.DownloadFile(Url("/sml/today.html"), Page()), TransferResult::kReplaced);
        EXPECT_EQ(ReadBytes(Page()), PatternBytes(size)) << size;
        Publish(Program(size));
        EXPECT_EQ(updater.DownloadUpdate(Installer()), TransferResult::kReplaced);
        EXPECT_EQ(ReadBytes(updater.GetUpdatePath()), Program(size)) << size;
    }
    EXPECT_FALSE(Exists(Page() + ".part"));
    // The status is not examined: an error answer is content too. The same
    // address again is fetched afresh, not taken from a cache.
    Server().Reset();
    Server().SetStatus("/sml/today.html", 404, 4000);
    EXPECT_EQ(transfers.DownloadFile(Url("/sml/today.html"), Page()), TransferResult::kReplaced);
    EXPECT_EQ(ReadBytes(Page()), PatternBytes(4000));
    Server().SetSize("/sml/today.html", 5000);
    EXPECT_EQ(transfers.DownloadFile(Url("/sml/today.html"), Page()), TransferResult::kReplaced);
    EXPECT_EQ(ReadBytes(Page()), PatternBytes(5000));
    EXPECT_EQ(Server().Requests().size(), 2u);
}

TEST_F(Transfers, AnswerShorterThanAPageLeavesNoCopyAndSaysSo) {
    for (std::size_t size : {std::size_t{0}, std::size_t{3071}}) {
        WriteBytes(Page(), PatternBytes(9000));
        Server().SetSize("/sml/today.html", size);
        EXPECT_EQ(transfers.DownloadFile(Url("/sml/today.html"), Page()), TransferResult::kTooShort) << size;
        EXPECT_FALSE(Exists(Page())) << size;
        EXPECT_FALSE(Exists(Page() + ".part"));
    }
}

TEST_F(Transfers, PageTheDiskRefusesIsNotWrittenAndTheCopyStays) {
    Server().SetSize("/sml/today.html", 5000);
    EXPECT_EQ(transfers.DownloadFile(Url("/sml/today.html"), Dir() + "missing/page.html"), TransferResult::kNotWritten);
    // The finished part cannot replace the copy: a folder stands in its place.
    kivo::platform::MakeDir(Page());
    EXPECT_EQ(transfers.DownloadFile(Url("/sml/today.html"), Page()), TransferResult::kNotWritten);
    EXPECT_FALSE(Exists(Page() + ".part"));
}

TEST_F(Transfers, OnlyAProgramOfThisSystemIsKeptAsInstaller) {
    // Not an empty body, not an error page, not another system's installer.
    Server().SetSize(kivo::net::InstallerPath(), 0);
    EXPECT_EQ(updater.DownloadUpdate(Installer()), TransferResult::kNotAProgram);
    Server().SetStatus(kivo::net::InstallerPath(), 500, 700);
    EXPECT_EQ(updater.DownloadUpdate(Installer()), TransferResult::kNotAProgram);
    Server().ClearFaults();
#ifdef _WIN32
    const std::vector<std::string> others = {"#!/bin/sh\necho\n", Elf('\x3E')};  // a script, an x86-64 ELF image
#else
    const std::vector<std::string> others = {"MZ\x90", Elf('\xB7')};  // a Windows image, an ARM64 ELF image
#endif
    for (const std::string& other : others) {
        Publish(other);
        EXPECT_EQ(updater.DownloadUpdate(Installer()), TransferResult::kNotAProgram);
        EXPECT_FALSE(Exists(updater.GetUpdatePath()));
    }
    const auto self = ReadBytes(kivo::platform::ExecutablePath());  // this test program
    ASSERT_TRUE(self);
    Publish(*self);
    EXPECT_EQ(updater.DownloadUpdate(Installer()), TransferResult::kReplaced);
    EXPECT_EQ(ReadBytes(updater.GetUpdatePath()), self);
}

TEST_F(Transfers, UnreachableServerTouchesNoFile) {
    WriteBytes(Page(), "old page");
    WriteBytes(updater.GetUpdatePath(), "old installer");
    UseClosedPort();
    const std::string server = kivo::net::ServerAddress();
    EXPECT_EQ(transfers.DownloadFile(server + "/sml/today.html", Page()), TransferResult::kNotReached);
    EXPECT_EQ(transfers.DownloadFile(server + "/sml/week.html", Dir() + "new.html"), TransferResult::kNotReached);
    EXPECT_EQ(updater.DownloadUpdate(server + kivo::net::InstallerPath()), TransferResult::kNotReached);
    std::string url;
    EXPECT_EQ(transfers.CheckVersion(1000, url), VersionCheck::kNotReached);
    EXPECT_EQ(url, server + kivo::net::InstallerPath());
    EXPECT_FALSE(transfers.PostMail("a@b.c"));
    EXPECT_EQ(ReadBytes(Page()), "old page");
    EXPECT_EQ(ReadBytes(updater.GetUpdatePath()), "old installer");
    EXPECT_FALSE(Exists(Dir() + "new.html"));
    EXPECT_FALSE(Exists(Page() + ".part"));
}

TEST_F(Transfers, CutTransfersNeverReplaceAGoodCopyAndNoCutInstallerIsKept) {
    const std::string good = PatternBytes(20000, 5);
    for (std::size_t received : {std::size_t{3072}, std::size_t{10000}, std::size_t{51200}}) {
        Server().SetCut("/sml/today.html", 2 * received);  // the connection ends half-way
        WriteBytes(Page(), good);
        EXPECT_EQ(transfers.DownloadFile(Url("/sml/today.html"), Page()), TransferResult::kCutOff);
        EXPECT_EQ(ReadBytes(Page()), good) << received;
        kivo::platform::RemoveFile(Page());
        EXPECT_EQ(transfers.DownloadFile(Url("/sml/today.html"), Page()), TransferResult::kCutOff);
        EXPECT_FALSE(Exists(Page())) << received;
        EXPECT_FALSE(Exists(Page() + ".part"));
    }
    WriteBytes(updater.GetUpdatePath(), "old installer");
    Server().SetCut(kivo::net::InstallerPath(), 200000);
    EXPECT_EQ(updater.DownloadUpdate(Installer()), TransferResult::kCutOff);
    EXPECT_FALSE(Exists(updater.GetUpdatePath()));
}

TEST_F(Transfers, StalledServerIsAbandonedAfterTheReceiveTimeOut) {
#ifdef _WIN32
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr)
        GTEST_SKIP() << "Wine 8 ignores receive time-outs set on a root handle";
#endif
    WriteBytes(Page(), "old page");
    Server().SetStall("/sml/today.html", 4000);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(transfers.DownloadFile(Url("/sml/today.html"), Page()), TransferResult::kNotReached);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3500));  // the suite's is 1 s
    EXPECT_EQ(ReadBytes(Page()), "old page");
}

TEST_F(Transfers, VersionProbe) {
    std::string url;
    Server().SetVersion(1001);
    Publish(Program(100));
    EXPECT_EQ(transfers.CheckVersion(1000, url), VersionCheck::kNewer);
    EXPECT_EQ(url, Installer());
    // The Windows build asks the bare address, another its platform's.
    const std::string platform = kivo::platform::UpdatePlatform();
    EXPECT_EQ(Server().Requests().back(), "/kivoversion.php" + (platform.empty() ? "" : "?platform=" + platform));
    Server().SetVersion(1000);
    EXPECT_EQ(transfers.CheckVersion(1000, url), VersionCheck::kNotNewer);
    Server().SetCut("/kivoversion.php", 40);
    EXPECT_EQ(transfers.CheckVersion(1000, url), VersionCheck::kCutOff);
}

TEST_F(Transfers, AReadFillsTheBufferAndACutIsABreakNotTheEnd) {
    auto session = Client()->Open(kivo::net::kUserAgent);
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

    // More than the capacity: the read stops there.
    Server().SetSize("/kivoversion.php", 12000);
    auto big = session->OpenUrl(Url("/kivoversion.php").c_str());
    ASSERT_TRUE(big);
    buffer.assign(10240, '\0');
    ASSERT_TRUE(big->Read(buffer.data(), 10239, got));
    EXPECT_EQ(got, 10239u);
    EXPECT_EQ(buffer[10239], '\0');

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
}

TEST_F(Transfers, PostMailBytesArriveUnchangedOnceEach) {
    const std::vector<std::string> addresses = {
        "a b+c@example.cn",
        "\xD5\xC5\xC8\xFD@\xC0\xFD\xD7\xD3.cn",  // GBK
        "x%41&y=1#z@w.cn",
        "@",
    };
    for (const auto& address : addresses) EXPECT_TRUE(transfers.PostMail(address));
    EXPECT_EQ(Server().Requests().size(), 4u);      // no retry
    EXPECT_TRUE(transfers.PostMail(addresses[0]));  // recorded once
    EXPECT_EQ(Server().Emails(), addresses);
}

TEST_F(Transfers, PostMailThatWouldPassTheUrlLimitIsNotSent) {
    const std::string prefix = Server().BaseUrl() + "/postmail.php?email=";
    const std::string fits(499 - prefix.size(), 'a');
    EXPECT_TRUE(transfers.PostMail(fits));
    Server().ClearRequests();
    EXPECT_FALSE(transfers.PostMail(fits + "a"));
    EXPECT_FALSE(transfers.PostMail(std::string("a\0b@c", 5)));
    EXPECT_TRUE(Server().Requests().empty());
    EXPECT_EQ(Server().Emails(), std::vector<std::string>{fits});
}

#ifndef _WIN32
TEST_F(Transfers, NoDescriptorStaysOpen) {
    const int before = kivo::test::OpenDescriptorCount();
    std::string url;
    Server().SetSize("/sml/today.html", 60000);
    EXPECT_EQ(transfers.DownloadFile(Url("/sml/today.html"), Page()), TransferResult::kReplaced);
    EXPECT_EQ(transfers.DownloadFile(Url("/sml/today.html"), Dir() + "missing/page.html"), TransferResult::kNotWritten);
    Server().SetCut(kivo::net::InstallerPath(), 100000);
    EXPECT_EQ(updater.DownloadUpdate(Installer()), TransferResult::kCutOff);
    EXPECT_EQ(transfers.CheckVersion(1000, url), VersionCheck::kNotNewer);
    EXPECT_TRUE(transfers.PostMail("fd@test.cn"));
    UseClosedPort();
    EXPECT_EQ(transfers.DownloadFile(pages.GetPageBase(false) + "today.html", Page()), TransferResult::kNotReached);
    EXPECT_EQ(transfers.CheckVersion(1000, url), VersionCheck::kNotReached);
    EXPECT_FALSE(transfers.PostMail("fd@test.cn"));
    EXPECT_EQ(kivo::test::OpenDescriptorCount(), before);
}
#endif

TEST_F(Refresh, OneConnectionCarriesTheRunAndAServerThatClosesEachTimeStillGivesEveryFile) {
    RefreshReport report = pages.RefreshPages();
    EXPECT_EQ(report.Summary(), "15 replaced");
#ifdef _WIN32
    // WinINet pools connections for the whole process: one an earlier test
    // left open may carry the run, and then none is opened.
    EXPECT_LE(Server().Connections(), 1);
#else
    EXPECT_EQ(Server().Connections(), 1);
#endif
    // A server that ends every connection after its answer (and ignores
    // gzip and validators): a new connection for each file, all fifteen.
    for (int i = 0; i < kRefreshItemCount; ++i) kivo::platform::RemoveFile(Item(i));
    Server().SetCloseEach(true);
    Server().ClearConnections();
    report = pages.RefreshPages();
    EXPECT_EQ(report.Summary(), "15 replaced");
    EXPECT_GE(Server().Connections(), kRefreshItemCount - 1);
    for (int i = 1; i < kRefreshItemCount; ++i) EXPECT_EQ(ReadBytes(Item(i)), PlainBody(Sml(i))) << Sml(i);
}

TEST_F(Refresh, UnchangedPagesAreConfirmedNotRewrittenAndAChangedOneIsReplaced) {
    EXPECT_EQ(pages.RefreshPages().Summary(), "15 replaced");
    std::vector<std::string> before, bytes;
    for (int i = 0; i < kRefreshItemCount; ++i) {
        before.push_back(Identity(Item(i)));
        bytes.push_back(ReadBytes(Item(i)).value_or(""));
    }
    EXPECT_EQ(Server().ConditionalRequests(), 0);  // nothing held yet: nothing conditional
    RefreshReport report = pages.RefreshPages();
    EXPECT_EQ(report.Summary(), "14 unchanged, kept");
    EXPECT_EQ(Server().ConditionalRequests(), 14);
    for (int i = 0; i < kRefreshItemCount; ++i) {
        EXPECT_EQ(Identity(Item(i)), before[i]) << Item(i);
        EXPECT_EQ(ReadBytes(Item(i)), bytes[i]) << Item(i);
    }
    // One page changes on the server: it alone is fetched and replaced.
    Server().SetSize(Sml(6), 7000);
    report = pages.RefreshPages();
    EXPECT_EQ(report.Summary(), "1 replaced, 13 unchanged, kept");
    EXPECT_EQ(report.items[6], TransferResult::kReplaced);
    EXPECT_EQ(ReadBytes(Item(6)), PatternBytes(7000));
    for (int i = 1; i < kRefreshItemCount; ++i) {
        if (i == 6) continue;
        EXPECT_EQ(Identity(Item(i)), before[i]) << Item(i);
    }
}

TEST_F(Transfers, PagesAndTheVersionComeGzippedAndAreStoredDecoded) {
    // The server's gzip form of a real page: stored as the plain body.
    const std::string plain = PlainBody("/sml/today.html");
    ASSERT_GE(plain.size(), 3072u);
    EXPECT_EQ(transfers.DownloadFile(Url("/sml/today.html"), Page()), TransferResult::kReplaced);
    EXPECT_EQ(ReadBytes(Page()), plain);
    // The page rule counts decoded bytes, both ways: a body far smaller than
    // a page that decodes to one is kept; one that decodes short is not.
    kivo::platform::RemoveFile(Page());
    Server().SetGzip("/sml/week.html", 3072);
    EXPECT_EQ(transfers.DownloadFile(Url("/sml/week.html"), Page()), TransferResult::kReplaced);
    EXPECT_EQ(ReadBytes(Page()), PatternBytes(3072));
    Server().SetGzip("/sml/week.html", 3071);
    EXPECT_EQ(transfers.DownloadFile(Url("/sml/week.html"), Page()), TransferResult::kTooShort);
    EXPECT_FALSE(Exists(Page()));
    // A stream that does not decode, or that stops before its end in a body
    // that came whole, is a transfer cut off: the copy stays.
    WriteBytes(Page(), "good copy");
    Server().SetBadGzip("/sml/week.html");
    EXPECT_EQ(transfers.DownloadFile(Url("/sml/week.html"), Page()), TransferResult::kCutOff);
    EXPECT_EQ(ReadBytes(Page()), "good copy");
    Server().SetGzipCut("/sml/week.html", 200000);
    EXPECT_EQ(transfers.DownloadFile(Url("/sml/week.html"), Page()), TransferResult::kCutOff);
    EXPECT_EQ(ReadBytes(Page()), "good copy");
    EXPECT_FALSE(Exists(Page() + ".part"));
    // A server that sends plain bytes although gzip was offered.
    Server().SetSize("/sml/week.html", 4000);
    EXPECT_EQ(transfers.DownloadFile(Url("/sml/week.html"), Page()), TransferResult::kReplaced);
    EXPECT_EQ(ReadBytes(Page()), PatternBytes(4000));
    // The version answer is read decoded too.
    std::string url;
    Server().SetGzipBody("/kivoversion.php", "version:1001");
    EXPECT_EQ(transfers.CheckVersion(1000, url), VersionCheck::kNewer);
    Server().SetBadGzip("/kivoversion.php");
    EXPECT_EQ(transfers.CheckVersion(1000, url), VersionCheck::kCutOff);
}

TEST_F(Transfers, ValidatorsAreSentOnlyWhenSoundAndWithTheCopyTheyDescribe) {
    const std::string validators = kivo::net::Transfers::ValidatorsPath(Page());
    const std::string url = Url("/sml/today.html");
    ASSERT_EQ(transfers.DownloadFile(url, Page()), TransferResult::kReplaced);
    ASSERT_TRUE(Exists(validators));
    const std::string plain = ReadBytes(Page()).value_or("");
    EXPECT_EQ(transfers.DownloadFile(url, Page()), TransferResult::kUnchanged);
    EXPECT_EQ(Server().ConditionalRequests(), 1);
    // Damaged, cut, carrying a line break into the request, or missing:
    // asked without condition, and the whole answer is stored again.
    const std::string sound = ReadBytes(validators).value_or("");
    for (const std::string& damaged :
         {std::string("garbage\n"), sound.substr(0, sound.size() / 2), std::string("ETag: \"a\"\rX-Injected: 1\n"),
          std::string(3000, 'E'), std::string("ETag: \"a\"\nETag: \"b\"\n"), std::string()}) {
        WriteBytes(validators, damaged);
        EXPECT_EQ(transfers.DownloadFile(url, Page()), TransferResult::kReplaced) << damaged;
        EXPECT_EQ(ReadBytes(validators), sound);  // the answer's validators again
    }
    EXPECT_EQ(Server().ConditionalRequests(), 1);
    kivo::platform::RemoveFile(validators);
    EXPECT_EQ(transfers.DownloadFile(url, Page()), TransferResult::kReplaced);
    EXPECT_EQ(Server().ConditionalRequests(), 1);
    // A copy removed by hand is fetched whole, its validators notwithstanding.
    kivo::platform::RemoveFile(Page());
    ASSERT_TRUE(Exists(validators));
    EXPECT_EQ(transfers.DownloadFile(url, Page()), TransferResult::kReplaced);
    EXPECT_EQ(ReadBytes(Page()), plain);
    EXPECT_EQ(Server().ConditionalRequests(), 1);
    // An answer that is too short takes the validators with the copy.
    Server().SetSize("/sml/today.html", 100);
    EXPECT_EQ(transfers.DownloadFile(url, Page()), TransferResult::kTooShort);
    EXPECT_FALSE(Exists(validators));
}
