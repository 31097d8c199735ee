// The real kivo program on a private X desktop with a system tray, against
// the content server: what a user sees and does.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "platform/BrowserUrl.h"
#include "tests/shells/gtk/Desktop.h"
#include "tests/support/Files.h"

#include <httplib.h>

using kivo::test::Process;
using kivo::test::ReadBytes;
using kivo::test::WaitUntil;
using kivo::test::XRect;
using kivo::test::XWin;

namespace {

class Desktop : public kivo::test::DesktopTest {
protected:
    // Starts kivo and waits for the popup in its corner with its first page.
    std::unique_ptr<Process> StartAndWaitForPopup(const std::string& dir = "") {
        auto program = StartKivo(dir);
        EXPECT_TRUE(WaitForTrace(*program, "placed ")) << program->Output();
        EXPECT_TRUE(WaitForTrace(*program, "tray icon embedded")) << program->Output();
        // The tray lays the new icon out after embedding it: until it stands
        // still, a pointer sent to it may miss it.
        XWin icon, before;
        EXPECT_TRUE(WaitUntil([&] {
            before = icon;
            WaitUntil([] { return false; }, std::chrono::milliseconds(100));
            return TrayIcon(Pid(*program), icon) && icon.rect.x == before.rect.x &&
                   icon.rect.width == before.rect.width;
        })) << program->Output();
        EXPECT_TRUE(WaitUntil([&] {
            const XWin popup = Popup(Pid(*program));
            return popup.mapped && popup.rect.x == 835 && popup.rect.y == 10;
        })) << program->Output();
        return program;
    }
    XWin WaitForNamed(Process& program, const std::string& name) {
        return WaitForWindow(Pid(program), [&](const XWin& w) { return w.mapped && w.name == name; });
    }
    bool Contains(const std::vector<XRect>& rects, int x, int y) {
        return std::any_of(rects.begin(), rects.end(), [&](const XRect& r) {
            return x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
        });
    }
    // Opens the tray menu and picks entry `n` (1-based, the separator not
    // counted) with the keyboard.
    void PickTrayEntry(Process& program, int n) {
        XWin icon;
        ASSERT_TRUE(TrayIcon(Pid(program), icon));
        const std::size_t before = program.Output().size();
        ClickAt(icon.rect.x + icon.rect.width / 2, icon.rect.y + icon.rect.height / 2, 3);
        ASSERT_TRUE(WaitUntil([&] { return program.Output().find("] menu ", before) != std::string::npos; }));
        ASSERT_TRUE(WaitUntil([&] {
            XWin menu;
            return FindWindow(
                Pid(program), [](const XWin& w) { return w.mapped && w.type == "POPUP_MENU"; }, menu);
        }));
        std::string keys;
        for (int i = 0; i < n; ++i) keys += "Down ";
        Key(keys + "Return");
    }
};

// The page area of the popup (item 1001), on the screen.
XRect PageArea(const XWin& popup) { return {popup.rect.x + 4, popup.rect.y + 21, 156, 135}; }

struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
    explicit Picture(const std::string& png) {
        GdkPixbuf* image = gdk_pixbuf_new_from_file(png.c_str(), nullptr);
        if (image == nullptr) return;
        width = gdk_pixbuf_get_width(image);
        height = gdk_pixbuf_get_height(image);
        const int channels = gdk_pixbuf_get_n_channels(image), stride = gdk_pixbuf_get_rowstride(image);
        const guchar* pixels = gdk_pixbuf_get_pixels(image);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                rgb.insert(rgb.end(), pixels + y * stride + x * channels, pixels + y * stride + x * channels + 3);
        g_object_unref(image);
    }
    // Whether pixel (x, y) is within `tolerance` of colour 0xRRGGBB.
    bool Is(int x, int y, unsigned color, int tolerance = 3) const {
        for (int c = 0; c < 3; ++c)
            if (std::abs(rgb[3 * (y * width + x) + c] - static_cast<int>((color >> (16 - 8 * c)) & 0xFF)) > tolerance)
                return false;
        return true;
    }
};

// The share of pixels in which some channel differs by more than a quarter
// of its range: anti-aliasing and glyph rendering differ between the
// engines, a misplaced or missing box or line of text does not stay below.
double DifferingShare(const Picture& a, const Picture& b) {
    if (a.width != b.width || a.height != b.height || a.rgb.empty()) return 1.0;
    std::size_t differing = 0;
    for (std::size_t i = 0; i < a.rgb.size(); i += 3)
        if (std::abs(a.rgb[i] - b.rgb[i]) > 64 || std::abs(a.rgb[i + 1] - b.rgb[i + 1]) > 64 ||
            std::abs(a.rgb[i + 2] - b.rgb[i + 2]) > 64)
            ++differing;
    return static_cast<double>(differing) / static_cast<double>(a.rgb.size() / 3);
}

std::size_t CountOf(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The program with page view `view` ("lite" or "webkit", where it is built).
std::string ViewProgram(const std::string& view) {
#ifdef KIVO_WEBKIT_EXE
    if (view == "webkit") return KIVO_WEBKIT_EXE;
#endif
    return KIVO_LITE_EXE;
}

// The tests that look at the page run with each page view.
class EachView : public Desktop, public ::testing::WithParamInterface<std::string> {
protected:
    void SetUp() override {
        m_program = ViewProgram(GetParam());
        Desktop::SetUp();
    }
};

}  // namespace

#ifdef KIVO_WEBKIT_EXE
#define KIVO_VIEWS "lite", "webkit"
#else
#define KIVO_VIEWS "lite"
#endif
INSTANTIATE_TEST_SUITE_P(View, EachView, ::testing::Values(KIVO_VIEWS),
                         [](const ::testing::TestParamInfo<std::string>& view) { return view.param; });

TEST_P(EachView, PopupSizeShapeCornerAndServerPage) {
    auto program = StartAndWaitForPopup();
    const XWin popup = Popup(Pid(*program));
    EXPECT_EQ(popup.rect.width, 179);
    EXPECT_EQ(popup.rect.height, 221);
    EXPECT_FALSE(popup.overrideRedirect);
    const auto state = NetWmState(popup.id);
    EXPECT_NE(std::find(state.begin(), state.end(), "_NET_WM_STATE_SKIP_TASKBAR"), state.end());
    EXPECT_NE(std::find(state.begin(), state.end(), "_NET_WM_STATE_SKIP_PAGER"), state.end());
    EXPECT_EQ(std::find(state.begin(), state.end(), "_NET_WM_STATE_ABOVE"), state.end());
    // The program's icon at 16, 32 and 48 pixels, set after the first frame.
    EXPECT_TRUE(WaitUntil([&] { return NetWmIcon(popup.id).size() == 3 * 2 + 16 * 16 + 32 * 32 + 48 * 48; }));

    // Paint and input shape: only the top-left corner is rounded, and the
    // rightmost 15 pixels are not part of the window.
    for (int kind : {kivo::test::kShapeBounding, kivo::test::kShapeInput}) {
        EXPECT_TRUE(WaitUntil([&] { return !Contains(ShapeRects(popup.id, kind), 0, 0); }, std::chrono::seconds(10)))
            << kind;
        const auto shape = ShapeRects(popup.id, kind);
        std::string seen;
        for (const XWin& w : Windows(Pid(*program)))
            seen += std::to_string(w.id) + " " + w.type + " " + std::to_string(w.rect.width) + "x" +
                    std::to_string(w.rect.height) + (w.mapped ? " mapped; " : "; ");
        EXPECT_FALSE(Contains(shape, 0, 0))
            << kind << " " << shape.size() << " rects, popup " << popup.id << ": " << seen;
        EXPECT_FALSE(Contains(shape, 3, 3)) << kind;
        EXPECT_TRUE(Contains(shape, 20, 1)) << kind;
        EXPECT_TRUE(Contains(shape, 163, 0)) << kind;
        EXPECT_TRUE(Contains(shape, 0, 220)) << kind;
        EXPECT_TRUE(Contains(shape, 163, 220)) << kind;
        EXPECT_FALSE(Contains(shape, 164, 100)) << kind;
        EXPECT_FALSE(Contains(shape, 178, 0)) << kind;
    }

    // Before any refresh the page comes from the server, GBK text readable.
    const std::string page = Server().BaseUrl() + "/sml/today.html";
    EXPECT_TRUE(WaitForTrace(*program, "page loaded " + page)) << program->Output();
    EXPECT_TRUE(WaitForTrace(*program, "page title 上升最快Top8")) << program->Output();
    const auto requests = Server().Requests();
    EXPECT_NE(std::find(requests.begin(), requests.end(), "/sml/today.html"), requests.end());
    WaitUntil([] { return false; }, std::chrono::milliseconds(500));  // let the page paint
    Screenshot("popup-" + GetParam(), {popup.rect.x, popup.rect.y, popup.rect.width, popup.rect.height});

    // The entry under the mouse is highlighted and its title shows as a
    // tooltip; a left click on it changes nothing.
    const XRect area = PageArea(popup);
    Xdo({"mousemove", std::to_string(area.x + 100), std::to_string(area.y + 38)});
    Xdo({"mousemove_relative", "--", "1", "1"});
    const XWin tip = WaitForWindow(Pid(*program), [](const XWin& w) { return w.mapped && w.type == "TOOLTIP"; });
    EXPECT_NE(tip.id, 0u) << "no tooltip";
    EXPECT_TRUE(Picture(Screenshot("page-hover-" + GetParam(), area)).Is(136, 38, 0x262B31)) << "no highlight";
    // A click on it opens its search in the browser; the list stays.
    Xdo({"click", "1"});
    ASSERT_TRUE(WaitUntil([&] { return BrowserCalls().size() == 1; })) << program->Output();
    EXPECT_EQ(BrowserCalls()[0].at(0).rfind("http://www.baidu.com/s?tn=kivo_pg&ct=&lm=-1&kw=&word=", 0), 0u);
    EXPECT_EQ(CountOf(program->Output(), "] navigate "), 1u);

    // Escape changes nothing (Enter in the page opens its focused link: the
    // light view's keyboard test).
    Key("Escape");
    WaitUntil([] { return false; }, std::chrono::milliseconds(500));
    EXPECT_TRUE(Popup(Pid(*program)).mapped);
    EXPECT_EQ(BrowserCalls().size(), 1u);
}

TEST_F(Desktop, TrayTooltipHideAndDoubleClickBackAtTheSamePlace) {
    auto program = StartAndWaitForPopup();
    XWin icon;
    ASSERT_TRUE(TrayIcon(Pid(*program), icon));
    EXPECT_NE(program->Output().find("tray icon added, tip Kivo"), std::string::npos);

    // Hovering shows the tooltip.
    Xdo({"mousemove", std::to_string(icon.rect.x + icon.rect.width / 2),
         std::to_string(icon.rect.y + icon.rect.height / 2)});
    Xdo({"mousemove_relative", "--", "1", "1"});
    const XWin tip = WaitForWindow(Pid(*program), [](const XWin& w) { return w.mapped && w.type == "TOOLTIP"; });
    EXPECT_NE(tip.id, 0u);
    Screenshot("tray-tooltip", {760, 660, 264, 108});

    // The hide button hides the popup; a double click brings it back in place.
    const XWin popup = Popup(Pid(*program));
    ClickAt(popup.rect.x + 141 + 8, popup.rect.y + 4 + 8);
    ASSERT_TRUE(WaitForTrace(*program, "window hidden"));
    EXPECT_TRUE(WaitUntil([&] { return !Popup(Pid(*program)).mapped; }));
    Xdo({"mousemove", std::to_string(icon.rect.x + icon.rect.width / 2),
         std::to_string(icon.rect.y + icon.rect.height / 2)});
    Xdo({"click", "--repeat", "2", "--delay", "120", "1"});
    ASSERT_TRUE(WaitForTrace(*program, "window raised")) << program->Output();
    EXPECT_TRUE(WaitUntil([&] {
        const XWin back = Popup(Pid(*program));
        return back.mapped && back.rect.x == 835 && back.rect.y == 10;
    }));
}

TEST_F(Desktop, TrayMenuEntriesInOrderAndExitRemovesTheIcon) {
    auto program = StartAndWaitForPopup();
    XWin icon;
    ASSERT_TRUE(TrayIcon(Pid(*program), icon));
    ClickAt(icon.rect.x + icon.rect.width / 2, icon.rect.y + icon.rect.height / 2, 3);
    ASSERT_TRUE(WaitForTrace(*program, "] menu "));
    const std::string menuLine = program->Output().substr(program->Output().find("] menu "));
    EXPECT_NE(menuLine.find(" 访问网站|软件设置|关于Kivo|-|退出程序\n"), std::string::npos) << menuLine;
    const XWin menu = WaitForWindow(Pid(*program), [](const XWin& w) { return w.mapped && w.type == "POPUP_MENU"; });
    ASSERT_NE(menu.id, 0u);
    // Opened at the cursor (above it and to its left at the screen's
    // bottom-right corner), and the popup stays as it was.
    const int cx = icon.rect.x + icon.rect.width / 2, cy = icon.rect.y + icon.rect.height / 2;
    EXPECT_LE(std::abs(menu.rect.x + menu.rect.width - cx), 2) << menu.rect.x << " " << menu.rect.width;
    EXPECT_LE(std::abs(menu.rect.y + menu.rect.height - cy), 2) << menu.rect.y << " " << menu.rect.height;
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));  // let it paint
    const int left = std::max(0, menu.rect.x - 20), top = std::max(0, menu.rect.y - 20);
    Screenshot("tray-menu", {left, top, 1024 - left, 768 - top});
    EXPECT_TRUE(Popup(Pid(*program)).mapped);

    // The fourth entry after the separator: exit. The icon goes, nothing is
    // saved, and the toolkit had nothing to complain of from start to end.
    Key("Down Down Down Down Return");
    EXPECT_EQ(program->Wait(std::chrono::seconds(30)), 0) << program->Output();
    EXPECT_NE(program->Output().find("tray icon removed"), std::string::npos);
    for (const char* complaint : {"Gtk-", "Gdk-", "GLib-", "CRITICAL", "WARNING"})
        EXPECT_EQ(program->Output().find(complaint), std::string::npos) << program->Output();
    XWin gone;
    EXPECT_FALSE(TrayIcon(Pid(*program), gone));
    EXPECT_FALSE(kivo::test::Exists(InstallDir() + "Configuration.ini"));
}

TEST_F(Desktop, VisitSiteSearchAndAboutFromTheTray) {
    auto program = StartAndWaitForPopup();
    PickTrayEntry(*program, 1);
    ASSERT_TRUE(WaitUntil([&] { return BrowserCalls().size() == 1; })) << program->Output();
    EXPECT_EQ(BrowserCalls()[0], std::vector<std::string>{"http://www.kivo.cn"});

    // Enter in the search box: the Baidu address with the text, handed over
    // as one argument, one valid URL.
    const XWin popup = Popup(Pid(*program));
    ClickAt(popup.rect.x + 43 + 40, popup.rect.y + 180 + 9);
    Xdo({"type", "--delay", "60", "a&b c"});
    Key("Return");
    ASSERT_TRUE(WaitUntil([&] { return BrowserCalls().size() == 2; })) << program->Output();
    EXPECT_EQ(BrowserCalls()[1],
              std::vector<std::string>{"http://www.baidu.com/s?tn=kivo_pg&ct=&lm=-1&kw=&word=a&b%20c"});
    // Chinese text goes as its GBK bytes, percent-encoded.
    Key("ctrl+a BackSpace");
    Xdo({"type", "--delay", "120", "电影"});
    Key("Return");
    ASSERT_TRUE(WaitUntil([&] { return BrowserCalls().size() == 3; })) << program->Output();
    EXPECT_EQ(BrowserCalls()[2],
              std::vector<std::string>{"http://www.baidu.com/s?tn=kivo_pg&ct=&lm=-1&kw=&word=%B5%E7%D3%B0"});

    PickTrayEntry(*program, 3);
    const XWin about = WaitForNamed(*program, "关于Kivo");
    ASSERT_NE(about.id, 0u) << program->Output();
    EXPECT_EQ(about.rect.width, 353);
    EXPECT_EQ(about.rect.height, 123);
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    Screenshot("about", about.rect);
    Key("Return");
    ASSERT_TRUE(WaitForTrace(*program, "dialog 100 closed 1"));
    EXPECT_TRUE(Popup(Pid(*program)).mapped);
}

TEST_F(Desktop, SettingsRoundTripThroughTheSettingsFileAndTheAutostartEntry) {
    auto program = StartAndWaitForPopup();
    PickTrayEntry(*program, 2);
    XWin settings = WaitForNamed(*program, "软件设置");
    ASSERT_NE(settings.id, 0u) << program->Output();
    EXPECT_EQ(settings.rect.width, 264);
    EXPECT_EQ(settings.rect.height, 318);
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    Screenshot("settings", settings.rect);

    // OK with the placeholder: refused with the warning, titled by the
    // program's name.
    Key("Return");
    const XWin warning = WaitForNamed(*program, "kivo");
    ASSERT_NE(warning.id, 0u) << program->Output();
    // Whatever the locale: "确定", and the warning sign (amber) beside the text.
    EXPECT_NE(program->Output().find("message kivo: 无效的EMail! [确定]"), std::string::npos) << program->Output();
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    const Picture box(Screenshot("invalid-email", warning.rect));
    std::size_t amber = 0;
    for (std::size_t i = 0; i + 2 < box.rgb.size(); i += 3)
        if (box.rgb[i] > 170 && box.rgb[i + 1] > 70 && box.rgb[i + 1] < 200 && box.rgb[i + 2] < 90) ++amber;
    EXPECT_GT(amber, 100u) << "no warning sign";
    Key("Return");
    ASSERT_TRUE(WaitForTrace(*program, "message closed"));
    settings = WaitForNamed(*program, "软件设置");

    // Clicking into the box clears the placeholder; type an address and
    // choose the second list.
    ClickAt(settings.rect.x + 10 + 100, settings.rect.y + 214 + 10);
    // A character GBK cannot hold is refused with the same warning.
    Xdo({"type", "--delay", "120", "☃@kivo.cn"});
    Key("Return");
    const std::size_t warnings = program->Output().find("message kivo: 无效的EMail!");
    ASSERT_TRUE(WaitUntil([&] {
        return program->Output().find("message kivo: 无效的EMail!", warnings + 1) != std::string::npos;
    })) << program->Output();
    ASSERT_NE(WaitForNamed(*program, "kivo").id, 0u);
    Key("Return");
    ASSERT_TRUE(WaitUntil([&] {
        const std::string& out = program->Output();
        return out.find("message closed", out.rfind("message kivo")) != std::string::npos;
    }));
    ClickAt(settings.rect.x + 10 + 100, settings.rect.y + 214 + 10);
    Key("ctrl+a BackSpace");
    Xdo({"type", "--delay", "60", "me@kivo.cn"});
    Key("shift+Tab");
    Key("Down");

    // Advanced: switch start at login off.
    ClickAt(settings.rect.x + 160 + 40, settings.rect.y + 246 + 12);
    const XWin system = WaitForNamed(*program, "系统设置");
    ASSERT_NE(system.id, 0u) << program->Output();
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    Screenshot("system-settings", system.rect);
    ClickAt(system.rect.x + 52 + 8, system.rect.y + 151 + 9);     // the start-at-login box
    ClickAt(system.rect.x + 100 + 30, system.rect.y + 256 + 10);  // OK
    ASSERT_TRUE(WaitForTrace(*program, "dialog 132 closed 1")) << program->Output();
    const std::string entry = ReadBytes(Home() + "/config/autostart/kivo.desktop").value_or("");
    EXPECT_NE(entry.find("Exec=\"" + InstallDir() + "kivo\"\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("Hidden=true\n"), std::string::npos) << entry;

    ClickAt(settings.rect.x + 73 + 40, settings.rect.y + 282 + 12);  // OK
    ASSERT_TRUE(WaitForTrace(*program, "dialog 131 closed 1")) << program->Output();

    const auto saved = ReadBytes(InstallDir() + "Configuration.ini");
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->size(), 1016u);
    EXPECT_EQ((*saved)[0], 2);
    EXPECT_EQ(saved->substr(4, 11), std::string("me@kivo.cn\0", 11));
    EXPECT_EQ((*saved)[254], 0);  // start at login off
    EXPECT_EQ((*saved)[258], 1);
    EXPECT_TRUE(WaitUntil([&] { return Server().Emails() == std::vector<std::string>{"me@kivo.cn"}; }));
    // The popup still shows the list it showed.
    EXPECT_EQ(program->Output().find("navigate " + Server().BaseUrl() + "/sml/week.html"), std::string::npos);
}

TEST_F(Desktop, ASaveIntoAReadOnlyFolderSaysSoAndTheDialogKeepsItsValues) {
    // The settings file's folder (the install folder) read-only for the
    // program: without the capabilities that let root write anywhere.
    m_launcher = {"setpriv", "--bounding-set=-dac_override,-dac_read_search"};
    std::string before(1016, '\0');
    before[0] = 3;
    kivo::test::WriteBytes(Dir() + "Configuration.ini", before);
    auto program = StartAndWaitForPopup();
    ASSERT_EQ(::chmod(InstallDir().c_str(), 0555), 0);
    PickTrayEntry(*program, 2);
    XWin settings = WaitForNamed(*program, "软件设置");
    ASSERT_NE(settings.id, 0u) << program->Output();
    ClickAt(settings.rect.x + 10 + 100, settings.rect.y + 214 + 10);
    Xdo({"type", "--delay", "60", "me@kivo.cn"});
    Key("Return");
    const XWin message = WaitForNamed(*program, "kivo");
    ASSERT_NE(message.id, 0u) << program->Output();
    EXPECT_NE(program->Output().find("message kivo: 设置没有保存：设置文件夹不允许写入（只读或没有权限）。 [确定]"),
              std::string::npos)
        << program->Output();
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    Screenshot("settings-not-saved", message.rect);
    Key("Return");
    ASSERT_TRUE(WaitForTrace(*program, "message closed")) << program->Output();
    EXPECT_EQ(ReadBytes(InstallDir() + "Configuration.ini"), before);

    // The dialog is still there with what was typed: once the folder can be
    // written, OK saves it.
    settings = WaitForNamed(*program, "软件设置");
    ASSERT_NE(settings.id, 0u);
    EXPECT_EQ(program->Output().find("dialog 131 closed"), std::string::npos) << program->Output();
    ASSERT_EQ(::chmod(InstallDir().c_str(), 0755), 0);
    ClickAt(settings.rect.x + 73 + 40, settings.rect.y + 282 + 12);  // OK
    ASSERT_TRUE(WaitForTrace(*program, "dialog 131 closed 1")) << program->Output();
    const auto saved = ReadBytes(InstallDir() + "Configuration.ini");
    ASSERT_TRUE(saved);
    EXPECT_EQ((*saved)[0], 3);
    EXPECT_EQ(saved->substr(4, 11), std::string("me@kivo.cn\0", 11));
}

namespace {

// A desktop with neither an XEmbed tray nor a StatusNotifier host (no session
// bus either): later starts, the app menu's actions and the skin's right
// button are the ways back to the popup.
class NoTray : public Desktop {
protected:
    NoTray() { m_bTray = false; }
};

// Whether the last glyph of the closed chooser's text is a whole one rather
// than an ellipsis: the column runs of dark pixels, the arrow last; the glyph
// before it stands taller than the dots of an ellipsis.
bool ChooserTextIsWhole(const Picture& chooser) {
    std::vector<std::pair<int, int>> runs;  // each run's height: top and bottom row
    bool inRun = false;
    for (int x = 2; x < chooser.width - 2; ++x) {
        int top = chooser.height, bottom = -1;
        for (int y = 2; y < chooser.height - 2; ++y)
            if (chooser.rgb[3 * (y * chooser.width + x)] < 170) top = std::min(top, y), bottom = std::max(bottom, y);
        if (bottom >= 0 && !inRun)
            runs.emplace_back(top, bottom);
        else if (bottom >= 0)
            runs.back() = {std::min(runs.back().first, top), std::max(runs.back().second, bottom)};
        inRun = bottom >= 0;
    }
    return runs.size() >= 2 && runs[runs.size() - 2].second - runs[runs.size() - 2].first >= 5;
}

}  // namespace

TEST_F(NoTray, LaterStartsDesktopActionsAndTheSkinMenuReachThePopup) {
    // A desktop action with no copy running starts one, which then carries it out.
    auto program = StartKivo("", {"--about"});
    ASSERT_TRUE(WaitForTrace(*program, "tray kind status-icon, no tray seen")) << program->Output();
    ASSERT_NE(WaitForNamed(*program, "关于Kivo").id, 0u) << program->Output();
    Key("Return");
    ASSERT_TRUE(WaitForTrace(*program, "dialog 100 closed 1")) << program->Output();
    ASSERT_TRUE(WaitForTrace(*program, "placed 835 10")) << program->Output();
    XWin popup =
        WaitForWindow(Pid(*program), [](const XWin& w) { return w.mapped && w.rect.x == 835 && w.rect.y == 10; });
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    Screenshot("popup-no-tray", popup.rect);
    // The chooser's longest entries (four characters and "Top8") fit its box.
    EXPECT_TRUE(ChooserTextIsWhole(Picture(Screenshot("chooser", {popup.rect.x + 61, popup.rect.y + 156, 94, 18}))));

    // Hidden with its button, the popup comes back when Kivo is started
    // again; that start ends at once, opening and writing nothing.
    ClickAt(popup.rect.x + 141 + 8, popup.rect.y + 4 + 8);
    ASSERT_TRUE(WaitUntil([&] { return !Popup(Pid(*program)).mapped; })) << program->Output();
    auto second = StartKivo();
    EXPECT_EQ(second->Wait(std::chrono::seconds(30)), 0);
    EXPECT_TRUE(second->Output().empty()) << second->Output();
    EXPECT_TRUE(WaitForTrace(*program, "window raised")) << program->Output();
    EXPECT_TRUE(WaitUntil([&] { return Popup(Pid(*program)).mapped; }));

    // The app menu's "软件设置" reaches the running copy.
    EXPECT_EQ(StartKivo("", {"--settings"})->Wait(std::chrono::seconds(30)), 0);
    ASSERT_NE(WaitForNamed(*program, "软件设置").id, 0u) << program->Output();
    Key("Escape");
    ASSERT_TRUE(WaitForTrace(*program, "dialog 131 closed 2")) << program->Output();

    // The right button opens nothing on the page, and the menu on the skin,
    // at the cursor.
    popup = Popup(Pid(*program));
    ClickAt(popup.rect.x + 80, popup.rect.y + 100, 3);
    WaitUntil([] { return false; }, std::chrono::milliseconds(800));
    EXPECT_EQ(program->Output().find("] menu "), std::string::npos);
    ClickAt(popup.rect.x + 20, popup.rect.y + 165, 3);
    ASSERT_TRUE(WaitForTrace(*program, "] menu ")) << program->Output();
    EXPECT_NE(program->Output().find(" 访问网站|软件设置|关于Kivo|-|退出程序\n"), std::string::npos)
        << program->Output();
    const XWin menu = WaitForWindow(Pid(*program), [](const XWin& w) { return w.mapped && w.type == "POPUP_MENU"; });
    ASSERT_NE(menu.id, 0u);
    EXPECT_LE(std::abs(menu.rect.x - (popup.rect.x + 20)), 2) << menu.rect.x;
    EXPECT_LE(std::abs(menu.rect.y - (popup.rect.y + 165)), 2) << menu.rect.y;
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    Screenshot("skin-menu", {menu.rect.x - 20, menu.rect.y - 20, menu.rect.width + 40, menu.rect.height + 40});
    Key("Down Down Down Down Return");
    EXPECT_EQ(program->Wait(std::chrono::seconds(30)), 0) << program->Output();
    EXPECT_FALSE(kivo::test::Exists(InstallDir() + "Configuration.ini"));
}

TEST_F(NoTray, TheImageButtonsAreTabStopsThatSpacePresses) {
    auto program = StartKivo();
    ASSERT_TRUE(WaitForTrace(*program, "placed 835 10")) << program->Output();
    const XWin popup = WaitForWindow(Pid(*program), [](const XWin& w) { return w.mapped && w.rect.x == 835; });
    // From the search box: the site button, then the hide button; each
    // shows its name as a tooltip.
    Xdo({"mousemove", std::to_string(popup.rect.x + 141 + 8), std::to_string(popup.rect.y + 4 + 8)});
    Xdo({"mousemove_relative", "--", "1", "1"});
    EXPECT_NE(WaitForWindow(Pid(*program), [](const XWin& w) { return w.mapped && w.type == "TOOLTIP"; }).id, 0u);
    ClickAt(popup.rect.x + 43 + 40, popup.rect.y + 180 + 9);
    Key("Tab space");
    ASSERT_TRUE(WaitUntil([&] { return BrowserCalls().size() == 1; })) << program->Output();
    EXPECT_EQ(BrowserCalls()[0], std::vector<std::string>{"http://www.kivo.cn"});
    Key("Tab space");
    ASSERT_TRUE(WaitForTrace(*program, "clicked 1012")) << program->Output();
    EXPECT_TRUE(WaitUntil([&] { return !Popup(Pid(*program)).mapped; }));
}

TEST_P(EachView, CachedCopyIsShownAfterARefreshFromAFolderWithAwkwardCharacters) {
    const std::string dir = Dir() + "my apps #1 100%/";
    ::mkdir(dir.c_str(), 0700);
    auto program = StartAndWaitForPopup(dir);
    ASSERT_TRUE(WaitForTrace(*program, "page loaded " + Server().BaseUrl() + "/sml/today.html"));

    // A refresh fills the cache folder beside the program.
    const std::string headless = kivo::test::InstallHeadless(dir.substr(0, dir.size() - 1));
    kivo::test::TempDir otherRuntime;
    Process refresh(headless, {"--once"},
                    {"XDG_RUNTIME_DIR=" + otherRuntime.Path(), "KIVO_SERVER=" + Server().HostPort()});
    ASSERT_EQ(refresh.Wait(std::chrono::seconds(60)), 0) << refresh.Output();
    ASSERT_TRUE(kivo::test::Exists(dir + "prg/week.html"));

    // The next list comes from the cache, as a proper file URI.
    const XWin popup = Popup(Pid(*program));
    Xdo({"mousemove", std::to_string(popup.rect.x + 61 + 30), std::to_string(popup.rect.y + 156 + 9)});
    Xdo({"click", "5"});
    ASSERT_TRUE(WaitForTrace(*program, "navigate file://" + dir + "prg/week.html")) << program->Output();
    ASSERT_TRUE(WaitForTrace(*program, "page loaded file://")) << program->Output();
    EXPECT_NE(program->Output().find("%20%231%20100%25/prg/week.html"), std::string::npos) << program->Output();
    EXPECT_TRUE(WaitForTrace(*program, "page title 一周热点Top8")) << program->Output();
    WaitUntil([] { return false; }, std::chrono::milliseconds(500));
    Screenshot("popup-cached-list-" + GetParam(), {popup.rect.x, popup.rect.y, popup.rect.width, popup.rect.height});
}

TEST_F(Desktop, DraggedByItsImagesButNotByItsButtons) {
    auto program = StartAndWaitForPopup();
    XWin popup = Popup(Pid(*program));
    // A press on the search button runs its command and drags nothing.
    Xdo({"mousemove", std::to_string(popup.rect.x + 150), std::to_string(popup.rect.y + 189)});
    Xdo({"mousedown", "1"});
    Xdo({"mousemove_relative", "--", "-60", "80"});
    Xdo({"mouseup", "1"});
    ASSERT_TRUE(WaitUntil([&] { return BrowserCalls().size() == 1; })) << program->Output();
    popup = Popup(Pid(*program));
    EXPECT_EQ(popup.rect.x, 835);
    EXPECT_EQ(popup.rect.y, 10);
    // A press on the caption image beside the chooser moves the window.
    Xdo({"mousemove", std::to_string(popup.rect.x + 20), std::to_string(popup.rect.y + 165)});
    Xdo({"mousedown", "1"});
    for (int i = 1; i <= 6; ++i)
        Xdo({"mousemove", std::to_string(popup.rect.x + 20 - 50 * i), std::to_string(popup.rect.y + 165 + 30 * i)});
    Xdo({"mouseup", "1"});
    EXPECT_TRUE(WaitUntil([&] {
        const XWin moved = Popup(Pid(*program));
        return moved.rect.x == 835 - 300 && moved.rect.y == 10 + 180;
    })) << Popup(Pid(*program)).rect.x
        << "," << Popup(Pid(*program)).rect.y;
}

TEST_F(Desktop, CloseRequestEndsTheRunWithoutSaving) {
    auto program = StartAndWaitForPopup();
    SendCloseRequest(Popup(Pid(*program)).id);
    EXPECT_EQ(program->Wait(std::chrono::seconds(30)), 0) << program->Output();
    EXPECT_NE(program->Output().find("close request"), std::string::npos);
    EXPECT_NE(program->Output().find("tray icon removed"), std::string::npos);
    EXPECT_FALSE(kivo::test::Exists(InstallDir() + "Configuration.ini"));
}

TEST_F(Desktop, UpdateNoticeLeavesThePopupUsableAndHandsOverWhenClosed) {
    const std::string served = Dir() + "served-updater";
    kivo::test::WriteBytes(served, "#!/bin/sh\necho ran > \"$(dirname \"$0\")/updater-ran\"\n");
    Server().SetUpdateFile(served);
    Server().SetVersion(1001);
    auto program = StartAndWaitForPopup();
    // Five seconds after start the check finds the new version.
    const XWin notice = WaitForNamed(*program, "更新提示");
    ASSERT_NE(notice.id, 0u) << program->Output();
    EXPECT_NE(program->Output().find("notice 更新提示: Kivo有新的版本，按确定进行更新！"), std::string::npos);
    WaitUntil([] { return false; }, std::chrono::milliseconds(300));
    Screenshot("update-notice", notice.rect);
    // The popup works beside the notice: the hide button hides it.
    const XWin popup = Popup(Pid(*program));
    ClickAt(popup.rect.x + 141 + 8, popup.rect.y + 4 + 8);
    EXPECT_TRUE(WaitForTrace(*program, "window hidden"));
    EXPECT_FALSE(kivo::test::Exists(InstallDir() + "updater-ran"));
    Xdo({"windowfocus", std::to_string(notice.id)});
    Key("Return");
    EXPECT_EQ(program->Wait(std::chrono::seconds(30)), 0) << program->Output();
    EXPECT_TRUE(WaitUntil([&] { return kivo::test::Exists(InstallDir() + "updater-ran"); }));
    const auto saved = ReadBytes(InstallDir() + "Configuration.ini");
    ASSERT_TRUE(saved);
    EXPECT_EQ((*saved)[262], 0);  // nothing pending any more
}

TEST_P(EachView, OpenChooserIgnoresEscapeAndEnterAndThePageHasNoContextMenu) {
    auto program = StartAndWaitForPopup();
    ASSERT_TRUE(WaitForTrace(*program, "page loaded "));
    const XWin popup = Popup(Pid(*program));
    auto isMenu = [](const XWin& w) {
        return w.mapped && w.overrideRedirect && (w.type == "POPUP_MENU" || w.type == "COMBO");
    };
    // A right click in the page opens nothing.
    ClickAt(popup.rect.x + 80, popup.rect.y + 100, 3);
    WaitUntil([] { return false; }, std::chrono::milliseconds(800));
    XWin menu;
    EXPECT_FALSE(FindWindow(Pid(*program), isMenu, menu));

    // The chooser's list stays open through Escape and Enter.
    ClickAt(popup.rect.x + 61 + 30, popup.rect.y + 156 + 9);
    menu = WaitForWindow(Pid(*program), isMenu);
    ASSERT_NE(menu.id, 0u) << program->Output();
    const std::size_t before = program->Output().size();
    Key("Down Return");
    Key("Escape");
    WaitUntil([] { return false; }, std::chrono::milliseconds(800));
    EXPECT_TRUE(FindWindow(Pid(*program), isMenu, menu));
    EXPECT_EQ(program->Output().find("navigate", before), std::string::npos) << program->Output();
    Screenshot("chooser-open-" + GetParam(), {popup.rect.x - 40, 0, 260, 500});
    EXPECT_TRUE(Popup(Pid(*program)).mapped);
}

TEST_F(Desktop, PendingInstallerIsStartedAndNothingIsShown) {
    std::string record(1016, '\0');
    record[0] = 1;
    record[254] = 1;
    record[258] = 1;
    record[262] = 1;  // an installer waits
    kivo::test::WriteBytes(Dir() + "Configuration.ini", record);
    kivo::test::WriteBytes(Dir() + "update.exe", "#!/bin/sh\necho ran > \"$(dirname \"$0\")/updater-ran\"\n");
    auto program = StartKivo();
    const long pid = Pid(*program);
    EXPECT_EQ(program->Wait(std::chrono::seconds(30)), 0) << program->Output();
    EXPECT_TRUE(WaitUntil([&] { return kivo::test::Exists(Dir() + "updater-ran"); }));
    EXPECT_EQ(program->Output().find("window mapped"), std::string::npos) << program->Output();
    EXPECT_EQ(program->Output().find("tray icon added"), std::string::npos);
    EXPECT_EQ(program->Output().find("navigate"), std::string::npos);
    EXPECT_TRUE(Windows(pid).empty());
    EXPECT_TRUE(Server().Requests().empty());
    EXPECT_EQ(ReadBytes(Dir() + "Configuration.ini")->at(262), 0);
}

namespace {

struct VariantUnref {
    void operator()(GVariant* value) const { g_variant_unref(value); }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;

std::string StringIn(GVariant* dict, const char* key) {
    const gchar* value = nullptr;
    return dict != nullptr && g_variant_lookup(dict, key, "&s", &value) ? value : "";
}

// A desktop without an XEmbed tray whose session bus, a private one, has a
// StatusNotifier watcher (the test's stand-in, which reports the items that
// register with it).
class IndicatorTray : public kivo::test::DesktopTest {
protected:
    IndicatorTray() { m_bTray = false; }

    void SetUp() override {
        DesktopTest::SetUp();
        StartSessionBus();
        if (HasFatalFailure()) return;
        m_watcher = std::make_unique<Process>(KIVO_SNI_WATCHER_EXE, std::vector<std::string>{},
                                              std::vector<std::string>{"DBUS_SESSION_BUS_ADDRESS=" + m_sessionBus});
        ASSERT_TRUE(m_watcher->WaitForOutput("watching\n")) << m_watcher->Output();
        GError* error = nullptr;
        m_client = g_dbus_connection_new_for_address_sync(
            m_sessionBus.c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, nullptr, &error);
        ASSERT_NE(m_client, nullptr) << (error != nullptr ? error->message : "");
    }

    void TearDown() override {
        if (m_client != nullptr) {
            g_dbus_connection_close_sync(m_client, nullptr, nullptr);
            g_object_unref(m_client);
        }
        m_watcher.reset();
        DesktopTest::TearDown();
    }

    // A method call on the bus; null, with the error's text, when it failed.
    Variant Call(const std::string& name, const std::string& path, const char* interface, const char* method,
                 GVariant* args, std::string* failure = nullptr) {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_sync(m_client, name.c_str(), path.c_str(), interface, method, args,
                                                      nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, 20000, nullptr, &error);
        if (error != nullptr) {
            if (failure != nullptr) *failure = error->message;
            g_error_free(error);
        }
        return Variant(reply);
    }

    bool PopupInPlace(Process& program) {
        const XWin popup = Popup(Pid(program));
        return popup.mapped && popup.rect.x == 835 && popup.rect.y == 10;
    }

    std::unique_ptr<Process> m_watcher;
    GDBusConnection* m_client = nullptr;
};

}  // namespace

TEST_F(IndicatorTray, StatusNotifierItemWithTheIconTheMenuAndTheMiddleClick) {
#ifndef KIVO_HAVE_APPINDICATOR
    GTEST_SKIP() << "kivo is built without Ayatana AppIndicator";
#endif
    auto program = StartKivo();
    ASSERT_TRUE(WaitForTrace(*program, "tray kind indicator")) << program->Output();
    ASSERT_TRUE(WaitForTrace(*program, "tray indicator connected")) << program->Output();
    EXPECT_NE(program->Output().find("tray indicator added, title Kivo"), std::string::npos);
    EXPECT_EQ(program->Output().find("tray icon added"), std::string::npos);
    EXPECT_TRUE(WaitUntil([&] { return PopupInPlace(*program); })) << program->Output();

    // The item registered with the watcher is the program's.
    ASSERT_TRUE(m_watcher->WaitForOutput("registered ")) << m_watcher->Output();
    std::istringstream registered(m_watcher->Output().substr(m_watcher->Output().find("registered ")));
    std::string word, name, path;
    registered >> word >> name >> path;
    Variant pid = Call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                       "GetConnectionUnixProcessID", g_variant_new("(s)", name.c_str()));
    ASSERT_TRUE(pid);
    guint32 owner = 0;
    g_variant_get(pid.get(), "(u)", &owner);
    EXPECT_EQ(static_cast<long>(owner), Pid(*program));

    // Its properties: name, title, status and the program's icon as a file
    // in a folder of the program's own.
    std::string failure;
    Variant all = Call(name, path, "org.freedesktop.DBus.Properties", "GetAll",
                       g_variant_new("(s)", "org.kde.StatusNotifierItem"), &failure);
    ASSERT_TRUE(all) << failure;
    Variant properties(g_variant_get_child_value(all.get(), 0));
    EXPECT_EQ(StringIn(properties.get(), "Id"), "kivo");
    EXPECT_EQ(StringIn(properties.get(), "Title"), "Kivo");
    EXPECT_EQ(StringIn(properties.get(), "Category"), "ApplicationStatus");
    EXPECT_EQ(StringIn(properties.get(), "Status"), "Active");
    EXPECT_EQ(StringIn(properties.get(), "IconName"), "kivo");
    const std::string iconDir = StringIn(properties.get(), "IconThemePath");
    struct stat folder {};
    ASSERT_EQ(::stat(iconDir.c_str(), &folder), 0) << iconDir;
    EXPECT_EQ(folder.st_mode & 0777, 0700u);
    const auto icon = ReadBytes(iconDir + "/kivo.png");
    ASSERT_TRUE(icon) << iconDir;
    EXPECT_EQ(*icon, ReadBytes(KIVO_ICON_FILE).value_or("")) << "not the program's icon";

    // Its menu: the tray menu's entries in their order.
    const gchar* menuPath = nullptr;
    ASSERT_TRUE(g_variant_lookup(properties.get(), "Menu", "&o", &menuPath));
    const std::string menu = menuPath;
    Variant layout = Call(name, menu, "com.canonical.dbusmenu", "GetLayout",
                          g_variant_new("(ii@as)", 0, -1, g_variant_new_strv(nullptr, 0)), &failure);
    ASSERT_TRUE(layout) << failure;
    Variant root(g_variant_get_child_value(layout.get(), 1));
    Variant children(g_variant_get_child_value(root.get(), 2));
    std::string entries;
    gint32 exitId = -1;
    for (gsize i = 0; i < g_variant_n_children(children.get()); ++i) {
        Variant boxed(g_variant_get_child_value(children.get(), i));
        Variant entry(g_variant_get_variant(boxed.get()));
        Variant id(g_variant_get_child_value(entry.get(), 0));
        Variant props(g_variant_get_child_value(entry.get(), 1));
        gboolean visible = TRUE;
        g_variant_lookup(props.get(), "visible", "b", &visible);
        const std::string label = StringIn(props.get(), "type") == "separator" ? "-" : StringIn(props.get(), "label");
        if (label == "退出程序") exitId = g_variant_get_int32(id.get());
        entries += (entries.empty() ? "" : "|") + label + (visible ? "" : "(hidden)");
    }
    EXPECT_EQ(entries, "访问网站|软件设置|关于Kivo|-|退出程序");

    // A middle click on the item brings the hidden popup back in its place.
    const XWin popup = Popup(Pid(*program));
    ClickAt(popup.rect.x + 141 + 8, popup.rect.y + 4 + 8);
    ASSERT_TRUE(WaitForTrace(*program, "window hidden"));
    EXPECT_TRUE(WaitUntil([&] { return !Popup(Pid(*program)).mapped; }));
    ASSERT_TRUE(
        Call(name, path, "org.kde.StatusNotifierItem", "SecondaryActivate", g_variant_new("(ii)", 0, 0), &failure))
        << failure;
    ASSERT_TRUE(WaitForTrace(*program, "window raised")) << program->Output();
    EXPECT_TRUE(WaitUntil([&] { return PopupInPlace(*program); }));

    // The menu's last entry ends the program; the item and its icon go.
    ASSERT_NE(exitId, -1);
    const bool bAnswered =
        Call(name, menu, "com.canonical.dbusmenu", "Event",
             g_variant_new("(isvu)", exitId, "clicked", g_variant_new_int32(0), 0u), &failure) != nullptr;
    EXPECT_EQ(program->Wait(std::chrono::seconds(30)), 0) << program->Output();
    EXPECT_TRUE(bAnswered) << failure << "\n" << program->Output();
    EXPECT_NE(program->Output().find("tray indicator removed"), std::string::npos) << program->Output();
    EXPECT_FALSE(kivo::test::Exists(iconDir));
    EXPECT_FALSE(kivo::test::Exists(InstallDir() + "Configuration.ini"));
}

TEST_P(EachView, TheSkinShowsWholeBeforeThePageArrives) {
    Server().SetStall("/sml/today.html", 3000);
    auto program = StartKivo();
    ASSERT_TRUE(WaitForTrace(*program, "placed ")) << program->Output();
    const XWin popup = WaitForWindow(Pid(*program), [&](const XWin& w) { return w.mapped && w.rect.x == 835; });
    WaitUntil([] { return false; }, std::chrono::milliseconds(500));
    const Picture shot(Screenshot("skin-first-" + GetParam(), popup.rect));
    ASSERT_EQ(program->Output().find("page loaded"), std::string::npos) << "the page came before the check";
    // Header banner and bottom bar are there; the page area waits dark,
    // not white.
    EXPECT_FALSE(shot.Is(20, 10, 0x1A1F22, 24)) << "no header";
    EXPECT_FALSE(shot.Is(20, 210, 0x1A1F22, 24)) << "no bottom bar";
    EXPECT_TRUE(shot.Is(80, 100, 0x111418, 12)) << "the page area is not dark";
    EXPECT_TRUE(WaitForTrace(*program, "page loaded " + Server().BaseUrl() + "/sml/today.html")) << program->Output();
    const std::string& out = program->Output();
    EXPECT_LT(out.find("window mapped"), out.find("page loaded"));
}

TEST_P(EachView, UnreachableServerGivesTheProgramsOwnPageUntilTheServerAnswers) {
    UseClosedPort();
    const std::string address = std::getenv("KIVO_SERVER");
    m_env = {"KIVO_SERVER=" + address, "KIVO_PAGE_RETRY_SECONDS=2"};
    auto program = StartKivo();
    const std::string page = "http://" + address + "/sml/today.html";
    ASSERT_TRUE(WaitForTrace(*program, "page stand-in for " + page)) << program->Output();
    ASSERT_TRUE(WaitForTrace(*program, "placed 835 10")) << program->Output();
    const XWin popup = WaitForWindow(Pid(*program), [](const XWin& w) { return w.mapped && w.rect.x == 835; });
    WaitUntil([] { return false; }, std::chrono::milliseconds(500));
    // The skin's colours, its red lettering, and not a white pixel.
    const Picture shot(Screenshot("page-unreachable-" + GetParam(), PageArea(popup)));
    std::size_t red = 0, white = 0;
    for (std::size_t i = 0; i + 2 < shot.rgb.size(); i += 3) {
        if (shot.rgb[i] > 170 && shot.rgb[i + 1] < 110 && shot.rgb[i + 2] < 110) ++red;
        if (shot.rgb[i] > 235 && shot.rgb[i + 1] > 235 && shot.rgb[i + 2] > 235) ++white;
    }
    EXPECT_TRUE(shot.Is(10, 10, 0x111418, 8));
    EXPECT_GT(red, 50u) << "no heading";
    EXPECT_EQ(white, 0u);

    // The server comes up at that address: its page follows at a next try.
    Process relay("socat",
                  {"TCP-LISTEN:" + address.substr(address.find(':') + 1) + ",bind=127.0.0.1,reuseaddr,fork",
                   "TCP:" + Server().HostPort()},
                  {}, kivo::test::ProcessOptions{Dir() + "relay.log", true});
    EXPECT_TRUE(WaitForTrace(*program, "page loaded " + page)) << program->Output();
    EXPECT_NE(program->Output().find("page retry " + page), std::string::npos);
    EXPECT_TRUE(WaitForTrace(*program, "page title 上升最快Top8")) << program->Output();
}

TEST_P(EachView, AClickOnAnEntryOpensItsSearchInTheBrowserAndTheListStays) {
    // An entry as the content server links it: the search for its words, GBK
    // bytes as they are, in a new window.
    const std::string search = "http://www.baidu.com/s?tn=kivo_pg&ct=&lm=-1&kw=&word=\xB5\xE7\xD3\xB0";
    ::mkdir((Dir() + "prg").c_str(), 0700);
    kivo::test::WriteBytes(Dir() + "prg/today.html",
                           "<html><head><meta charset=gbk><title>list</title></head>"
                           "<body style=\"margin:0;background:#111418\"><a href=\"" +
                               search +
                               "\" target=\"_blank\" style=\"display:block;height:40px;color:#fff\">"
                               "\xB5\xE7\xD3\xB0</a></body></html>");
    auto program = StartAndWaitForPopup();
    ASSERT_TRUE(WaitForTrace(*program, "page loaded file://")) << program->Output();
    const XRect area = PageArea(Popup(Pid(*program)));
    WaitUntil([] { return false; }, std::chrono::milliseconds(500));
    const Picture before(Screenshot("entry-before-" + GetParam(), area));
    ClickAt(area.x + 30, area.y + 20);
    ASSERT_TRUE(WaitUntil([&] { return BrowserCalls().size() == 1; })) << program->Output();
    EXPECT_EQ(BrowserCalls()[0], std::vector<std::string>{kivo::platform::BrowserUrl(search)});
    Xdo({"mousemove", "10", "10"});
    WaitUntil([] { return false; }, std::chrono::milliseconds(800));
    EXPECT_LT(DifferingShare(before, Picture(Screenshot("entry-after-" + GetParam(), area))), 0.01);
    EXPECT_EQ(CountOf(program->Output(), "] navigate "), 1u) << program->Output();
}

namespace {

// weston (headless, with XWayland), as a Wayland session has it: the program
// takes XWayland by itself, stands in the top-right corner and keeps its shape.
class Weston : public Desktop {
protected:
    Weston() {
        m_bTray = false;
        m_bWeston = true;
    }
};

}  // namespace

TEST_F(Weston, ThePopupStandsInTheTopRightCornerInItsShape) {
    m_program = KIVO_LITE_EXE;
    auto program = StartKivo();
    ASSERT_TRUE(WaitForTrace(*program, "placed 835 10 179 221")) << program->Output();
    ASSERT_TRUE(WaitForTrace(*program, "page loaded " + Server().BaseUrl())) << program->Output();
    WaitUntil([] { return false; }, std::chrono::milliseconds(800));
    // The screen as weston shows it, from x 764: the popup from x 71 on.
    const Picture screen(Screenshot("weston-popup", {764, 0, 260, 260}));
    const auto desktop = [&](int x, int y) {
        const unsigned char* p = &screen.rgb[3 * (y * screen.width + x)];
        return p[2] >= 2 * p[0] + 10 && p[2] < 200;  // weston's blue (0x204060), maybe shaded
    };
    ASSERT_EQ(screen.width, 260);
    EXPECT_TRUE(desktop(71 - 5, 100)) << "left of the popup";
    EXPECT_TRUE(desktop(71 + 1, 10 + 1)) << "the rounded corner";
    EXPECT_FALSE(desktop(71 + 20, 10 + 8)) << "the header";
    EXPECT_FALSE(desktop(71 + 1, 10 + 219)) << "the square corner";
    EXPECT_FALSE(desktop(71 + 160, 10 + 100)) << "the right edge";
    EXPECT_TRUE(desktop(71 + 170, 10 + 100)) << "the strip cut away";
    EXPECT_TRUE(desktop(71 + 177, 10 + 219)) << "the strip cut away";
    for (const char* complaint : {"Gtk-", "Gdk-", "CRITICAL", "WARNING"})
        EXPECT_EQ(program->Output().find(complaint), std::string::npos) << program->Output();
}

namespace {

// Takes the popup of `view` through the fourteen lists of the server, then
// back through the cases that go wrong, and saves the page area after each.
class Fidelity : public Desktop {
protected:
    std::string ServerPage(const std::string& name) {
        auto answer = Server().MakeClient()->Get("/sml/" + name);
        return answer ? answer->body : std::string();
    }
    // The screenshots' paths, in the order shown.
    std::vector<std::string> ShootEveryPage(const std::string& view) {
        m_program = ViewProgram(view);
        const std::string dir = Dir() + view + "/";
        ::mkdir(dir.c_str(), 0700);
        Server().ClearFaults();
        auto program = StartAndWaitForPopup(dir);
        const XRect page = PageArea(Popup(Pid(*program)));
        std::vector<std::string> shots;
        Xdo({"mousemove", std::to_string(page.x + 57 + 30), std::to_string(page.y + 135 + 9)});
        // Down through the fourteen lists, then up to the first again.
        for (int i = 0; i < 27; ++i) {
            if (i > 0) Xdo({"click", i < 14 ? "5" : "4"});
            EXPECT_TRUE(WaitUntil([&] {
                return CountOf(program->Output(), "] page loaded ") > static_cast<std::size_t>(i);
            })) << i
                << "\n"
                << program->Output();
            if (i == 13) BreakTheFirstLists(dir);
            if (i > 13 && i < 23) continue;
            WaitUntil([] { return false; }, std::chrono::milliseconds(300));
            shots.push_back(Screenshot("page-" + view + "-" + std::to_string(shots.size()), page));
        }
        return shots;
    }

private:
    // On the way back: a transfer that breaks off (list 4), a page cut short
    // (3), an unknown charset (2) and a missing background picture (1), the
    // last three from the cache folder.
    void BreakTheFirstLists(const std::string& dir) {
        Server().SetCut("/sml/movie.html", 200);
        ::mkdir((dir + "prg").c_str(), 0700);
        const std::string hot = ServerPage("hot.html");
        kivo::test::WriteBytes(dir + "prg/hot.html", hot.substr(0, hot.size() * 2 / 3));
        std::string week = ServerPage("week.html");
        week.replace(week.find("charset=gbk"), 11, "charset=x-kivo");
        kivo::test::WriteBytes(dir + "prg/week.html", week);
        kivo::test::WriteBytes(dir + "prg/today.html", ServerPage("today.html"));
    }
};

}  // namespace

TEST_F(Fidelity, TheLightViewShowsEveryPageAsWebKitDoes) {
#ifndef KIVO_WEBKIT_EXE
    GTEST_SKIP() << "no WebKitGTK program to compare with";
#endif
    const auto lite = ShootEveryPage("lite");
    const auto webkit = ShootEveryPage("webkit");
    ASSERT_EQ(lite.size(), webkit.size());
    for (std::size_t i = 0; i < lite.size(); ++i) {
        // Glyph rendering and sub-pixel placement differ between the
        // engines: at most 5 % of the pixels may differ markedly.
        const double share = DifferingShare(Picture(lite[i]), Picture(webkit[i]));
        EXPECT_LT(share, 0.05) << lite[i] << " and " << webkit[i];
        std::printf("page %zu: %.2f %% of the pixels differ\n", i, 100 * share);
    }
}

TEST_F(Desktop, BadPagesGiveWhatTheLightViewCanShowAndNeverStopIt) {
    m_program = KIVO_LITE_EXE;
    const std::string prg = Dir() + "prg/";
    ::mkdir(prg.c_str(), 0700);
    const std::string head = "<html><head><meta charset=gbk><title>";
    // 1: tags left open, crossed and cut off.
    kivo::test::WriteBytes(prg + "today.html",
                           head + "bad</title><body><ol><li><b>a<i>b</b>c<li><table><td colspan=99999>d<tr><td");
    // 2: ten MiB of entries.
    std::string big = head + "big</title><body><ol>";
    while (big.size() < (10u << 20)) big += "<li class=x title=t>entry <b>bold</b></li>\n";
    kivo::test::WriteBytes(prg + "week.html", big);
    // 3: pictures that are missing or are no pictures.
    kivo::test::WriteBytes(prg + "notgif.gif", "<html>not a picture</html>");
    kivo::test::WriteBytes(
        prg + "hot.html",
        head + "pictures</title><body style=\"background:url(missing.gif)\"><img src=notgif.gif><img src=missing.png>");
    // 4: a charset nobody knows: read as GBK.
    kivo::test::WriteBytes(prg + "movie.html", "<html><head><meta charset=x-unknown><title>\xB5\xE7\xD3\xB0</title>");
    // 5: a picture for a page.
    kivo::test::WriteBytes(prg + "teleplay.html",
                           std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00", 13) + std::string(40, '\0'));
    // 6: elements nested a hundred thousand deep.
    std::string deep = head + "deep</title><body>";
    for (int i = 0; i < 100000; ++i) deep += "<div>";
    kivo::test::WriteBytes(prg + "game.html", deep + "bottom");
    auto program = StartAndWaitForPopup();
    const XWin popup = Popup(Pid(*program));
    Xdo({"mousemove", std::to_string(popup.rect.x + 61 + 30), std::to_string(popup.rect.y + 156 + 9)});
    for (int i = 1; i <= 6; ++i) {
        if (i > 1) Xdo({"click", "5"});
        EXPECT_TRUE(WaitUntil([&] {
            return CountOf(program->Output(), "] page loaded ") >= static_cast<std::size_t>(i);
        })) << i
            << "\n"
            << program->Output();
        WaitUntil([] { return false; }, std::chrono::milliseconds(200));
        Screenshot("bad-page-" + std::to_string(i), PageArea(popup));
    }
    const std::string& out = program->Output();
    EXPECT_NE(out.find("page title 电影"), std::string::npos) << out;
    EXPECT_NE(out.find("page failed file://" + prg + "teleplay.html not a page"), std::string::npos) << out;
    EXPECT_NE(out.find("page title deep"), std::string::npos) << out;
    EXPECT_TRUE(Popup(Pid(*program)).mapped);
    EXPECT_EQ(program->Wait(std::chrono::milliseconds(100)), -1) << "the program ended";
}
