// The popup for a screen reader, for the keyboard and for the browser: what
// a real accessibility bus (at-spi2-core) reads of the light page view, the
// page's links by keyboard, and the URLs the browser is handed.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <sstream>

#include "net/Catalogue.h"
#include "tests/shells/gtk/Desktop.h"
#include "tests/support/Files.h"

#include <httplib.h>

using kivo::test::Process;
using kivo::test::WaitUntil;
using kivo::test::XWin;

namespace {

constexpr const char kSearchPrefix[] = "http://www.baidu.com/s?tn=kivo_pg&ct=&lm=-1&kw=&word=";

// `text` from one charset to another (GLib's iconv).
std::string Converted(const std::string& text, const char* to, const char* from) {
    gchar* out = g_convert(text.data(), static_cast<gssize>(text.size()), to, from, nullptr, nullptr, nullptr);
    std::string result = out != nullptr ? out : "";
    g_free(out);
    return result;
}
std::string Utf8(const std::string& gbk) { return Converted(gbk, "UTF-8", "GBK"); }
std::string Gbk(const std::string& utf8) { return Converted(utf8, "GBK", "UTF-8"); }

std::string Unescape(std::string html) {
    for (const auto& [entity, c] : {std::pair<std::string, std::string>{"&lt;", "<"},
                                    {"&gt;", ">"},
                                    {"&quot;", "\""},
                                    {"&#39;", "'"},
                                    {"&amp;", "&"}})
        for (std::size_t at = html.find(entity); at != std::string::npos; at = html.find(entity, at + c.size()))
            html.replace(at, entity.size(), c);
    return html;
}

// The entries of a list page as the content server writes them: each link's
// address and text, in page order, in the page's bytes (GBK).
struct Entry {
    std::string address, name;
};
std::vector<Entry> EntriesOf(const std::string& page) {
    std::vector<Entry> entries;
    for (std::size_t at = page.find("<a href=\""); at != std::string::npos; at = page.find("<a href=\"", at + 1)) {
        const std::size_t hrefEnd = page.find('"', at + 9);
        const std::size_t textStart = page.find('>', hrefEnd) + 1;
        const std::size_t textEnd = page.find("</a>", textStart);
        entries.push_back(
            {Unescape(page.substr(at + 9, hrefEnd - at - 9)), Unescape(page.substr(textStart, textEnd - textStart))});
    }
    return entries;
}

// What a browser's server side makes of a URL: its percent-escapes decoded.
std::string PercentDecoded(const std::string& url) {
    gchar* decoded = g_uri_unescape_string(url.c_str(), nullptr);
    std::string result = decoded != nullptr ? decoded : "";
    g_free(decoded);
    return result;
}

bool IsPrintableAscii(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

// A desktop without a tray whose session bus, a private one, carries the
// accessibility bus of at-spi2-core's launcher; kivo talks to it as to a
// screen reader's.
class Accessible : public kivo::test::DesktopTest {
protected:
    Accessible() { m_bTray = false; }

    void SetUp() override {
        DesktopTest::SetUp();
        StartSessionBus();
        if (HasFatalFailure()) return;
        m_launcher = std::make_unique<Process>("/usr/libexec/at-spi-bus-launcher",
                                               std::vector<std::string>{"--launch-immediately"}, BusEnv(),
                                               kivo::test::ProcessOptions{Home() + "/at-spi.log", true});
        ASSERT_TRUE(WaitUntil(
            [&] {
                Process ask(
                    "/usr/bin/dbus-send",
                    {"--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress"},
                    BusEnv());
                return ask.Wait() == 0;
            },
            std::chrono::seconds(20)))
            << kivo::test::ReadBytes(Home() + "/at-spi.log").value_or("");
        m_env.push_back("NO_AT_BRIDGE=0");
    }

    void TearDown() override {
        m_launcher.reset();
        DesktopTest::TearDown();
    }

    std::vector<std::string> BusEnv() const {
        return {"DBUS_SESSION_BUS_ADDRESS=" + m_sessionBus,
                "DISPLAY=" + Display(),
                "XDG_RUNTIME_DIR=" + Home() + "/run",
                "HOME=" + Home(),
                "PYTHONIOENCODING=utf-8",
                "PYTHONWARNINGS=ignore",
                "NO_AT_BRIDGE=1"};
    }

    // tests/shells/gtk/atspi_tree.py on the program: its output, or nothing
    // when it failed.
    std::optional<std::string> Atspi(long pid, const std::vector<std::string>& args = {}) {
        std::vector<std::string> all{KIVO_ATSPI_SCRIPT, std::to_string(pid)};
        all.insert(all.end(), args.begin(), args.end());
        Process script("/usr/bin/python3", all, BusEnv());
        if (script.Wait() != 0) return std::nullopt;
        return script.Output();
    }

    static std::string LineWith(const std::string& tree, const std::string& part) {
        std::istringstream in(tree);
        for (std::string line; std::getline(in, line);)
            if (line.find(part) != std::string::npos) return line;
        return "";
    }

    // The names of the links the page view shows, in tree order.
    std::vector<std::string> LinkNames(const std::string& tree) {
        std::vector<std::string> names;
        std::istringstream in(tree);
        for (std::string line; std::getline(in, line);)
            if (const std::size_t at = line.find(" link | "); at != std::string::npos) {
                const std::size_t end = line.find(" | ", at + 8);
                names.push_back(line.substr(at + 8, end - at - 8));
            }
        return names;
    }

    std::vector<Entry> ServerEntries(int category) {
        auto client = Server().MakeClient();
        auto answer = client->Get(std::string("/sml/") + g_categories[category - 1].szPageFile);
        return answer ? EntriesOf(answer->body) : std::vector<Entry>{};
    }

    std::unique_ptr<Process> StartAndWaitForPage() {
        auto program = StartKivo();
        EXPECT_TRUE(WaitForTrace(*program, "placed 835 10")) << program->Output();
        EXPECT_TRUE(WaitForTrace(*program, "page loaded http://")) << program->Output();
        return program;
    }

    // The search box, on the screen.
    void ClickSearchBox(Process& program) {
        const XWin popup = Popup(Pid(program));
        ClickAt(popup.rect.x + 43 + 40, popup.rect.y + 180 + 9);
    }

    std::unique_ptr<Process> m_launcher;
};

}  // namespace

TEST_F(Accessible, EveryEntryOfThreeListsIsANamedLinkAndActivatingOneOpensTheBrowser) {
    auto program = StartAndWaitForPage();
    const long pid = Pid(*program);
    std::string tree;
    std::vector<Entry> entries;
    for (const int category : {1, 2, 3}) {
        if (category > 1) {
            // The chooser has the keyboard: Down picks the next list.
            ClickSearchBox(*program);
            Key("shift+Tab Down");
            ASSERT_TRUE(WaitForTrace(*program, std::string("page loaded http://") + Server().HostPort() + "/sml/" +
                                                   g_categories[category - 1].szPageFile))
                << program->Output();
        }
        entries = ServerEntries(category);
        ASSERT_GE(entries.size(), 8u) << category;
        std::vector<std::string> names;
        for (const Entry& entry : entries) names.push_back(Utf8(entry.name));
        EXPECT_TRUE(
            WaitUntil([&] { return LinkNames(tree = Atspi(pid).value_or("")) == names; }, std::chrono::seconds(20)))
            << "list " << category << ":\n"
            << tree;
    }
    // The page is a document whose text holds the entries; each link can be
    // activated; the window, the search box and the chooser have names.
    EXPECT_NE(tree.find(" link | " + Utf8(entries[0].name) + " | activate"), std::string::npos) << tree;
    EXPECT_NE(tree.find("document frame | "), std::string::npos) << tree;
    const std::string text = Atspi(pid, {"text"}).value_or("");
    for (const Entry& entry : entries) EXPECT_NE(text.find(Utf8(entry.name)), std::string::npos) << text;
    EXPECT_NE(tree.find("frame | Kivo |"), std::string::npos) << tree;
    EXPECT_NE(LineWith(tree, " text | 搜索 |").find("labelled-by:搜索"), std::string::npos) << tree;
    EXPECT_NE(LineWith(tree, " combo box | 选择分类 |"), "") << tree;

    ASSERT_TRUE(Atspi(pid, {"activate", Utf8(entries[1].name)})) << tree;
    ASSERT_TRUE(WaitUntil([&] { return BrowserCalls().size() == 1; })) << program->Output();
    EXPECT_EQ(PercentDecoded(BrowserCalls()[0].at(0)), entries[1].address);
}

TEST_F(Accessible, TabReachesThePageWhoseLinksTheArrowsWalkAndEnterOpens) {
    auto program = StartAndWaitForPage();
    const std::vector<Entry> entries = ServerEntries(1);
    ASSERT_GE(entries.size(), 3u);
    const XWin popup = Popup(Pid(*program));
    const kivo::test::XRect page{popup.rect.x + 4, popup.rect.y + 21, 156, 135};
    // From the search box: the site, hide and search buttons, then around
    // to the page, whose first link takes the keyboard.
    ClickSearchBox(*program);
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    const std::string unfocused = Screenshot("page-unfocused", page);
    Key("Tab Tab Tab Tab Down Down");
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    const std::string focused = Screenshot("page-third-link-focused", page);
    // The frame: pixels of the third row that differ, and nowhere else.
    GdkPixbuf* before = gdk_pixbuf_new_from_file(unfocused.c_str(), nullptr);
    GdkPixbuf* after = gdk_pixbuf_new_from_file(focused.c_str(), nullptr);
    ASSERT_NE(before, nullptr);
    ASSERT_NE(after, nullptr);
    int differing = 0, rowsTop = page.height, rowsBottom = 0;
    const int stride = gdk_pixbuf_get_rowstride(before), channels = gdk_pixbuf_get_n_channels(before);
    for (int y = 0; y < page.height; ++y)
        for (int x = 0; x < page.width; ++x) {
            const guchar* a = gdk_pixbuf_get_pixels(before) + y * stride + x * channels;
            const guchar* b = gdk_pixbuf_get_pixels(after) + y * stride + x * channels;
            if (std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]) > 96) {
                ++differing;
                rowsTop = std::min(rowsTop, y);
                rowsBottom = std::max(rowsBottom, y);
            }
        }
    g_object_unref(before);
    g_object_unref(after);
    EXPECT_GT(differing, 40);
    // Below the heading and the first two rows, within one row of the list.
    EXPECT_GT(rowsTop, 30);
    EXPECT_LT(rowsBottom - rowsTop, 30);

    Key("Return");
    ASSERT_TRUE(WaitUntil([&] { return BrowserCalls().size() == 1; })) << program->Output();
    EXPECT_EQ(PercentDecoded(BrowserCalls()[0].at(0)), entries[2].address);
    // The focus stays on its link; Up twice is the first, Space opens it.
    Key("Up Up space");
    ASSERT_TRUE(WaitUntil([&] { return BrowserCalls().size() == 2; })) << program->Output();
    EXPECT_EQ(PercentDecoded(BrowserCalls()[1].at(0)), entries[0].address);
}

TEST_F(Accessible, TheBrowserGetsPrintableUrlsThatDecodeToTheAddressesBytes) {
    auto program = StartAndWaitForPage();
    const std::vector<Entry> entries = ServerEntries(1);
    ASSERT_FALSE(entries.empty());
    std::vector<std::string> expected;
    // Searches: Chinese, Latin with a space, and what a URL cannot hold raw.
    for (const std::string& words :
         {std::string("电影 明星"), std::string("hello world"), std::string("100% \"C#\" F# <1>")}) {
        ClickSearchBox(*program);
        Key("ctrl+a BackSpace");
        Xdo({"type", "--delay", "80", words});
        Key("Return");
        expected.push_back(kSearchPrefix + Gbk(words));
        ASSERT_TRUE(WaitUntil([&] { return BrowserCalls().size() == expected.size(); })) << program->Output();
    }
    // An entry by the keyboard, the site by its button.
    const XWin popup = Popup(Pid(*program));
    Key("Tab Tab Tab Tab Return");
    expected.push_back(entries[0].address);
    ASSERT_TRUE(WaitUntil([&] { return BrowserCalls().size() == expected.size(); })) << program->Output();
    ClickAt(popup.rect.x + 95 + 20, popup.rect.y + 201 + 9);
    expected.push_back("http://www.kivo.cn");
    ASSERT_TRUE(WaitUntil([&] { return BrowserCalls().size() == expected.size(); })) << program->Output();

    const auto calls = BrowserCalls();
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(calls[i].size(), 1u) << i;
        EXPECT_TRUE(IsPrintableAscii(calls[i][0])) << calls[i][0];
        EXPECT_EQ(PercentDecoded(calls[i][0]), expected[i]) << calls[i][0];
    }
    // One fragment: the second '#' of the search is escaped.
    EXPECT_EQ(std::count(calls[2][0].begin(), calls[2][0].end(), '#'), 1) << calls[2][0];
    EXPECT_EQ(program->Output().find("CRITICAL"), std::string::npos) << program->Output();
    EXPECT_EQ(program->Output().find("WARNING"), std::string::npos) << program->Output();
}

namespace {

// The time stamp of the first trace line holding `text` at or after `from`
// (its position goes to `at`); -1 when there is none.
long long StampOf(const std::string& output, const std::string& text, std::size_t from, std::size_t* at = nullptr) {
    const std::size_t found = output.find(text, from);
    if (found == std::string::npos) return -1;
    const std::size_t open = output.rfind('[', found);
    if (at != nullptr) *at = found;
    return open == std::string::npos ? -1 : std::atoll(output.c_str() + open + 1);
}

// `page` with its first two entries in each other's place and the third
// renamed `name` (GBK).
std::string Reordered(const std::string& page, const std::string& name) {
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    for (std::size_t at = page.find("<a href=\""); at != std::string::npos && spans.size() < 3;
         at = page.find("<a href=\"", at + 1))
        spans.emplace_back(at, page.find("</a>", at) + 4);
    if (spans.size() < 3) return page;
    std::string third = page.substr(spans[2].first, spans[2].second - spans[2].first);
    const std::size_t textStart = third.find('>', third.find('"', 9)) + 1;
    third.replace(textStart, third.size() - 4 - textStart, name);
    const auto part = [&](std::size_t from, std::size_t to) { return page.substr(from, to - from); };
    return part(0, spans[0].first) + part(spans[1].first, spans[1].second) + part(spans[0].second, spans[1].first) +
           part(spans[0].first, spans[0].second) + part(spans[1].second, spans[2].first) + third +
           page.substr(spans[2].second);
}

}  // namespace

TEST_F(Accessible, ARefreshThatChangesTheListOnShowShowsItWithinASecondWhereThePopupStands) {
    // The timers 600 times faster: the first refresh after half a second,
    // then one every three seconds.
    m_env.push_back("KIVO_TIME_SCALE=600");
    auto program = StartKivo();
    ASSERT_TRUE(WaitForTrace(*program, "placed 835 10")) << program->Output();
    // The first refresh stores the page on show: its copy takes its place.
    ASSERT_TRUE(WaitForTrace(*program, "page refreshed file://")) << program->Output();
    ASSERT_TRUE(WaitForTrace(*program, "page loaded file://")) << program->Output();
    const long pid = Pid(*program);
    const std::vector<Entry> entries = ServerEntries(1);
    ASSERT_GE(entries.size(), 4u);
    const XWin before = Popup(pid);
    // The keyboard on the second entry.
    ClickSearchBox(*program);
    Key("Tab Tab Tab Tab Down");
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));

    // The server's list changes: the first two entries change places, the
    // third is new.
    auto client = Server().MakeClient();
    const auto page = client->Get("/sml/today.html");
    ASSERT_TRUE(page);
    const std::string name = "刚上榜的新词";
    const std::size_t from = program->Output().size();
    // Without its style sheet the page fits the control request's head; a
    // comment keeps it longer than the least size of a page.
    std::string body = page->body;
    const std::size_t style = body.find("<style"), styleEnd = body.find("</style>");
    if (style != std::string::npos && styleEnd != std::string::npos) body.erase(style, styleEnd + 8 - style);
    body = Reordered(body, Gbk(name));
    if (body.size() < 3200) body.insert(body.rfind("</body>"), "<!--" + std::string(3200 - body.size(), ' ') + "-->");
    Server().SetBody("/sml/today.html", body);
    std::size_t refreshedAt = 0;
    ASSERT_TRUE(WaitUntil([&] { return StampOf(program->Output(), "page refreshed file://", from, &refreshedAt) >= 0; },
                          std::chrono::seconds(20)))
        << program->Output();
    ASSERT_TRUE(WaitUntil([&] { return StampOf(program->Output(), "page loaded file://", refreshedAt) >= 0; }))
        << program->Output().substr(from);
    const std::string output = program->Output();
    EXPECT_LT(StampOf(output, "page loaded file://", refreshedAt) - StampOf(output, "page refreshed", refreshedAt),
              1000)
        << output.substr(from);

    std::vector<std::string> names{Utf8(entries[1].name), Utf8(entries[0].name), name};
    for (std::size_t i = 3; i < entries.size(); ++i) names.push_back(Utf8(entries[i].name));
    std::string tree;
    EXPECT_TRUE(WaitUntil([&] { return LinkNames(tree = Atspi(pid).value_or("")) == names; }, std::chrono::seconds(10)))
        << tree;
    // The popup has not moved, and the keyboard stayed on its entry, now
    // the first.
    const XWin after = Popup(pid);
    EXPECT_EQ(after.rect.x, before.rect.x);
    EXPECT_EQ(after.rect.y, before.rect.y);
    EXPECT_EQ(after.rect.width, before.rect.width);
    EXPECT_EQ(after.rect.height, before.rect.height);
    Key("Return");
    ASSERT_TRUE(WaitUntil([&] { return BrowserCalls().size() == 1; })) << program->Output();
    EXPECT_EQ(PercentDecoded(BrowserCalls()[0].at(0)), entries[1].address);

    // On the second link, whose address is gone from the next copy: the
    // keyboard stays in its place.
    Key("Down");
    const std::size_t again = program->Output().size();
    body.insert(body.find("<a href=\"", body.find("<a href=\"") + 1) + 9, "http://www.kivo.cn/gone?");
    Server().SetBody("/sml/today.html", body);
    ASSERT_TRUE(
        WaitUntil([&] { return StampOf(program->Output(), "page refreshed file://", again, &refreshedAt) >= 0; },
                  std::chrono::seconds(20)));
    ASSERT_TRUE(WaitUntil([&] { return StampOf(program->Output(), "page loaded file://", refreshedAt) >= 0; }));
    Key("Return");
    ASSERT_TRUE(WaitUntil([&] { return BrowserCalls().size() == 2; })) << program->Output();
    EXPECT_EQ(PercentDecoded(BrowserCalls()[1].at(0)).rfind("http://www.kivo.cn/gone?", 0), 0u);
}

TEST_F(Accessible, TheSettingsDialogsListAndEmailBoxAreTiedToTheTextsAboveThem) {
    auto program = StartAndWaitForPage();
    EXPECT_EQ(StartKivo("", {"--settings"})->Wait(std::chrono::seconds(30)), 0);
    ASSERT_TRUE(WaitForTrace(*program, "dialog 131 shown")) << program->Output();
    const std::string list = "请您选择默认的Kivo分类", email = "如果Kivo有更新发电子邮件通知我";
    std::string tree;
    EXPECT_TRUE(
        WaitUntil([&] { return !LineWith(tree = Atspi(Pid(*program)).value_or(""), " text | " + email).empty(); },
                  std::chrono::seconds(20)))
        << tree;
    EXPECT_NE(LineWith(tree, " combo box | " + list + " |").find("labelled-by:" + list), std::string::npos) << tree;
    EXPECT_NE(LineWith(tree, " text | " + email + " |").find("labelled-by:" + email), std::string::npos) << tree;
    EXPECT_NE(LineWith(tree, " label | " + list + " |").find("label-for:" + list), std::string::npos) << tree;
}
