// What the light page view reads: charsets, files that are no pages, and
// pages too large or too deep to lay out.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "shells/gtk/LitePage.h"
#include "shells/gtk/PageFetch.h"
#include "shells/gtk/PageText.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"

using kivo::gtk::DecodePage;

TEST(LitePage, PagesAreReadInTheCharsetTheyDeclareAndGbkOtherwise) {
    const std::string movie = "\xB5\xE7\xD3\xB0";         // GBK
    const std::string utf8 = "\xE7\x94\xB5\xE5\xBD\xB1";  // the same in UTF-8
    const auto text = [](const std::string& bytes) { return DecodePage(bytes).value_or(kivo::gtk::PageText{}); };
    EXPECT_EQ(text("<meta http-equiv=Content-Type content=\"text/html; charset=GB2312\">" + movie).utf8,
              "<meta http-equiv=Content-Type content=\"text/html; charset=GB2312\">" + utf8);
    EXPECT_EQ(text("<META CHARSET='x-unknown'>" + movie).charset, "GBK");
    EXPECT_EQ(text(movie).utf8, utf8);
    EXPECT_EQ(text("<meta charset=big5>\xB9\x71").utf8, "<meta charset=big5>\xE9\x9B\xBB");
    EXPECT_EQ(text("\xEF\xBB\xBF" + utf8).utf8, utf8);
    // Bytes that are not text in their charset, and NUL bytes, are U+FFFD.
    EXPECT_EQ(text(std::string("<meta charset=utf-8>a\xFF\0b", 24)).utf8,
              "<meta charset=utf-8>a\xEF\xBF\xBD\xEF\xBF\xBD"
              "b");
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

namespace {

// The page drawn on black, `clip` the part asked for; the columns in which
// something was drawn.
std::vector<bool> InkedColumns(kivo::gtk::CLitePage& page, int x, int width) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 156, 135);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
    cairo_rectangle(cr, x, 0, width, 135);
    cairo_clip(cr);
    page.Draw(cr, x, 0, width, 135);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    std::vector<bool> inked(156, false);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int row = 0; row < 135; ++row)
        for (int column = 0; column < 156; ++column) {
            const unsigned char* pixel = data + row * stride + column * 4;
            if (pixel[0] > 40 || pixel[1] > 40 || pixel[2] > 40) inked[static_cast<std::size_t>(column)] = true;
        }
    cairo_surface_destroy(surface);
    return inked;
}

}  // namespace

TEST(LitePage, ALongNameEndsAtItsEllipsisInsideItsBoxHoweverItIsDrawn) {
    // Rows as the content server writes them: one line each, padded, cut
    // with an ellipsis; the box's content ends at 156 - 40 = 116.
    const std::string style =
        "<style>body{margin:0;color:#fff;background:#000;font-size:12px}"
        "li{list-style:none;height:18px;line-height:18px;padding:0 40px 0 0;white-space:nowrap;overflow:hidden;"
        "text-overflow:ellipsis}ol{margin:0;padding:0}</style><ol>";
    for (const std::string& name :
         {std::string("wwwwwwwwwwwwwwww wwww wwww wwww wwww"), std::string("wwwwwwwww wwwwwwww wwww wwww"),
          std::string("\xE9\x95\xBF\xE9\x95\xBF\xE9\x95\xBF\xE9\x95\xBF\xE9\x95\xBF\xE9\x95\xBF\xE9\x95\xBF"
                      "\xE9\x95\xBF\xE9\x95\xBF\xE9\x95\xBF\xE9\x95\xBF\xE9\x95\xBF")}) {
        for (int split = 0; split < 12; ++split) {
            // A word may end anywhere near the cut: names one letter longer each.
            const std::string shifted = std::string(static_cast<std::size_t>(split), 'i') + name;
            kivo::gtk::CLitePage page(style + "<li><a href=\"/x\">" + shifted + "</a></ol>", "file:///p.html", 156,
                                      135);
            // Whole, and as the toolkit redraws parts: right half, left half.
            for (const auto& [x, width] : {std::pair{0, 156}, std::pair{80, 76}, std::pair{0, 100}}) {
                const std::vector<bool> inked = InkedColumns(page, x, width);
                for (std::size_t column = 117; column < 156; ++column)
                    EXPECT_FALSE(inked[column]) << shifted << " drawn at " << column << " (part " << x << ")";
                // The ellipsis itself, at the end of the line.
                if (x + width >= 156) {
                    EXPECT_TRUE(std::any_of(inked.begin() + 104, inked.begin() + 117, [](bool b) { return b; }))
                        << shifted;
                }
            }
        }
    }
}

TEST(LitePage, TheLinksAndTheTextAreWhatShowsInReadingOrder) {
    kivo::gtk::CLitePage page(
        "<body style=\"margin:0\"><div>first <a href=\"/a\">one</a></div><a href=\"/b\" style=\"display:none\">"
        "hidden</a><p>para <a href=\"http://x/c\">two \n words</a></p><a name=\"anchor\">no link</a>",
        "http://host/sml/today.html", 156, 135);
    const auto& links = page.Links();
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[0].name, "one");
    EXPECT_EQ(links[0].address, "http://host/a");
    EXPECT_EQ(links[1].name, "two words");
    EXPECT_EQ(links[1].address, "http://x/c");
    EXPECT_GT(links[0].box.width, 0);
    EXPECT_GT(links[1].box.y, links[0].box.bottom());
    EXPECT_EQ(page.Text(), "first one\npara two words\nno link");
}
