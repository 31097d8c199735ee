// The catalogue and the page addresses shown in the popup.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include "app/Core.h"
#include "net/Catalogue.h"
#include "net/ServerAddress.h"
#include "platform/System.h"
#ifndef _WIN32
#include "platform/linux/Gbk.h"
#endif
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

namespace {

class PageAddress : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("KIVO_SERVER", "pages.example:8080", 1);
        ::mkdir(Cache().c_str(), 0700);
    }
    void TearDown() override { ::unsetenv("KIVO_SERVER"); }
    std::string Dir() const { return dir.Path() + "/"; }
    std::string Cache() const { return Dir() + "prg" + kivo::platform::PathSeparator(); }

    kivo::test::TempDir dir;
    kivo::app::Core core{Dir()};
    CConfig& config = core.config;
    kivo::net::PageCache& pages = core.pages;
    const std::string remote = "http://pages.example:8080/sml/";
};

}  // namespace

// The Windows build's texts are held to the same bytes by its resource test,
// which compares them with the resources made from the Linux build's.
#ifndef _WIN32
TEST(Catalogue, TextsAreGbkAndDifferOnlyForListsOneAndThirteen) {
    for (int i = 0; i < kCategoryCount; ++i) {
        for (const std::string text : {g_categories[i].szPopupText, g_categories[i].szSettingsText}) {
            // Chinese in GBK: two bytes for each character outside ASCII,
            // which decode to three UTF-8 bytes, never to U+FFFD.
            const std::string utf8 = kivo::platform::GbkToUtf8(text);
            const std::size_t wide = std::count_if(text.begin(), text.end(), [](char c) { return (c & 0x80) != 0; });
            EXPECT_GT(wide, 0u) << utf8;
            EXPECT_EQ(utf8.size(), text.size() + wide / 2) << utf8;
            EXPECT_EQ(utf8.find("\xEF\xBF\xBD"), std::string::npos) << utf8;
        }
        EXPECT_EQ(std::string(g_categories[i].szSettingsText) == g_categories[i].szPopupText, i != 0 && i != 12) << i;
    }
}
#endif

TEST_F(PageAddress, UncachedPagesAndNumbersOutsideTheCatalogueAreRemote) {
    EXPECT_EQ(pages.GetPageBase(false), remote);
    EXPECT_EQ(pages.GetPageBase(true), Cache());
    config.m_nCategory = 3;
    EXPECT_EQ(core.GetPageUrl(0), remote + "hot.html");  // 0: the default list
    EXPECT_EQ(core.GetPageUrl(2), remote + "week.html");
    // Outside the catalogue: the bare remote base.
    EXPECT_EQ(core.GetPageUrl(15), remote);
    EXPECT_EQ(core.GetPageUrl(-3), remote);
    EXPECT_EQ(pages.PageAddress(0), remote);
    for (const int category : {0, 15}) {
        config.m_nCategory = category;
        EXPECT_EQ(core.GetPageUrl(0), remote) << category;
    }
}

TEST_F(PageAddress, ACachedFileIsShownWhileItExistsEvenEmptyAFolderIsNot) {
    kivo::test::WriteBytes(Cache() + "movie.html", "<html></html>");
    EXPECT_EQ(core.GetPageUrl(4), "file://" + Cache() + "movie.html");
#ifndef _WIN32
    EXPECT_EQ(core.GetPageUrl(4).rfind("file:///", 0), 0u);  // an absolute path after "file://"
#endif
    std::remove((Cache() + "movie.html").c_str());
    EXPECT_EQ(core.GetPageUrl(4), remote + "movie.html");
    kivo::test::WriteBytes(Cache() + "today.html", "");
    EXPECT_EQ(core.GetPageUrl(1), "file://" + Cache() + "today.html");
    ::mkdir((Cache() + "week.html").c_str(), 0700);
    EXPECT_EQ(core.GetPageUrl(2), remote + "week.html");
    EXPECT_FALSE(kivo::net::PageCache::FileExists(Cache()));
    EXPECT_FALSE(kivo::net::PageCache::FileExists(Dir() + "prg"));
}

TEST(ServerAddress, OverrideIsCheckedAndFallsBackToTheBuiltInHost) {
    ::setenv("KIVO_SERVER", "127.0.0.1:8123", 1);
    EXPECT_EQ(kivo::net::ServerAddress(), "http://127.0.0.1:8123");
    ::setenv("KIVO_SERVER", "[::1]:99", 1);
    EXPECT_EQ(kivo::net::ServerAddress(), "http://[::1]:99");
    ::unsetenv("KIVO_SERVER");
    const std::string builtIn = kivo::net::ServerAddress();
    for (const char* bad :
         {"", "evil.example/path", "a b", "host:0", "host:65536", "host:", "user@host", "-host", "[::1", "h\nx"}) {
        ::setenv("KIVO_SERVER", bad, 1);
        EXPECT_EQ(kivo::net::ServerAddress(), builtIn) << bad;
    }
    ::unsetenv("KIVO_SERVER");
}
