// kivo.exe itself under Wine, on the X desktop scripts/test-windows.sh
// provides (KIVO_TEST_DESKTOP=1: Xvfb with the trayer tray, the template
// font mapped to a Song face with SimSun's metrics, code page 936, a
// stand-in for Internet Explorer). Each test installs the program in a
// folder of its own, starts it with its trace on (KIVO_TRACE=1), and drives
// it from outside the way the system and the user do: the tray's callback
// message, keys and clicks posted to its windows, menu commands.
#include "tests/shells/win32/shell_support.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <memory>
#include <numeric>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "app/Config.h"
#include "net/Catalogue.h"
#include "platform/BrowserUrl.h"
#include "platform/win32/AutoStart.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"
#include "ui/Texts.h"
#include "ui/WindowShape.h"

namespace kivo::test {
namespace {

constexpr int kPopupWidth = 179;
constexpr int kPopupHeight = 221;
constexpr UINT kTrayMessage = 0x0405;  // WM_USER + 5
constexpr char kAppLibraries[] = "Software\\Wine\\AppDefaults\\kivo.exe\\DllOverrides";

// The one the script runs.
TestServer& Server() {
    static TestServer s_server;
    return s_server;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Where the script's tray stands: "left,top,right,bottom".
RECT TrayRect() {
    RECT rect{};
    std::sscanf(Env("KIVO_TEST_TRAY_RECT").c_str(), "%ld,%ld,%ld,%ld", &rect.left, &rect.top, &rect.right,
                &rect.bottom);
    return rect;
}

// Where the popup goes: 10 pixels from the top and from the right end of
// the full-screen client width.
RECT CornerRect() {
    const int width = GetSystemMetrics(SM_CXFULLSCREEN);
    return RECT{width - kPopupWidth - 10, 10, width - 10, 10 + kPopupHeight};
}

// --- the program's windows and the screen, seen from outside ---------------

// 24-bit pixels, 0xRRGGBB, rows from the top.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
    bool Empty() const { return pixels.empty(); }
};

// What `source` shows from (x, y) on, `width` x `height` pixels.
Image Grab(HDC source, int x, int y, int width, int height) {
    if (width <= 0 || height <= 0) return {};
    BITMAPINFO info{};
    info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};  // rows from the top
    void* bits = nullptr;
    HBITMAP hBitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (hBitmap == nullptr) return {};
    HDC hMemory = CreateCompatibleDC(source);
    HGDIOBJ hOld = SelectObject(hMemory, hBitmap);
    BitBlt(hMemory, 0, 0, width, height, source, x, y, SRCCOPY | CAPTUREBLT);
    GdiFlush();
    Image image{width, height, {}};
    const auto* pixels = static_cast<const std::uint32_t*>(bits);
    image.pixels.assign(pixels, pixels + static_cast<std::size_t>(width) * height);
    for (auto& p : image.pixels) p &= 0xFFFFFF;
    SelectObject(hMemory, hOld);
    DeleteDC(hMemory);
    DeleteObject(hBitmap);
    return image;
}

std::string ClassName(HWND hWnd) {
    char name[256] = {};
    return std::string(name, static_cast<std::size_t>(std::max(0, GetClassNameA(hWnd, name, sizeof name))));
}

// Top-level windows of process `pid` with window class `className` (null:
// any), the visible ones unless `bVisibleOnly` is false.
std::vector<HWND> TopLevelWindows(DWORD pid, const char* className, bool bVisibleOnly = true) {
    std::vector<HWND> found;
    for (HWND hWnd = nullptr; (hWnd = FindWindowExA(nullptr, hWnd, className, nullptr)) != nullptr;) {
        DWORD owner = 0;
        GetWindowThreadProcessId(hWnd, &owner);
        if (owner == pid && (!bVisibleOnly || IsWindowVisible(hWnd))) found.push_back(hWnd);
    }
    return found;
}

std::wstring WindowText(HWND hWnd) {
    // GetWindowText does not ask the controls of another process.
    wchar_t text[512] = {};
    const auto n = SendMessageW(hWnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
    return std::wstring(text, static_cast<std::size_t>(std::max<LRESULT>(n, 0)));
}

std::vector<HWND> Children(HWND hWnd) {
    std::vector<HWND> children;
    for (HWND hChild = GetWindow(hWnd, GW_CHILD); hChild != nullptr; hChild = GetWindow(hChild, GW_HWNDNEXT))
        children.push_back(hChild);
    return children;
}

RECT WindowRect(HWND hWnd) {
    RECT rect{};
    GetWindowRect(hWnd, &rect);
    return rect;
}

bool TrayIconExists(HWND hWnd, UINT uId) {
    NOTIFYICONDATAA nid{};
    nid.cbSize = NOTIFYICONDATAA_V1_SIZE;
    nid.hWnd = hWnd;
    nid.uID = uId;
    return Shell_NotifyIconA(NIM_MODIFY, &nid) != FALSE;
}

Image CaptureScreen(const RECT& rect) {
    HDC hScreen = GetDC(nullptr);
    Image image = Grab(hScreen, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    ReleaseDC(nullptr, hScreen);
    return image;
}

Image LoadBmp(const std::string& path) {
    auto hBitmap = static_cast<HBITMAP>(
        LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    BITMAP info{};
    if (hBitmap == nullptr || GetObjectA(hBitmap, sizeof info, &info) == 0) return {};
    HDC hDC = CreateCompatibleDC(nullptr);
    HGDIOBJ hOld = SelectObject(hDC, hBitmap);
    Image image = Grab(hDC, 0, 0, info.bmWidth, info.bmHeight);
    SelectObject(hDC, hOld);
    DeleteDC(hDC);
    DeleteObject(hBitmap);
    return image;
}

void SaveScreenshot(const RECT& rect, const std::string& name) {
    const Image image = CaptureScreen(rect);
    const auto size = static_cast<DWORD>(image.pixels.size() * 4);
    const DWORD headers = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    const BITMAPINFOHEADER info{sizeof info, image.width, -image.height, 1, 32, BI_RGB, size, 0, 0, 0, 0};
    const BITMAPFILEHEADER file{0x4D42, headers + size, 0, 0, headers};
    std::ofstream out(ScreenshotDir() + name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    out.write(reinterpret_cast<const char*>(image.pixels.data()), size);
}

int DifferingPixels(const Image& a, const Image& b) {
    if (a.width != b.width || a.height != b.height) return -1;
    return std::inner_product(a.pixels.begin(), a.pixels.end(), b.pixels.begin(), 0, std::plus<>(),
                              std::not_equal_to<>());
}

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (Env("KIVO_TEST_DESKTOP") != "1") GTEST_SKIP() << "needs the desktop of scripts/test-windows.sh";
        ASSERT_TRUE(CopyFileA(ShellExePath().c_str(), Path("kivo.exe").c_str(), FALSE)) << ShellExePath();
    }

    std::string Path(const std::string& name) const { return m_dir.File(name); }

    // Starts the test's kivo.exe, or `exe` (`bSecond`: while the first runs),
    // with `args`; the content server is a closed loopback port unless
    // `server` is given.
    Process& Start(const std::string& server = "127.0.0.1:1", bool bSecond = false, const std::string& exe = "",
                   const std::string& args = "") {
        for (const auto& [name, value] : {std::pair<const char*, std::string>{"KIVO_TRACE", "1"},
                                          {"KIVO_TRACE_FILE", Path("trace.log")},
                                          {"KIVO_SERVER", server},
                                          {"KIVO_TEST_BROWSER_LOG", Path("browser.log")}})
            SetEnvironmentVariableA(name, value.c_str());
        auto& program = bSecond ? m_second : m_program;
        program = std::make_unique<Process>(exe.empty() ? Path("kivo.exe") : exe, args, m_dir.Path());
        EXPECT_TRUE(program->Started());
        return *program;
    }

    std::string Trace() const { return ReadBytes(Path("trace.log")).value_or(""); }

    void ExpectTraced(std::initializer_list<std::string> events) const {
        const std::string trace = Trace();
        for (const std::string& event : events) EXPECT_TRUE(Contains(trace, event)) << event << " not in:\n" << trace;
    }

    bool WaitForTrace(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        const bool found = WaitUntil([&] { return Contains(Trace(), text); }, timeout);
        if (!found) ADD_FAILURE() << "no trace line with \"" << text << "\" in:\n" << Trace();
        return found;
    }

    // Starts kivo.exe and waits until the popup, the program's untitled
    // dialog window, is placed; the popup, or null with the failure recorded.
    HWND StartPlaced(const std::string& server = "127.0.0.1:1") {
        Start(server);
        if (!WaitForTrace("placed ")) return nullptr;
        return WaitForDialog("");
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
        EXPECT_NE(found, nullptr) << "no window \"" << caption << "\"; trace:\n" << Trace();
        return found;
    }

    bool WaitGone(HWND hWnd) {
        return WaitUntil([&] { return !IsWindow(hWnd) || !IsWindowVisible(hWnd); });
    }

    // The settings file as the program saved it.
    std::unique_ptr<CConfig> Saved() const {
        auto config = std::make_unique<CConfig>(m_dir.Path() + "\\");
        EXPECT_EQ(config->LoadConfig(), 1);
        return config;
    }

    // Call `n` of the stand-in browser, the default browser for http:
    // maximised (SW_SHOWMAXIMIZED), the address as one valid URL, the only
    // parameter. It writes "<show> <command line>".
    void ExpectBrowserCall(std::size_t n, const std::string& address) {
        std::vector<std::string> calls;
        ASSERT_TRUE(WaitUntil([&] {
            std::istringstream in(ReadBytes(Path("browser.log")).value_or(""));
            calls.clear();
            for (std::string line; std::getline(in, line);) calls.push_back(line);
            return calls.size() >= n;
        })) << "no browser call "
            << n << "\n"
            << Trace();
        EXPECT_EQ(calls[n - 1].substr(0, 2), "3 ") << calls[n - 1];
        EXPECT_TRUE(calls[n - 1].ends_with(" " + kivo::platform::BrowserUrl(address))) << calls[n - 1];
    }

    static void Click(HWND hWnd) {
        PostMessageA(hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
        PostMessageA(hWnd, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
    }

    static void Key(HWND hWnd, WPARAM vk) {
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

    TempDir m_dir{"kivo-shell"};
    std::unique_ptr<Process> m_program, m_second;
};

// Pixels of the popup's screenshot in the place of image item `index` that
// differ from `nBitmap` (the item's own when 0). Left out: what the window
// shape cuts away (the rounded corner, the strip on the right) and, unless
// `bAlone`, what other items share, since images of the skin paint in turn
// where they overlap. Places are the controls' own: an image control takes
// the size of its bitmap.
int ItemDiffers(const Image& shot, HWND popup, int index, int nBitmap = 0, bool bAlone = false) {
    if (nBitmap == 0) nBitmap = FindTemplate(IDD_KIVO_DIALOG)->pItems[index].nBitmap;
    const Image bitmap = LoadBmp(SourcePath("res\\bitmaps\\" + std::to_string(nBitmap) + ".bmp"));
    std::vector<RECT> places;
    for (HWND hChild : Children(popup)) {
        RECT rect = WindowRect(hChild);
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
            differ += shot.At(sx, sy) != bitmap.At(x, y) ? 1 : 0;
        }
    return differ;
}

// The popup's region: the portable shape, pixel for pixel. Against the same
// shape made of the system's round rectangle it parts at most by a pixel on
// the arc of the top-left corner.
void ExpectPopupShape(HWND popup) {
    const int r = kPopupWidth, b = kPopupHeight;
    HRGN got = CreateRectRgn(0, 0, 0, 0), system = CreateRoundRectRgn(0, 0, r - 15, b, 36, 36);
    ASSERT_EQ(GetWindowRgn(popup, got), COMPLEXREGION);
    for (HRGN half : {CreateRectRgn(0, b / 2, r - 15, b), CreateRectRgn(r / 2, 0, r - 15, b)}) {
        CombineRgn(system, system, half, RGN_OR);
        DeleteObject(half);
    }
    const CRegion shape = MakePopupShape(r, b);
    for (int y = -1; y <= b; ++y)
        for (int x = -1; x <= r; ++x) {
            const bool in = PtInRegion(got, x, y) != FALSE;
            EXPECT_EQ(in, shape.Contains(x, y)) << x << "," << y;
            if (in != (PtInRegion(system, x, y) != FALSE)) {
                EXPECT_TRUE(x < 18 && y < 18 && x + y >= 4) << x << "," << y;
            }
        }
    DeleteObject(got);
    DeleteObject(system);
}

TEST_F(ShellTest, PopupShowsInTheCornerASecondCopyEndsAndTheTrayMenusExitEndsIt) {
    const RECT corner = CornerRect();
    const Image behind = CaptureScreen(corner);
    const Image trayBefore = CaptureScreen(TrayRect());
    HWND popup = StartPlaced();
    ASSERT_NE(popup, nullptr);
    // Size and place: 179 x 221 in the corner, client and window alike. The
    // tray icon with the first form of the record, id 128, the callback
    // message and the tip.
    ExpectTraced({", code page 936", "placed " + std::to_string(corner.left) + " 10 179 221",
                  "tray icon added 1: size " + std::to_string(NOTIFYICONDATAW_V1_SIZE) +
                      ", id 128, flags 7, message 1029, tip Kivo"});
    EXPECT_TRUE(TrayIconExists(popup, kTrayIconId));
    RECT window = WindowRect(popup), client{};
    EXPECT_TRUE(EqualRect(&window, &corner));
    GetClientRect(popup, &client);
    EXPECT_EQ(std::pair(client.right, client.bottom), (std::pair<LONG, LONG>(kPopupWidth, kPopupHeight)));

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
    std::vector<int> ids, want;
    for (HWND hChild : Children(popup)) ids.push_back(GetDlgCtrlID(hChild));
    const DialogTemplate* tmpl = FindTemplate(IDD_KIVO_DIALOG);
    for (int i = 0; i < tmpl->nItems; ++i) want.push_back(tmpl->pItems[i].nId);
    EXPECT_EQ(ids, want);
    HWND combo = GetDlgItem(popup, IDC_CATEGORY);
    EXPECT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), kCategoryCount);
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 0);

    // What the screen shows: items 4, 3, 8, 10, 17, 13 and 2 of the template
    // at their places, the hide button whole over the header that holds it,
    // the cut corner and strip showing what lies behind, the icon in the tray.
    Sleep(500);
    const Image shot = CaptureScreen(corner);
    SaveScreenshot(corner, "popup.bmp");
    SaveScreenshot(RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}, "desktop.bmp");
    for (int index : {3, 2, 7, 9, 16, 12, 1}) EXPECT_EQ(ItemDiffers(shot, popup, index), 0) << "item " << index + 1;
    EXPECT_EQ(ItemDiffers(shot, popup, 14, 0, true), 0) << "the hide button shows over the header";
    ASSERT_EQ(behind.width, shot.width);
    for (int y = 0; y < kPopupHeight; ++y)
        for (int x = kPopupWidth - 15; x < kPopupWidth; ++x) ASSERT_EQ(shot.At(x, y), behind.At(x, y)) << x << "," << y;
    EXPECT_EQ(shot.At(0, 0), behind.At(0, 0));
    EXPECT_EQ(shot.At(3, 2), behind.At(3, 2));
    EXPECT_GT(DifferingPixels(CaptureScreen(TrayRect()), trayBefore), 50) << "no icon in the tray";

    // Hidden by its button, the popup comes back with a second start, which
    // ends at once with status 0 without a window of its own; the first runs on.
    PostMessageA(popup, WM_COMMAND, MAKEWPARAM(IDC_CLOSE, STN_CLICKED), 0);
    ASSERT_TRUE(WaitGone(popup)) << Trace();
    Process& second = Start("127.0.0.1:1", true);
    EXPECT_EQ(second.ExitCodeWithin(10000), 0);
    EXPECT_TRUE(TopLevelWindows(second.Pid(), nullptr, false).empty());
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(popup) != FALSE; })) << Trace();
    EXPECT_EQ(m_program->ExitCodeWithin(0), -1);
    ExpectTraced({"listening to later copies", "later copy: show"});
    EXPECT_EQ(Count(Trace(), "] start "), 1) << Trace();

    // The right button on the icon: menu 167 at the cursor, the popup as it was.
    SetCursorPos(500, 400);
    PostMessageA(popup, kTrayMessage, kTrayIconId, WM_RBUTTONDOWN);
    std::vector<HWND> menus;
    ASSERT_TRUE(WaitUntil([&] { return !(menus = TopLevelWindows(m_program->Pid(), "#32768")).empty(); })) << Trace();
    const RECT rect = WindowRect(menus.front());
    EXPECT_EQ(std::pair(rect.left, rect.top), std::pair(500L, 400L));
    ExpectTraced({"menu at 500 400"});
    EXPECT_TRUE(IsWindowVisible(popup));
    SaveScreenshot(RECT{rect.left - 20, rect.top - 20, rect.right + 20, rect.bottom + 20}, "tray-menu.bmp");

    // Up from no selection takes the last item, "退出程序"; Enter chooses it.
    Key(menus.front(), VK_UP);
    Key(menus.front(), VK_RETURN);
    EXPECT_NE(m_program->ExitCodeWithin(15000), -1) << Trace();
    ExpectTraced({"command " + std::to_string(ID_EXIT), "tray icon removed 1", "] end"});
    EXPECT_FALSE(TrayIconExists(popup, kTrayIconId));
    EXPECT_TRUE(TopLevelWindows(m_program->Pid(), nullptr).empty());
    // The tray shows what it showed before the program ran; nothing is saved.
    EXPECT_TRUE(WaitUntil([&] { return DifferingPixels(CaptureScreen(TrayRect()), trayBefore) == 0; },
                          std::chrono::seconds(5)));
    EXPECT_FALSE(Exists(Path("Configuration.ini")));
}

TEST_F(ShellTest, TheCommandLinesActionsGoToTheRunningCopyOrToTheOneThatStarts) {
    // --exit with none running: nothing starts, nothing shows.
    Start("127.0.0.1:1", false, "", "--exit");
    EXPECT_EQ(m_program->ExitCodeWithin(10000), 0);
    EXPECT_FALSE(Contains(Trace(), "] start ")) << Trace();

    // --about with none running: the program starts and shows its About dialog.
    Start("127.0.0.1:1", false, "", "--about");
    HWND about = WaitForDialog(kszCaptionAbout);
    ASSERT_NE(about, nullptr);
    Key(GetDlgItem(about, IDOK), VK_ESCAPE);
    EXPECT_TRUE(WaitGone(about));
    HWND popup = WaitForDialog("");
    ASSERT_NE(popup, nullptr);

    // Words the program does not know are ignored (a Run value's unquoted
    // folder with a space): a later copy with them shows the popup.
    Process& ignored = Start("127.0.0.1:1", true, "", "apps\\kivo.exe");
    EXPECT_EQ(ignored.ExitCodeWithin(10000), 0);
    EXPECT_TRUE(WaitForTrace("later copy: show"));

    // --settings from a later copy opens the dialog in the running one.
    Process& settingsCopy = Start("127.0.0.1:1", true, "", "--settings");
    EXPECT_EQ(settingsCopy.ExitCodeWithin(10000), 0);
    HWND settings = WaitForDialog(kszCaptionSettings);
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(GetWindow(settings, GW_OWNER), popup);
    PostMessageA(GetDlgItem(settings, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitGone(settings));

    // --exit from a later copy ends the running one.
    Process& exitCopy = Start("127.0.0.1:1", true, "", "--exit");
    EXPECT_EQ(exitCopy.ExitCodeWithin(10000), 0);
    EXPECT_NE(m_program->ExitCodeWithin(15000), -1) << Trace();
    ExpectTraced({"later copy: settings", "later copy: exit", "tray icon removed 1", "] end"});
    EXPECT_EQ(Count(Trace(), "] start "), 1) << Trace();
}

// While it lives, kivo.exe starts without the browser control: Wine's
// library switch for that program alone names the library with an empty
// value, so it is never loaded. (A started program does not take the
// switches from its environment block.)
struct NoBrowserControl {
    NoBrowserControl() { RegSetKeyValueA(HKEY_CURRENT_USER, kAppLibraries, "ieframe", REG_SZ, "", 1); }
    ~NoBrowserControl() { RegDeleteKeyValueA(HKEY_CURRENT_USER, kAppLibraries, "ieframe"); }
};

TEST_F(ShellTest, WithoutTheBrowserControlTheRestOfThePopupWorks) {
    const NoBrowserControl noBrowser;
    HWND popup = StartPlaced();
    ASSERT_NE(popup, nullptr);
    ExpectTraced({"browser not created", "navigate http://127.0.0.1:1/sml/today.html (no browser)"});
    HWND page = GetDlgItem(popup, IDC_BROWSER);
    ASSERT_NE(page, nullptr) << "the control's place stays";
    EXPECT_TRUE(Children(page).empty());
    DriveThePopup(popup, false);
    Exit(popup);
}

TEST_F(ShellTest, WithWinesBrowserControlWithoutAnEngineThePopupWorks) {
    HWND popup = StartPlaced();
    ASSERT_NE(popup, nullptr);
    ExpectTraced({"browser created", "navigate http://127.0.0.1:1/sml/today.html taken"});
    HWND page = GetDlgItem(popup, IDC_BROWSER);
    ASSERT_NE(page, nullptr);
    EXPECT_FALSE(Children(page).empty()) << "the control's window is inside its place";
    DriveThePopup(popup, true);
    Exit(popup);
}

TEST_F(ShellTest, AnUnreachableServerGivesTheProgramsOwnPageAndItIsAskedForAgain) {
    struct Retry {
        Retry() { SetEnvironmentVariableA("KIVO_PAGE_RETRY_SECONDS", "2"); }
        ~Retry() { SetEnvironmentVariableA("KIVO_PAGE_RETRY_SECONDS", nullptr); }
    } everyTwoSeconds;
    HWND popup = StartPlaced();
    ASSERT_NE(popup, nullptr);
    // The browser control's navigation error, not its own error page.
    const std::string page = "http://127.0.0.1:1/sml/today.html";
    ASSERT_TRUE(WaitForTrace("page failed " + page + " status 0x"));
    ASSERT_TRUE(WaitForTrace("page stand-in for " + page));
    // The page the control is given instead: the server's heading and the
    // help line in the skin's colours, GBK as it says.
    const std::string trace = Trace(), written = "own page written to ";
    const std::size_t at = trace.find(written);
    ASSERT_NE(at, std::string::npos) << trace;
    const std::size_t from = at + written.size();
    const std::string file = trace.substr(from, trace.find('\n', from) - from);
    const std::string html = ReadBytes(file).value_or("");
    for (const std::string& part :
         {std::string(kszNoServer), std::string(kszNoPageHelp), std::string("#111418"), std::string("charset=\"gbk\"")})
        EXPECT_TRUE(Contains(html, part)) << part << " not in " << file;
    EXPECT_FALSE(Contains(html, kszNoPage));
    // Shown where the system has an engine; Wine has none here, and the
    // control is given no page it cannot show.
    const std::string shown = Trace();
    EXPECT_TRUE(Contains(shown, "navigate file://" + file + " taken") ||
                Contains(shown, "own page not shown: no engine"))
        << shown;
    // The server still does not answer at the next try.
    EXPECT_TRUE(WaitForTrace("page retry " + page));
    Exit(popup);
}

void ShellTest::DriveThePopup(HWND popup, bool bBrowser) {
    const std::string suffix = bBrowser ? " taken" : " (no browser)";
    HWND combo = GetDlgItem(popup, IDC_CATEGORY);
    HWND search = GetDlgItem(popup, IDC_SEARCH_TEXT);
    HWND page = GetDlgItem(popup, IDC_BROWSER);
    const RECT placed = WindowRect(popup);

    // The chooser, by its keys: two down is list 3, its banner and page; the
    // hide button stays on top of the new banner.
    Key(combo, VK_DOWN);
    ASSERT_TRUE(WaitForTrace("week.html" + suffix));
    Key(combo, VK_DOWN);
    ASSERT_TRUE(WaitForTrace("navigate http://127.0.0.1:1/sml/hot.html" + suffix));
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 2);
    EXPECT_TRUE(Contains(Trace(), "header " + std::to_string(g_nCategoryBanner[2])));
    Sleep(300);
    const Image shot = CaptureScreen(placed);
    SaveScreenshot(placed, bBrowser ? "list3-browser.bmp" : "list3-no-browser.bmp");
    EXPECT_EQ(ItemDiffers(shot, popup, 3, g_nCategoryBanner[2]), 0);
    EXPECT_EQ(ItemDiffers(shot, popup, 14, 0, true), 0) << "the hide button stays on top";

    // Escape anywhere and Enter outside the search box do nothing.
    for (const auto& [hWnd, vk, event] : {std::tuple{search, VK_ESCAPE, "key 27 consumed, target 1003"},
                                          {combo, VK_RETURN, "key 13 consumed, target 1002"},
                                          {page, VK_ESCAPE, "key 27 consumed, target 1001"}}) {
        Key(hWnd, vk);
        EXPECT_TRUE(WaitForTrace(event));
    }
    EXPECT_TRUE(IsWindowVisible(popup));
    EXPECT_FALSE(Exists(Path("browser.log")));

    // Enter in the search box and the search button: Baidu in Internet
    // Explorer, maximised, the text appended as it is. Then the site button.
    const std::string text = "a&b \xD6\xD0\xCE\xC4";  // a&b 中文
    SetWindowTextW(search, FromGbk(text).c_str());
    Key(search, VK_RETURN);
    ExpectBrowserCall(1, CHotListDlg::SearchAddress(text));
    Click(GetDlgItem(popup, IDC_SEARCH));
    ExpectBrowserCall(2, CHotListDlg::SearchAddress(text));
    EXPECT_EQ(ToGbk(WindowText(search)), text) << "the search box keeps its text";
    Click(GetDlgItem(popup, IDC_VISIT));
    ExpectBrowserCall(3, "http://" KIVO_SITE_HOST);

    // The right button in the page is consumed.
    HWND inner = page;
    while (HWND hChild = GetWindow(inner, GW_CHILD)) inner = hChild;
    PostMessageA(inner, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 5));
    PostMessageA(inner, WM_RBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_TRUE(WaitForTrace("right button consumed"));

    // Hide, then a single click (nothing) and a double click on the icon:
    // back where it was, with the same list.
    Click(GetDlgItem(popup, IDC_CLOSE));
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(popup); }));
    EXPECT_TRUE(TrayIconExists(popup, kTrayIconId));
    PostMessageA(popup, kTrayMessage, kTrayIconId, WM_LBUTTONDOWN);
    PostMessageA(popup, kTrayMessage, kTrayIconId, WM_LBUTTONUP);
    Sleep(300);
    EXPECT_FALSE(IsWindowVisible(popup));
    PostMessageA(popup, kTrayMessage, kTrayIconId, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(popup) != FALSE; }));
    const RECT back = WindowRect(popup);
    EXPECT_TRUE(EqualRect(&back, &placed));
    EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 2);

    // The About dialog, from the tray menu's command, over the popup: the
    // icon (its text is the ordinal of its resource), then the texts.
    PostMessageA(popup, WM_COMMAND, ID_ABOUT, 0);
    HWND about = WaitForDialog(kszCaptionAbout);
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(GetWindow(about, GW_OWNER), popup);
    EXPECT_FALSE(IsWindowEnabled(popup));
    const std::vector<HWND> items = Children(about);
    ASSERT_EQ(items.size(), 6U);
    EXPECT_NE(SendMessageA(items[0], STM_GETICON, 0, 0), 0) << "the icon shows";
    const char* const want[] = {kszAboutVersion, kszAboutSite, kszOk, kszAboutCopyright, kszAboutContact};
    for (std::size_t i = 0; i < std::size(want); ++i) EXPECT_EQ(ToGbk(WindowText(items[i + 1])), want[i]);
    SaveScreenshot(WindowRect(about), bBrowser ? "about-browser.bmp" : "about.bmp");
    Key(GetDlgItem(about, IDOK), VK_ESCAPE);
    EXPECT_TRUE(WaitGone(about));
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(popup) != FALSE; }));
}

TEST_F(ShellTest, SettingsDialogsStoreSaveAndSend) {
    Server().Reset();
    Server().ClearEmails();
    // Start at login as an installer that chose it leaves it: the first
    // start's record takes it from there.
    ASSERT_TRUE(platform::WriteRunValue(true, Path("kivo.exe")));
    HWND popup = StartPlaced(Server().HostPort());
    ASSERT_NE(popup, nullptr);

    PostMessageA(popup, WM_COMMAND, ID_SETTINGS, 0);
    HWND settings = WaitForDialog(kszCaptionSettings);
    ASSERT_NE(settings, nullptr);
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
    SaveScreenshot(WindowRect(settings), "settings.bmp");

    // OK with the placeholder: refused with the warning; the dialog stays.
    PostMessageA(GetDlgItem(settings, IDOK), BM_CLICK, 0, 0);
    HWND warning = WaitForDialog("kivo");
    ASSERT_NE(warning, nullptr);
    EXPECT_TRUE(Contains(Trace(), std::string("message kivo: ") + kszInvalidEmail)) << Trace();
    PostMessageA(warning, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitGone(warning));
    EXPECT_TRUE(IsWindowVisible(settings));
    EXPECT_FALSE(Exists(Path("Configuration.ini")));

    // Into the box with the keyboard (OK, Cancel, list, box): the
    // placeholder goes. A list and an address; OK stores, saves and sends.
    for (int i = 0; i < 3; ++i) Key(settings, VK_TAB);
    EXPECT_TRUE(WaitUntil([&] { return WindowText(email).empty(); })) << ToGbk(WindowText(email));
    Key(list, VK_END);
    EXPECT_TRUE(WaitUntil([&] { return SendMessageA(list, CB_GETCURSEL, 0, 0) == kCategoryCount - 1; }));
    const std::string address = "\xD5\xC5\xC8\xFD@kivo.cn";  // 张三@kivo.cn
    SetWindowTextW(email, FromGbk(address).c_str());
    PostMessageA(GetDlgItem(settings, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitGone(settings));
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(popup) != FALSE; }));
    EXPECT_EQ(Saved()->m_nCategory, kCategoryCount);
    EXPECT_EQ(std::string(Saved()->m_szEmail), address);
    EXPECT_EQ(ReadBytes(Path("Configuration.ini")).value_or("").size(), CConfig::kFileSize);
    EXPECT_TRUE(WaitUntil([&] { return !Server().Emails().empty(); }));
    EXPECT_EQ(Server().Emails(), (std::vector<std::string>{address}));
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
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(GetWindow(system, GW_OWNER), settings);
    EXPECT_FALSE(IsWindowEnabled(settings));
    HWND autoRun = GetDlgItem(system, IDC_AUTORUN);
    EXPECT_EQ(SendMessageA(autoRun, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageA(GetDlgItem(system, IDC_CHECKUPDATE), BM_GETCHECK, 0, 0), BST_CHECKED);
    SaveScreenshot(WindowRect(system), "system-settings.bmp");
    PostMessageA(autoRun, BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return SendMessageA(autoRun, BM_GETCHECK, 0, 0) == 0; }));
    PostMessageA(GetDlgItem(system, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitGone(system));
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(settings) != FALSE; }));
    // Start with Windows off: the value stays, 260 zero bytes.
    char data[600] = {};
    DWORD size = sizeof data, type = 0;
    if (RegGetValueA(HKEY_CURRENT_USER, platform::kRunKey, "kivo", RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size) ==
        ERROR_SUCCESS) {
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(std::string(data, size), std::string(260, '\0'));
    }
    // Cancel keeps the file as the first OK saved it.
    PostMessageA(GetDlgItem(settings, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitGone(settings));
    EXPECT_EQ(Saved()->m_bAutoRun, 1);
    Exit(popup);
}

TEST_F(ShellTest, UpdateNoticeThenQuitMessageEndsEveryModalRunAndTheNextStartHandsOver) {
    Server().Reset();
    Server().SetVersion(1001);
    Server().SetUpdateFile(TestServer::Updater());
    HWND popup = StartPlaced(Server().HostPort());
    ASSERT_NE(popup, nullptr);
    // A dialog is open when the quit request comes.
    PostMessageA(popup, WM_COMMAND, ID_SETTINGS, 0);
    HWND settings = WaitForDialog(kszCaptionSettings);
    ASSERT_NE(settings, nullptr);

    // 5 s after start: the check, the download and the notice, owned by no
    // window, shown by the worker thread while the popup goes on.
    HWND notice = WaitForDialog("\xB8\xFC\xD0\xC2\xCC\xE1\xCA\xBE", std::chrono::seconds(30));  // 更新提示
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(GetWindow(notice, GW_OWNER), nullptr);
    EXPECT_TRUE(Exists(Path("update.exe")));
    EXPECT_EQ(Saved()->m_bUpdatePending, 1);
    bool bNoticeText = false;
    for (HWND hChild : Children(notice))  // Kivo有新的版本，按确定进行更新！
        bNoticeText |= ToGbk(WindowText(hChild)) ==
                       "Kivo\xD3\xD0\xD0\xC2\xB5\xC4\xB0\xE6\xB1\xBE\xA3\xAC\xB0\xB4\xC8\xB7\xB6\xA8\xBD\xF8\xD0\xD0"
                       "\xB8\xFC\xD0\xC2\xA3\xA1";
    EXPECT_TRUE(bNoticeText);
    // The popup's thread is free meanwhile.
    EXPECT_TRUE(IsWindowVisible(settings));
    DWORD_PTR answer = 0;
    EXPECT_NE(SendMessageTimeoutA(popup, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &answer), 0);

    PostMessageA(notice, WM_COMMAND, IDOK, 0);
    EXPECT_NE(m_program->ExitCodeWithin(15000), -1) << Trace();
    ExpectTraced({"notice closed", "quit posted 1", "dialog 131 ended -1", "tray icon removed 1"});
    EXPECT_EQ(Count(Trace(), "quit message"), 2) << "the settings dialog's run, then the popup's:\n" << Trace();
    EXPECT_TRUE(WaitUntil([&] { return Exists(Path("update.exe.ran")); })) << "the installer did not run";
    EXPECT_EQ(Saved()->m_bUpdatePending, 0);

    // A start while an update is pending: the installer instead of the
    // popup's timers, tray icon and page.
    auto config = Saved();
    config->m_bUpdatePending = 1;
    ASSERT_EQ(config->SaveConfig(), 1);
    ASSERT_TRUE(DeleteFileA(Path("update.exe.ran").c_str()) && DeleteFileA(Path("trace.log").c_str()));
    Start();
    EXPECT_NE(m_program->ExitCodeWithin(15000), -1) << Trace();
    ExpectTraced({"popup initialisation ended by the hand-over", "quit message"});
    for (const char* never : {"tray icon added", "navigate", "timer "})
        EXPECT_FALSE(Contains(Trace(), never)) << Trace();
    EXPECT_TRUE(WaitUntil([&] { return Exists(Path("update.exe.ran")); }));
    EXPECT_EQ(Saved()->m_bUpdatePending, 0);
}

// What the program shows under the system code page of this run (LC_ALL of
// the test): the chooser's fourteen names, the tray menu, the dialogs. Under
// 936 the screenshots and the settings file are kept as "cp936-*"; under any
// other code page they must be the same, pixel for pixel and byte for byte.
class CodePageTest : public ShellTest {};

TEST_F(CodePageTest, TextsLookAndStoreTheSameAsUnderTheChineseCodePage) {
    const std::string prefix = "cp" + std::to_string(GetACP()) + "-";
    std::vector<std::string> shots;
    const auto shoot = [&](const std::string& name, const RECT& rect) {
        Sleep(500);
        SaveScreenshot(rect, prefix + name);
        shots.push_back(name);
    };
    const auto waitForWindow = [&](const char* className) {
        std::vector<HWND> found;
        EXPECT_TRUE(WaitUntil([&] { return !(found = TopLevelWindows(m_program->Pid(), className)).empty(); }))
            << className << "\n"
            << Trace();
        return found.empty() ? nullptr : found.front();
    };
    // Without the browser control: no page is shot, and a run after others
    // in the prefix does not wait on Wine's browser.
    const NoBrowserControl noBrowser;
    HWND popup = StartPlaced();
    ASSERT_NE(popup, nullptr);

    // The chooser, closed and dropped down.
    HWND combo = GetDlgItem(popup, IDC_CATEGORY);
    shoot("chooser.bmp", WindowRect(combo));
    PostMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
    HWND list = waitForWindow("ComboLBox");
    ASSERT_NE(list, nullptr);
    shoot("chooser-list.bmp", WindowRect(list));
    PostMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
    EXPECT_TRUE(WaitGone(list));

    // The tray menu at the cursor.
    SetCursorPos(500, 400);
    PostMessageW(popup, kTrayMessage, kTrayIconId, WM_RBUTTONDOWN);
    HWND menu = waitForWindow("#32768");
    ASSERT_NE(menu, nullptr);
    shoot("menu.bmp", WindowRect(menu));
    Key(menu, VK_ESCAPE);
    EXPECT_TRUE(WaitGone(menu));

    PostMessageW(popup, WM_COMMAND, ID_ABOUT, 0);
    HWND about = WaitForDialog(kszCaptionAbout);
    ASSERT_NE(about, nullptr);
    shoot("about.bmp", WindowRect(about));
    Key(GetDlgItem(about, IDOK), VK_ESCAPE);
    EXPECT_TRUE(WaitGone(about));

    // The settings dialog and the system settings over it; a Chinese
    // address typed in and stored.
    PostMessageW(popup, WM_COMMAND, ID_SETTINGS, 0);
    HWND settings = WaitForDialog(kszCaptionSettings);
    ASSERT_NE(settings, nullptr);
    shoot("settings.bmp", WindowRect(settings));
    PostMessageW(GetDlgItem(settings, IDC_ADVANCED), BM_CLICK, 0, 0);
    HWND system = WaitForDialog(kszCaptionSystemSettings);
    ASSERT_NE(system, nullptr);
    shoot("system-settings.bmp", WindowRect(system));
    PostMessageW(GetDlgItem(system, IDCANCEL), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitGone(system));
    const std::string address = "\xD5\xC5\xC8\xFD@kivo.cn";  // 张三@kivo.cn
    SetWindowTextW(GetDlgItem(settings, IDC_EMAIL), L"张三@kivo.cn");
    PostMessageW(GetDlgItem(settings, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitGone(settings));
    EXPECT_EQ(std::string(Saved()->m_szEmail), address);
    const std::string file = ReadBytes(Path("Configuration.ini")).value_or("");
    Exit(popup);

    if (GetACP() == 936) {
        std::ofstream(ScreenshotDir() + "cp936-Configuration.ini", std::ios::binary) << file;
        return;
    }
    // The Chinese run's (windows_codepage_936) to compare with.
    EXPECT_EQ(ReadBytes(ScreenshotDir() + "cp936-Configuration.ini"), file);
    for (const std::string& name : shots) {
        const Image here = LoadBmp(ScreenshotDir() + prefix + name);
        const Image chinese = LoadBmp(ScreenshotDir() + "cp936-" + name);
        ASSERT_FALSE(chinese.Empty()) << "no cp936-" << name << ": run windows_codepage_936 first";
        EXPECT_EQ(DifferingPixels(here, chinese), 0) << name;
    }
}

TEST_F(ShellTest, FromAReadOnlyFolderEveryFileGoesToTheUsersOwnFolder) {
    // scripts/test-windows.sh puts kivo.exe on a read-only mount.
    const std::string readOnly = Env("KIVO_TEST_READONLY_EXE");
    if (readOnly.empty()) GTEST_SKIP() << "no read-only copy of kivo.exe";
    const std::string own = KnownFolder(CSIDL_LOCAL_APPDATA) + "\\Kivo\\";
    Start("127.0.0.1:1", false, readOnly);
    ASSERT_TRUE(WaitForTrace("placed "));
    EXPECT_TRUE(std::filesystem::is_directory(own + "prg")) << own;
}

}  // namespace
}  // namespace kivo::test
