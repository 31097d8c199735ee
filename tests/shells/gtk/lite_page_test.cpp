// What the light page view reads: charsets, files that are no pages, and
// pages too large or too deep to lay out.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "shells/gtk/LitePage.h"
#include "shells/gtk/PageFetch.h"
#include "shells/gtk/PageText.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

using kivo::gtk::DecodePage;

TEST(LitePage, PagesAreReadInTheCharsetTheyDeclareAndGbkOtherwise) {
    const std::string movie = "\xB5\xE7\xD3\xB0";   // GBK
    const std::string utf8 = "\xE7\x94\xB5\xE5\xBD\xB1";  // the same in UTF-8
    const auto text = [](const std::string& bytes) { return DecodePage(bytes).value_or(kivo::gtk::PageText{}); };
    EXPECT_EQ(text("<meta http-equiv=Content-Type content=\"text/html; charset=GB2312\">" + movie).utf8,
              "<meta http-equiv=Content-Type content=\"text/html; charset=GB2312\">" + utf8);
    EXPECT_EQ(text("<META CHARSET='x-unknown'>" + movie).charset, "GBK");
    EXPECT_EQ(text(movie).utf8, utf8);
    EXPECT_EQ(text("<meta charset=big5>\xB9\x71").utf8, "<meta charset=big5>\xE9\x9B\xBB");
    EXPECT_EQ(text("\xEF\xBB\xBF" + utf8).utf8, utf8);
    // Bytes that are not text in their charset, and NUL bytes, are U+FFFD.
    EXPECT_EQ(text(std::string("<meta charset=utf-8>a\xFF\0b", 24)).utf8, "<meta charset=utf-8>a\xEF\xBF\xBD\xEF\xBF\xBD" "b");
    EXPECT_FALSE(DecodePage("GIF89a\x01\x00\x01\x00"));
    EXPECT_FALSE(DecodePage("\x89PNG\r\n\x1A\n...."));
    // A link's address goes back into the page's own bytes.
    EXPECT_EQ(kivo::gtk::EncodeForPage("http://s/?word=" + utf8, "GBK"), "http://s/?word=" + movie);
}

TEST(LitePage, OnlyRegularFilesAreReadAndNoMoreThanAsked) {
    kivo::test::TempDir dir;
    const std::string base = "file://" + dir.Path();
    kivo::test::WriteBytes(dir.Path() + "/page.html", std::string(5000, 'x'));
    ::mkfifo((dir.Path() + "/pipe.html").c_str(), 0600);
    ::mkdir((dir.Path() + "/folder.html").c_str(), 0700);
    const auto page = kivo::gtk::FetchUri(nullptr, base + "/page.html", 4096);
    EXPECT_TRUE(page.ok);
    EXPECT_EQ(page.bytes.size(), 4096u);
    for (const char* name : {"/folder.html", "/pipe.html", "/missing.html"})
        EXPECT_FALSE(kivo::gtk::FetchUri(nullptr, base + name, 4096).ok) << name;
    EXPECT_FALSE(kivo::gtk::FetchUri(nullptr, "ftp://host/page.html", 4096).ok);
    EXPECT_EQ(kivo::gtk::DecodeImage("<html>not a picture</html>"), nullptr);
}

TEST(LitePage, PagesAreCutBeforeWhatIsTooDeepOrTooMuchAndNoStyleBreaksTheLayout) {
    // litehtml fails on a root element in a table; it stays a block.
    kivo::gtk::CLitePage table("<style>*{display:table-cell}</style>x", "file:///p.html", 156, 135);

    std::string deep;
    for (int i = 0; i < 300; ++i) deep += "<div>";
    const std::string bounded = kivo::gtk::CLitePage::Bounded(deep + "end");
    EXPECT_EQ(bounded.find("end"), std::string::npos);
    EXPECT_GE(bounded.size(), 250 * 5u);
    // Entries that close themselves nest nothing; the 2001st element goes.
    std::string list = "<ol>";
    for (int i = 0; i < 1999; ++i) list += "<li>x";
    EXPECT_EQ(kivo::gtk::CLitePage::Bounded(list + "<li>last"), list);
    EXPECT_EQ(kivo::gtk::CLitePage::Bounded(std::string(100000, 'a')).size(), 65536u);
}

TEST(LitePage, AClickOnALinkGivesItsAddressAndTitlesAreTooltips) {
    kivo::gtk::CLitePage page(
        "<body style=\"margin:0\"><div title=\"all\"><a href=\"/s?word=\xE7\x94\xB5%20\" title=\"tip\">a link</a> "
        "text</div>",
        "http://host/sml/today.html", 156, 135);
    std::string link;
    page.ButtonDown(5, 5);
    page.ButtonUp(5, 5, link);
    EXPECT_EQ(link, "http://host/s?word=\xE7\x94\xB5%20");
    EXPECT_EQ(page.TooltipAt(5, 5), "tip");
    EXPECT_EQ(page.TooltipAt(60, 5), "all");
    EXPECT_EQ(page.TooltipAt(5, 100), "");
    page.ButtonDown(60, 5);
    page.ButtonUp(60, 5, link);
    EXPECT_EQ(link, "");
}
