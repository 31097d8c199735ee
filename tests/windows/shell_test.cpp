// kivo.exe itself under Wine, on the X desktop scripts/test-windows.sh
// provides (KIVO_TEST_DESKTOP=1: Xvfb with the trayer tray, the template
// font mapped to a Song face with SimSun's metrics, code page 936, a
// stand-in for Internet Explorer). Each test installs the program in a
// folder of its own, starts it with its trace on (KIVO_TRACE=1), and drives
// it from outside the way the system and the user do: the tray's callback
// message, keys and clicks posted to its windows, menu commands.
#include "tests/windows/shell_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/Config.h"
#include "net/Catalogue.h"
#include "platform/win32/AutoStart.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/windows/support/Server.h"
#include "ui/HotListDlg.h"
#include "ui/Resource.h"
#include "ui/Templates.h"
#include "ui/Texts.h"
#include "ui/WindowShape.h"

namespace kivo::test {
namespace {

constexpr int kPopupWidth = 179;
constexpr int kPopupHeight = 221;
constexpr UINT kTrayMessage = 0x0405;  // WM_USER + 5

std::string Env(const char* name) {
    char value[1024] = {};
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

// Where the script's tray stands: "left,top,right,bottom".
RECT TrayRect() {
    RECT rect{};
    std::istringstream in(Env("KIVO_TEST_TRAY_RECT"));
    char comma = 0;
    in >> rect.left >> comma >> rect.top >> comma >> rect.right >> comma >> rect.bottom;
    return rect;
}

// Where the popup goes: the top-right corner of the full-screen client width.
RECT CornerRect() {
    const int width = GetSystemMetrics(SM_CXFULLSCREEN);
    return RECT{width - kPopupWidth - 10, 10, width - 10, 10 + kPopupHeight};
}

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (Env("KIVO_TEST_DESKTOP") != "1") GTEST_SKIP() << "needs the desktop of scripts/test-windows.sh";
        m_dir = std::make_unique<TempDir>("kivo-shell");
        ASSERT_TRUE(CopyFileA(ShellExePath().c_str(), Path("kivo.exe").c_str(), FALSE)) << ShellExePath();
    }

    void TearDown() override {
        m_program.reset();
        m_dir.reset();
    }

    std::string Path(const std::string& name) const { return m_dir->Path() + "\\" + name; }

    // Starts kivo.exe; the content server is a closed loopback port unless
    // `server` is given.
    Program& Start(std::map<std::string, std::string> env = {}, const std::string& server = "127.0.0.1:1") {
        env.emplace("KIVO_TRACE", "1");
        env.emplace("KIVO_TRACE_FILE", Path("trace.log"));
        env.emplace("KIVO_SERVER", server);
        env.emplace("KIVO_TEST_BROWSER_LOG", Path("browser.log"));
        m_program = std::make_unique<Program>(Path("kivo.exe"), m_dir->Path(), env);
        EXPECT_TRUE(m_program->Started());
        return *m_program;
    }

    std::string Trace() const { return ReadBytes(Path("trace.log")).value_or(""); }

    bool WaitForTrace(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        const bool found = WaitUntil([&] { return Contains(Trace(), text); }, timeout);
        if (!found) ADD_FAILURE() << "no trace line with \"" << text << "\" in:\n" << Trace();
        return found;
    }

    // The popup: the program's untitled dialog window.
    HWND WaitForPopup() {
        HWND popup = nullptr;
        WaitUntil([&] {
            for (HWND hWnd : TopLevelWindows(m_program->Pid(), "#32770"))
                if (WindowText(hWnd).empty()) popup = hWnd;
            return popup != nullptr;
        });
        EXPECT_NE(popup, nullptr) << "no popup window; trace:\n" << Trace();
        return popup;
    }

    // Starts kivo.exe as Start() does and waits until the popup is placed;
    // the popup, or nullptr (with the failure recorded).
    HWND StartPlaced(std::map<std::string, std::string> env = {}, const std::string& server = "127.0.0.1:1") {
        Start(std::move(env), server);
        if (!WaitForTrace("placed ")) return nullptr;
        return WaitForPopup();
    }

    // A dialog of the program with the caption `caption` (GBK).
    HWND WaitForDialog(const std::string& caption, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        HWND found = nullptr;
        WaitUntil(
            [&] {
                for (HWND hWnd : TopLevelWindows(m_program->Pid(), "#32770"))
                    if (ToGbk(WindowText(hWnd)) == caption) found = hWnd;
                return found != nullptr;
            },
            timeout);
        return found;
    }

    bool WaitGone(HWND hWnd) {
        return WaitUntil([&] { return !IsWindow(hWnd) || !IsWindowVisible(hWnd); });
    }

    // The lines the stand-in browser wrote: "<show> <command line>".
    std::vector<std::string> BrowserCalls() const {
        std::vector<std::string> calls;
        std::istringstream in(ReadBytes(Path("browser.log")).value_or(""));
        for (std::string line; std::getline(in, line);) calls.push_back(line);
        return calls;
    }

    void ExpectBrowserCall(std::size_t n, const std::string& address) {
        ASSERT_TRUE(WaitUntil([&] { return BrowserCalls().size() >= n; })) << "no browser call " << n << "\n" << Trace();
        const std::string call = BrowserCalls()[n - 1];
        // Maximised (SW_SHOWMAXIMIZED), the address as the only parameter.
        EXPECT_EQ(call.substr(0, 2), "3 ") << call;
        ASSERT_GE(call.size(), address.size() + 1);
        EXPECT_EQ(call.substr(call.size() - address.size() - 1), " " + address) << call;
    }

    void Click(HWND hWnd) {
        PostMessageA(hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
        PostMessageA(hWnd, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
    }

    void Key(HWND hWnd, WPARAM vk) {
        PostMessageA(hWnd, WM_KEYDOWN, vk, 1);
        PostMessageA(hWnd, WM_KEYUP, vk, 0xC0000001);
    }

    void Exit(HWND popup) {
        PostMessageA(popup, WM_COMMAND, ID_EXIT, 0);
        EXPECT_NE(m_program->ExitCodeWithin(15000), -1) << "still running after Exit; trace:\n" << Trace();
    }

    // The popup's own controls, commands and filters; with `bBrowser` the
    // WebBrowser control is there (Wine's, without an engine), without it
    // the control could not be created at all.
    void DriveThePopup(HWND popup, bool bBrowser);

    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<Program> m_program;
};

// Pixels of the popup's screenshot in the place of image item `index` that
// differ from `nBitmap` (the item's own when 0). Left out: what the window
// shape cuts away (the rounded corner, the strip on the right) and, unless
// `bAlone`, what other items share, since images of the skin paint in turn
// where they overlap. Places are the controls' own: an image control takes
// the size of its bitmap.
int ItemDiffers(const Image& shot, HWND popup, int index, int nBitmap = 0, bool bAlone = false) {
    const DialogTemplate* tmpl = FindTemplate(IDD_KIVO_DIALOG);
    const Image bitmap =
        LoadBmp(SourcePath("res\\bitmaps\\" + std::to_string(nBitmap ? nBitmap : tmpl->pItems[index].nBitmap) + ".bmp"));
    std::vector<RECT> places;
    for (HWND hChild : Children(popup)) {
        RECT rect{};
        GetWindowRect(hChild, &rect);
        MapWindowPoints(HWND_DESKTOP, popup, reinterpret_cast<POINT*>(&rect), 2);
        places.push_back(rect);
    }
    if (bitmap.Empty() || index >= static_cast<int>(places.size())) return -1;
    const auto shared = [&](int x, int y) {
        const POINT point{x, y};
        for (std::size_t i = 0; i < places.size(); ++i)
            if (static_cast<int>(i) != index && PtInRect(&places[i], point)) return true;
        return false;
    };
    int differ = 0;
    for (int y = 0; y < bitmap.height; ++y)
        for (int x = 0; x < bitmap.width; ++x) {
            const int sx = places[index].left + x, sy = places[index].top + y;
            if ((sx < 18 && sy < 18) || sx >= kPopupWidth - 15 || (!bAlone && shared(sx, sy))) continue;
            if (shot.At(sx, sy) != bitmap.At(x, y)) ++differ;
        }
    return differ;
}

// The popup's region as the system built it, against the same calls made
// here and against the portable shape.
void ExpectPopupShape(HWND popup) {
    HRGN got = CreateRectRgn(0, 0, 0, 0);
    ASSERT_EQ(GetWindowRgn(popup, got), COMPLEXREGION);
    const int r = kPopupWidth, b = kPopupHeight;
    HRGN want = CreateRoundRectRgn(0, 0, r - 15, b, 36, 36);
    HRGN lower = CreateRectRgn(0, b / 2, r - 15, b);
    HRGN right = CreateRectRgn(r / 2, 0, r - 15, b);
    CombineRgn(want, want, lower, RGN_OR);
    CombineRgn(want, want, right, RGN_OR);
    EXPECT_TRUE(EqualRgn(got, want));
    const CRegion portable = MakePopupShape(r, b);
    for (int y = 0; y < b; ++y)
        for (int x = 0; x < r; ++x) {
            const bool in = PtInRegion(got, x, y) != FALSE;
            // The rightmost 15 pixels are cut away, and only the top-left
            // corner is rounded; the two shapes may part by a pixel on the arc.
            if (x >= r - 15) {
                EXPECT_FALSE(in) << x << "," << y;
            } else if (x >= 18 || y >= 18) {
                EXPECT_TRUE(in) << x << "," << y;
            } else if (in != portable.Contains(x, y)) {
                EXPECT_GE(x + y, 4) << "arc " << x << "," << y;
            }
        }
    EXPECT_FALSE(PtInRegion(got, 0, 0));
    EXPECT_FALSE(PtInRegion(got, 2, 2));
    EXPECT_TRUE(PtInRegion(got, 18, 0));
    EXPECT_TRUE(PtInRegion(got, 0, 18));
    for (HRGN h : {got, want, lower, right}) DeleteObject(h);
}

TEST_F(ShellTest, PopupShowsWithItsSkinShapeAndTrayIconInTheCorner) {
    const RECT corner = CornerRect();
    const Image behind = CaptureScreen(corner);
    const Image trayBefore = CaptureScreen(TrayRect());
    HWND popup = StartPlaced();
    ASSERT_NE(popup, nullptr);
    const std::string trace = Trace();
    EXPECT_TRUE(Contains(trace, ", code page 936")) << trace;

    // Size and place: 179 x 221, 10 pixels from the top and from the right
    // end of the full-screen width.
    RECT window{};
    GetWindowRect(popup, &window);
    EXPECT_EQ(window.left, corner.left);
    EXPECT_EQ(window.top, corner.top);
    EXPECT_EQ(window.right - window.left, kPopupWidth);
    EXPECT_EQ(window.bottom - window.top, kPopupHeight);
    RECT client{};
    GetClientRect(popup, &client);
    EXPECT_EQ(client.right, kPopupWidth);
    EXPECT_EQ(client.bottom, kPopupHeight);
    EXPECT_TRUE(Contains(trace, "placed " + std::to_string(corner.left) + " 10 179 221")) << trace;

    // No caption, no border; a tool window (no taskbar button).
    const auto style = static_cast<DWORD>(GetWindowLongPtrA(popup, GWL_STYLE));
    EXPECT_EQ(style & (WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_BORDER | WS_THICKFRAME),
              static_cast<DWORD>(WS_POPUP | WS_VISIBLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongPtrA(popup, GWL_EXSTYLE));
    EXPECT_EQ(exStyle & ~static_cast<DWORD>(WS_EX_CONTROLPARENT), static_cast<DWORD>(WS_EX_TOOLWINDOW))
        << std::hex << exStyle;
    ExpectPopupShape(popup);

    // The items in template order, the browser control's window in the
    // place of item 5: z-order and tab order.
    std::vector<int> ids;
    for (HWND hChild : Children(popup)) ids.push_back(GetDlgCtrlID(hChild));
    std::vector<int> want;
    const DialogTemplate* tmpl = FindTemplate(IDD_KIVO_DIALOG);
    for (int i = 0; i < tmpl->nItems; ++i) want.push_back(tmpl->pItems[i].nId);
    EXPECT_EQ(ids, want);
    HWND combo = GetDlgItem(popup, IDC_CATEGORY);
    EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), kCategoryCount);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 0);

    // The tray icon, with the first form of the record, id 128, the
    // callback message and the tip.
    EXPECT_TRUE(TrayIconExists(popup, kTrayIconId));
    EXPECT_TRUE(Contains(trace, "tray icon added 1: size " + std::to_string(NOTIFYICONDATAA_V1_SIZE) +
                                    ", id 128, flags 7, message 1029, tip Kivo"))
        << trace;

    // What the screen shows: the skin pieces at their places, the cut
    // corner and strip showing what lies behind, the icon in the tray.
    Sleep(500);
    const Image shot = CaptureScreen(corner);
    const std::string shots = ScreenshotDir();
    SaveBmp(shot, shots + "popup.bmp");
    SaveBmp(CaptureScreen(RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}),
            shots + "desktop.bmp");
    const std::string png = UnixPath(shots + "desktop.png");
    if (!png.empty()) RunUnixCommand("import -window root '" + png + "'", shots + "desktop.done");

    // Items 4, 3, 8, 10, 17, 13 and 2 of the template, and the hide button
    // whole, over the header that holds it.
    for (int index : {3, 2, 7, 9, 16, 12, 1}) EXPECT_EQ(ItemDiffers(shot, popup, index), 0) << "item " << index + 1;
    EXPECT_EQ(ItemDiffers(shot, popup, 14, 0, true), 0) << "the hide button shows over the header";
    ASSERT_EQ(behind.width, shot.width);
    for (int y = 0; y < kPopupHeight; ++y)
        for (int x = kPopupWidth - 15; x < kPopupWidth; ++x) ASSERT_EQ(shot.At(x, y), behind.At(x, y)) << x << "," << y;
    EXPECT_EQ(shot.At(0, 0), behind.At(0, 0));
    EXPECT_EQ(shot.At(3, 2), behind.At(3, 2));
    EXPECT_GT(DifferingPixels(CaptureScreen(TrayRect()), trayBefore), 50) << "no icon in the tray";
    Exit(popup);
}

TEST_F(ShellTest, ExitFromTheTrayMenuRemovesTheIconAndEndsTheProcess) {
    const Image trayBefore = CaptureScreen(TrayRect());
    HWND popup = StartPlaced();
    ASSERT_NE(popup, nullptr);
    ASSERT_TRUE(TrayIconExists(popup, kTrayIconId));

    // The right button on the icon: menu 167 at the cursor.
    SetCursorPos(500, 400);
    PostMessageA(popup, kTrayMessage, kTrayIconId, WM_RBUTTONDOWN);
    HWND menu = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        const auto menus = TopLevelWindows(m_program->Pid(), "#32768");
        menu = menus.empty() ? nullptr : menus.front();
        return menu != nullptr;
    })) << Trace();
    RECT rect{};
    GetWindowRect(menu, &rect);
    EXPECT_EQ(rect.left, 500);
    EXPECT_EQ(rect.top, 400);
    EXPECT_TRUE(Contains(Trace(), "menu at 500 400"));
    EXPECT_TRUE(IsWindowVisible(popup)) << "the menu leaves the popup as it was";
    SaveBmp(CaptureScreen(RECT{rect.left - 20, rect.top - 20, rect.right + 20, rect.bottom + 20}),
            ScreenshotDir() + "tray-menu.bmp");

    // Up from no selection takes the last item, "退出程序"; Enter chooses it.
    Key(menu, VK_UP);
    Key(menu, VK_RETURN);
    EXPECT_NE(m_program->ExitCodeWithin(15000), -1) << Trace();
    const std::string trace = Trace();
    EXPECT_TRUE(Contains(trace, "command exit")) << trace;
    EXPECT_TRUE(Contains(trace, "tray icon removed 1")) << trace;
    EXPECT_TRUE(Contains(trace, "end")) << trace;
    EXPECT_FALSE(TrayIconExists(popup, kTrayIconId));
    EXPECT_TRUE(TopLevelWindows(m_program->Pid(), nullptr).empty());
    // The tray shows what it showed before the program ran.
    EXPECT_TRUE(WaitUntil([&] { return DifferingPixels(CaptureScreen(TrayRect()), trayBefore) == 0; },
                          std::chrono::seconds(5)));
    // Nothing is saved at exit.
    EXPECT_FALSE(Exists(Path("Configuration.ini")));
}

TEST_F(ShellTest, SecondCopyEndsAtOnceWhileTheFirstRuns) {
    HWND popup = StartPlaced();
    ASSERT_NE(popup, nullptr);

    const auto started = std::chrono::steady_clock::now();
    Program second(Path("kivo.exe"), m_dir->Path(),
                   {{"KIVO_TRACE", "1"}, {"KIVO_TRACE_FILE", Path("trace.log")}, {"KIVO_SERVER", "127.0.0.1:1"}});
    ASSERT_TRUE(second.Started());
    EXPECT_EQ(second.ExitCodeWithin(10000), 0);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    RecordProperty("second_copy_ms", static_cast<int>(took.count()));
    EXPECT_TRUE(TopLevelWindows(second.Pid(), nullptr, false).empty());
    EXPECT_EQ(m_program->ExitCodeWithin(0), -1);
    EXPECT_TRUE(IsWindowVisible(popup));
    EXPECT_EQ(Count(Trace(), "] start "), 1) << Trace();
    Exit(popup);
}

TEST_F(ShellTest, WithoutTheBrowserControlTheRestOfThePopupWorks) {
    // Wine's library switch for kivo.exe alone: a library named with an
    // empty value is never loaded. (A started program does not take the
    // switches from its environment block.)
    const ScopedRegistryValue noBrowser(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\kivo.exe\\DllOverrides",
                                        "ieframe", "");
    HWND popup = StartPlaced();
    ASSERT_NE(popup, nullptr);
    const std::string trace = Trace();
    EXPECT_TRUE(Contains(trace, "browser not created")) << trace;
    EXPECT_TRUE(Contains(trace, "navigate http://127.0.0.1:1/sml/today.html (no browser)")) << trace;
    HWND page = GetDlgItem(popup, IDC_BROWSER);
    ASSERT_NE(page, nullptr) << "the control's place stays";
    EXPECT_TRUE(Children(page).empty());
    DriveThePopup(popup, false);
    Exit(popup);
}

TEST_F(ShellTest, WithWinesBrowserControlWithoutAnEngineThePopupWorks) {
    HWND popup = StartPlaced();
    ASSERT_NE(popup, nullptr);
    const std::string trace = Trace();
    EXPECT_TRUE(Contains(trace, "browser created")) << trace;
    EXPECT_TRUE(Contains(trace, "navigate http://127.0.0.1:1/sml/today.html taken")) << trace;
    HWND page = GetDlgItem(popup, IDC_BROWSER);
    ASSERT_NE(page, nullptr);
    EXPECT_FALSE(Children(page).empty()) << "the control's window is inside its place";
    DriveThePopup(popup, true);
    Exit(popup);
}

void ShellTest::DriveThePopup(HWND popup, bool bBrowser) {
    ShellTest& test = *this;
    const std::string suffix = bBrowser ? " taken" : " (no browser)";
    HWND combo = GetDlgItem(popup, IDC_CATEGORY);
    HWND search = GetDlgItem(popup, IDC_SEARCH_TEXT);
    HWND page = GetDlgItem(popup, IDC_BROWSER);
    RECT placed{};
    GetWindowRect(popup, &placed);

    // The chooser, by its keys: two down is list 3, its banner and page.
    test.Key(combo, VK_DOWN);
    ASSERT_TRUE(test.WaitForTrace("week.html" + suffix));
    test.Key(combo, VK_DOWN);
    ASSERT_TRUE(test.WaitForTrace("navigate http://127.0.0.1:1/sml/hot.html" + suffix));
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 2);
    EXPECT_TRUE(Contains(test.Trace(), "header " + std::to_string(g_nCategoryBanner[2])));
    Sleep(300);
    const Image shot = CaptureScreen(placed);
    SaveBmp(shot, ScreenshotDir() + (bBrowser ? "list3-browser.bmp" : "list3-no-browser.bmp"));
    EXPECT_EQ(ItemDiffers(shot, popup, 3, g_nCategoryBanner[2]), 0);
    EXPECT_EQ(ItemDiffers(shot, popup, 14, 0, true), 0) << "the hide button stays on top";

    // Escape anywhere and Enter outside the search box do nothing.
    test.Key(search, VK_ESCAPE);
    EXPECT_TRUE(test.WaitForTrace("key 27 consumed, target 1003"));
    test.Key(combo, VK_RETURN);
    EXPECT_TRUE(test.WaitForTrace("key 13 consumed, target 1002"));
    test.Key(page, VK_ESCAPE);
    EXPECT_TRUE(test.WaitForTrace("key 27 consumed, target 1001"));
    EXPECT_TRUE(IsWindowVisible(popup));
    EXPECT_TRUE(test.BrowserCalls().empty());

    // Enter in the search box and the search button: Baidu in Internet
    // Explorer, maximised, the text appended as it is.
    const std::string text = "a&b \xD6\xD0\xCE\xC4";  // a&b 中文
    SetWindowTextW(search, FromGbk(text).c_str());
    test.Key(search, VK_RETURN);
    test.ExpectBrowserCall(1, CHotListDlg::SearchAddress(text));
    test.Click(GetDlgItem(popup, IDC_SEARCH));
    test.ExpectBrowserCall(2, CHotListDlg::SearchAddress(text));
    EXPECT_EQ(ToGbk(WindowText(search)), text) << "the search box keeps its text";
    // The site button.
    test.Click(GetDlgItem(popup, IDC_VISIT));
    test.ExpectBrowserCall(3, "http://" KIVO_SITE_HOST);

    // The right button in the page is consumed.
    PostMessageA(bBrowser ? DeepestChild(page) : page, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 5));
    PostMessageA(bBrowser ? DeepestChild(page) : page, WM_RBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_TRUE(test.WaitForTrace("right button consumed"));

    // Hide, then a single click (nothing) and a double click on the icon.
    test.Click(GetDlgItem(popup, IDC_CLOSE));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(popup); }));
    EXPECT_TRUE(TrayIconExists(popup, kTrayIconId));
    PostMessageA(popup, kTrayMessage, kTrayIconId, WM_LBUTTONDOWN);
    PostMessageA(popup, kTrayMessage, kTrayIconId, WM_LBUTTONUP);
    Sleep(300);
    EXPECT_FALSE(IsWindowVisible(popup));
    PostMessageA(popup, kTrayMessage, kTrayIconId, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(popup) != FALSE; }));
    RECT back{};
    GetWindowRect(popup, &back);
    EXPECT_TRUE(EqualRect(&back, &placed)) << "back where it was";
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 2) << "with the same list";

    // The About dialog, from the tray menu's command, over the popup.
    PostMessageA(popup, WM_COMMAND, ID_ABOUT, 0);
    HWND about = test.WaitForDialog(kszCaptionAbout);
    ASSERT_NE(about, nullptr) << test.Trace();
    EXPECT_EQ(GetWindow(about, GW_OWNER), popup);
    EXPECT_FALSE(IsWindowEnabled(popup));
    // The icon first (its text is the ordinal of its resource), then the
    // texts.
    std::vector<std::wstring> texts;
    for (HWND hChild : Children(about)) texts.push_back(WindowText(hChild));
    ASSERT_EQ(texts.size(), 6U);
    EXPECT_NE(SendMessageA(Children(about)[0], STM_GETICON, 0, 0), 0) << "the icon shows";
    const char* const want[] = {kszAboutVersion, kszAboutSite, kszOk, kszAboutCopyright, kszAboutContact};
    for (std::size_t i = 0; i < std::size(want); ++i) EXPECT_EQ(ToGbk(texts[i + 1]), want[i]);
    SaveBmp(CaptureScreen([&] {
                RECT r{};
                GetWindowRect(about, &r);
                return r;
            }()),
            ScreenshotDir() + (bBrowser ? "about-browser.bmp" : "about.bmp"));
    test.Key(GetDlgItem(about, IDOK), VK_ESCAPE);
    EXPECT_TRUE(test.WaitGone(about));
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(popup) != FALSE; }));
}

TEST_F(ShellTest, SettingsDialogsStoreSaveAndSend) {
    Server::Reset();
    HWND popup = StartPlaced({}, Server::HostPort());
    ASSERT_NE(popup, nullptr);

    PostMessageA(popup, WM_COMMAND, ID_SETTINGS, 0);
    HWND settings = WaitForDialog(kszCaptionSettings);
    ASSERT_NE(settings, nullptr) << Trace();
    EXPECT_EQ(GetWindow(settings, GW_OWNER), popup);
    EXPECT_FALSE(IsWindowEnabled(popup));
    HWND list = GetDlgItem(settings, IDC_SET_CATEGORY);
    HWND email = GetDlgItem(settings, IDC_EMAIL);
    EXPECT_EQ(SendMessageA(list, CB_GETCOUNT, 0, 0), kCategoryCount);
    EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(ToGbk(WindowText(email)), kszEmailPlaceholder);
    std::vector<std::string> texts;
    for (HWND hChild : Children(settings))
        if (ClassName(hChild) != "Edit" && ClassName(hChild) != "ComboBox") texts.push_back(ToGbk(WindowText(hChild)));
    EXPECT_EQ(texts, (std::vector<std::string>{kszOk, kszCancel, kszWelcome1, kszWelcome2, kszWelcome3,
                                               kszChooseDefault, kszNotifyByEmail, kszAdvanced}));
    RECT rect{};
    GetWindowRect(settings, &rect);
    SaveBmp(CaptureScreen(rect), ScreenshotDir() + "settings.bmp");

    // OK with the placeholder: refused with the warning; the dialog stays.
    PostMessageA(GetDlgItem(settings, IDOK), BM_CLICK, 0, 0);
    HWND warning = WaitForDialog("kivo");
    ASSERT_NE(warning, nullptr) << Trace();
    EXPECT_TRUE(Contains(Trace(), std::string("message kivo: ") + kszInvalidEmail)) << Trace();
    PostMessageA(warning, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitGone(warning));
    EXPECT_TRUE(IsWindowVisible(settings));
    EXPECT_FALSE(Exists(Path("Configuration.ini")));

    // Into the box with the keyboard (OK, Cancel, list, box): the
    // placeholder goes.
    for (int i = 0; i < 3; ++i) Key(settings, VK_TAB);
    EXPECT_TRUE(WaitUntil([&] { return WindowText(email).empty(); })) << ToGbk(WindowText(email));
    // A list and an address; OK stores, saves and sends them.
    Key(list, VK_END);
    EXPECT_TRUE(WaitUntil([&] { return SendMessageA(list, CB_GETCURSEL, 0, 0) == kCategoryCount - 1; }));
    const std::string address = "\xD5\xC5\xC8\xFD@kivo.cn";  // 张三@kivo.cn
    SetWindowTextW(email, FromGbk(address).c_str());
    PostMessageA(GetDlgItem(settings, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitGone(settings));
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(popup) != FALSE; }));
    {
        CConfig config(m_dir->Path() + "\\");
        ASSERT_EQ(config.LoadConfig(), 1);
        EXPECT_EQ(config.m_nCategory, kCategoryCount);
        EXPECT_EQ(std::string(config.m_szEmail), address);
        EXPECT_EQ(ReadBytes(Path("Configuration.ini")).value_or("").size(), CConfig::kFileSize);
    }
    EXPECT_TRUE(WaitUntil([&] { return !Server::Emails().empty(); }));
    EXPECT_EQ(Server::Emails(), (std::vector<std::string>{address}));
    // The popup goes on showing the list it showed.
    EXPECT_EQ(SendMessageA(GetDlgItem(popup, IDC_CATEGORY), CB_GETCURSEL, 0, 0), 0);

    // Again, and on to the system settings dialog over it.
    PostMessageA(popup, WM_COMMAND, ID_SETTINGS, 0);
    settings = WaitForDialog(kszCaptionSettings);
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(ToGbk(WindowText(GetDlgItem(settings, IDC_EMAIL))), address);
    EXPECT_EQ(SendMessageA(GetDlgItem(settings, IDC_SET_CATEGORY), CB_GETCURSEL, 0, 0), kCategoryCount - 1);
    PostMessageA(GetDlgItem(settings, IDC_ADVANCED), BM_CLICK, 0, 0);
    HWND system = WaitForDialog(kszCaptionSystemSettings);
    ASSERT_NE(system, nullptr) << Trace();
    EXPECT_EQ(GetWindow(system, GW_OWNER), settings);
    EXPECT_FALSE(IsWindowEnabled(settings));
    EXPECT_EQ(SendMessageA(GetDlgItem(system, IDC_AUTORUN), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageA(GetDlgItem(system, IDC_CHECKUPDATE), BM_GETCHECK, 0, 0), BST_CHECKED);
    GetWindowRect(system, &rect);
    SaveBmp(CaptureScreen(rect), ScreenshotDir() + "system-settings.bmp");
    PostMessageA(GetDlgItem(system, IDC_AUTORUN), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return SendMessageA(GetDlgItem(system, IDC_AUTORUN), BM_GETCHECK, 0, 0) == 0; }));
    PostMessageA(GetDlgItem(system, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitGone(system));
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(settings) != FALSE; }));
    // Start with Windows off: the value stays, 260 zero bytes.
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kivo::platform::kRunKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        char data[600] = {};
        DWORD size = sizeof data, type = 0;
        EXPECT_EQ(RegQueryValueExA(key, "kivo", nullptr, &type, reinterpret_cast<BYTE*>(data), &size), ERROR_SUCCESS);
        RegCloseKey(key);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(size, 260u);
        EXPECT_EQ(std::string(data, size), std::string(260, '\0'));
    }
    // Cancel keeps the file as the first OK saved it.
    PostMessageA(GetDlgItem(settings, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitGone(settings));
    {
        CConfig config(m_dir->Path() + "\\");
        ASSERT_EQ(config.LoadConfig(), 1);
        EXPECT_EQ(config.m_bAutoRun, 1);
    }
    Exit(popup);
}

TEST_F(ShellTest, UpdateNoticeThenQuitMessageEndsEveryModalRun) {
    Server::Reset();
    Server::SetVersion(1001);
    Server::SetUpdateFile(Env("KIVO_TEST_UPDATER"));
    HWND popup = StartPlaced({}, Server::HostPort());
    ASSERT_NE(popup, nullptr);
    // A dialog is open when the quit request comes.
    PostMessageA(popup, WM_COMMAND, ID_SETTINGS, 0);
    HWND settings = WaitForDialog(kszCaptionSettings);
    ASSERT_NE(settings, nullptr);

    // 5 s after start: the check, the download and the notice, owned by no
    // window, shown by the worker thread while the popup goes on.
    HWND notice = WaitForDialog("\xB8\xFC\xD0\xC2\xCC\xE1\xCA\xBE", std::chrono::seconds(30));  // 更新提示
    ASSERT_NE(notice, nullptr) << Trace();
    EXPECT_EQ(GetWindow(notice, GW_OWNER), nullptr);
    EXPECT_TRUE(Exists(Path("update.exe")));
    {
        CConfig config(m_dir->Path() + "\\");
        ASSERT_EQ(config.LoadConfig(), 1);
        EXPECT_EQ(config.m_bUpdatePending, 1);
    }
    bool noticeText = false;
    for (HWND hChild : Children(notice))
        if (ToGbk(WindowText(hChild)) ==
            "Kivo\xD3\xD0\xD0\xC2\xB5\xC4\xB0\xE6\xB1\xBE\xA3\xAC\xB0\xB4\xC8\xB7\xB6\xA8\xBD\xF8\xD0\xD0\xB8\xFC\xD0\xC2\xA3\xA1")
            noticeText = true;
    EXPECT_TRUE(noticeText);
    // The popup's thread is free meanwhile.
    EXPECT_TRUE(IsWindowVisible(settings));
    DWORD_PTR answer = 0;
    EXPECT_NE(SendMessageTimeoutA(popup, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &answer), 0);

    PostMessageA(notice, WM_COMMAND, IDOK, 0);
    EXPECT_NE(m_program->ExitCodeWithin(15000), -1) << Trace();
    const std::string trace = Trace();
    EXPECT_TRUE(Contains(trace, "notice closed")) << trace;
    EXPECT_TRUE(Contains(trace, "quit posted 1")) << trace;
    EXPECT_EQ(Count(trace, "quit message"), 2) << "the settings dialog's run, then the popup's:\n" << trace;
    EXPECT_TRUE(Contains(trace, "dialog 131 ended -1")) << trace;
    EXPECT_TRUE(Contains(trace, "tray icon removed 1")) << trace;
    EXPECT_TRUE(WaitUntil([&] { return Exists(Path("update.exe.ran")); })) << "the installer did not run";
    CConfig config(m_dir->Path() + "\\");
    ASSERT_EQ(config.LoadConfig(), 1);
    EXPECT_EQ(config.m_bUpdatePending, 0);
}

TEST_F(ShellTest, StartWithAPendingUpdateHandsOverAndEnds) {
    {
        CConfig config(m_dir->Path() + "\\");
        config.m_bUpdatePending = 1;
        ASSERT_EQ(config.SaveConfig(), 1);
    }
    ASSERT_TRUE(CopyFileA((TestExeFolder() + "kivo_probe.exe").c_str(), Path("update.exe").c_str(), FALSE));
    Start();
    EXPECT_NE(m_program->ExitCodeWithin(15000), -1) << Trace();
    const std::string trace = Trace();
    EXPECT_TRUE(Contains(trace, "popup initialisation ended by the hand-over")) << trace;
    EXPECT_TRUE(Contains(trace, "quit message")) << trace;
    EXPECT_FALSE(Contains(trace, "tray icon added")) << trace;
    EXPECT_FALSE(Contains(trace, "navigate")) << trace;
    EXPECT_FALSE(Contains(trace, "timer ")) << trace;
    EXPECT_TRUE(WaitUntil([&] { return Exists(Path("update.exe.ran")); }));
    CConfig config(m_dir->Path() + "\\");
    ASSERT_EQ(config.LoadConfig(), 1);
    EXPECT_EQ(config.m_bUpdatePending, 0);
}

}  // namespace
}  // namespace kivo::test
