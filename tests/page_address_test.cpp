// The catalogue and the page addresses shown in the popup.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include "app/Config.h"
#include "net/Catalogue.h"
#include "net/ServerAddress.h"
#include "platform/System.h"
#include "platform/linux/Gbk.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

using kivo::platform::GbkToUtf8;

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
    CConfig config{Dir()};
    const std::string remote = "http://pages.example:8080/sml/";
};

}  // namespace

TEST(Catalogue, TextsAreGbkAndDifferOnlyForListsOneAndThirteen) {
    const char* popup[] = {"上升最快Top8", "一周热点Top8", "热门搜索Top8", "电影流行榜", "电视剧流行榜",
                           "游戏流行榜", "小说流行榜", "十大美女", "十大帅哥", "最火女歌手榜",
                           "最火男歌手榜", "十佳旅游景点", "新歌流行榜", "中文金曲榜"};
    for (int i = 0; i < kCategoryCount; ++i) {
        EXPECT_EQ(GbkToUtf8(g_categories[i].szPopupText), popup[i]) << i;
        if (i != 0 && i != 12) {
            EXPECT_STREQ(g_categories[i].szSettingsText, g_categories[i].szPopupText) << i;
        }
    }
    EXPECT_EQ(GbkToUtf8(g_categories[0].szSettingsText), "今日上升最快Top8");
    EXPECT_EQ(GbkToUtf8(g_categories[12].szSettingsText), "新歌Top8");
    // GBK, not UTF-8: two bytes for each of the four characters.
    EXPECT_EQ(std::string(g_categories[0].szPopupText).size(), 12u);
}

TEST(Catalogue, PagesBannersAndRefreshOrder) {
    EXPECT_STREQ(PageFileName(1), "today.html");
    EXPECT_STREQ(PageFileName(13), "newmusic.html");
    EXPECT_STREQ(PageFileName(14), "hotmusic.html");
    EXPECT_STREQ(PageFileName(0), "");
    EXPECT_STREQ(PageFileName(15), "");
    EXPECT_STREQ(PageFileName(-1), "");
    EXPECT_EQ(g_nCategoryBanner[0], 129);
    EXPECT_EQ(g_nCategoryBanner[1], 152);
    EXPECT_EQ(g_nCategoryBanner[12], 163);
    EXPECT_EQ(g_nCategoryBanner[13], 164);
    EXPECT_STREQ(g_szRefreshItems[0], "main_back.gif");
    for (int i = 1; i <= kCategoryCount; ++i) EXPECT_STREQ(g_szRefreshItems[i], PageFileName(i));
}

TEST_F(PageAddress, BasesAndUncachedPages) {
    EXPECT_EQ(config.GetPageBase(false), remote);
    EXPECT_EQ(config.GetPageBase(true), Cache());
    config.m_nCategory = 3;
    EXPECT_EQ(config.GetPageUrl(0), remote + "hot.html");
    EXPECT_EQ(config.GetPageUrl(2), remote + "week.html");
}

TEST_F(PageAddress, CachedCopyIsShownWhileItExists) {
    kivo::test::WriteBytes(Cache() + "movie.html", "<html></html>");
    EXPECT_EQ(config.GetPageUrl(4), "file://" + Cache() + "movie.html");
#ifndef _WIN32
    EXPECT_EQ(config.GetPageUrl(4).rfind("file:///", 0), 0u);  // an absolute path after "file://"
#endif
    std::remove((Cache() + "movie.html").c_str());
    EXPECT_EQ(config.GetPageUrl(4), remote + "movie.html");
}

TEST_F(PageAddress, EmptyCachedFileCountsFolderDoesNot) {
    kivo::test::WriteBytes(Cache() + "today.html", "");
    EXPECT_EQ(config.GetPageUrl(1), "file://" + Cache() + "today.html");
    ::mkdir((Cache() + "week.html").c_str(), 0700);
    EXPECT_EQ(config.GetPageUrl(2), remote + "week.html");
    EXPECT_FALSE(CConfig::FileExists(Cache()));
    EXPECT_FALSE(CConfig::FileExists(Dir() + "prg"));
}

TEST_F(PageAddress, NumbersOutsideTheCatalogueGiveTheBareRemoteBase) {
    EXPECT_EQ(config.GetPageUrl(15), remote);
    EXPECT_EQ(config.GetPageUrl(-3), remote);
    config.m_nCategory = 0;
    EXPECT_EQ(config.GetPageUrl(0), remote);
    config.m_nCategory = 15;
    EXPECT_EQ(config.GetPageUrl(0), remote);
}

TEST(ServerAddress, OverrideIsCheckedAndFallsBackToTheBuiltInHost) {
    ::setenv("KIVO_SERVER", "127.0.0.1:8123", 1);
    EXPECT_EQ(kivo::net::ServerAddress(), "http://127.0.0.1:8123");
    ::setenv("KIVO_SERVER", "[::1]:99", 1);
    EXPECT_EQ(kivo::net::ServerAddress(), "http://[::1]:99");
    ::unsetenv("KIVO_SERVER");
    const std::string builtIn = kivo::net::ServerAddress();
    for (const char* bad : {"", "evil.example/path", "a b", "host:0", "host:65536", "host:", "user@host",
                            "-host", "[::1", "h\nx"}) {
        ::setenv("KIVO_SERVER", bad, 1);
        EXPECT_EQ(kivo::net::ServerAddress(), builtIn) << bad;
    }
    ::unsetenv("KIVO_SERVER");
}
