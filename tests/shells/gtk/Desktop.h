#pragma once
// A private X desktop for one test: an Xvfb server on a free display, the
// trayer system tray, a connection to inspect windows, xdotool for input and
// screenshots into the build tree; or a Wayland one, weston (headless) with
// XWayland, seen through its own screenshots. And the real kivo program,
// installed in a folder of its own with its own runtime, configuration and
// data folders.
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/NetworkTest.h"
#include "tests/support/Process.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

struct _XDisplay;

namespace kivo::test {

using XWindowId = unsigned long;
// Shape kinds of the X shape extension.
constexpr int kShapeBounding = 0;
constexpr int kShapeInput = 2;

struct XRect {
    int x = 0, y = 0, width = 0, height = 0;
};

struct XWin {
    XWindowId id = 0;
    std::string name;  // _NET_WM_NAME, UTF-8
    std::string type;  // last part of _NET_WM_WINDOW_TYPE, e.g. "TOOLTIP"
    XRect rect;        // in root coordinates
    bool mapped = false;
    bool overrideRedirect = false;
    long pid = 0;
};

class DesktopTest : public NetworkTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Set before SetUp: false gives a desktop without the tray; m_bWeston
    // gives weston instead of Xvfb (and no tray): the program is given its
    // Wayland display and XWayland's, and the window helpers do not apply.
    bool m_bTray = true;
    bool m_bWeston = false;
    // More of the program's environment, replacing what ProgramEnv names.
    std::vector<std::string> m_env;
    // The program StartKivo installs: kivo, or kivo with the other page view.
    std::string m_program = KIVO_GTK_EXE;
    // The program's session bus address; empty: it has none.
    std::string m_sessionBus;
    // Starts a private session bus in the test's folder (no services to
    // start: only what the test runs is on it) and sets m_sessionBus to it;
    // it stops with the desktop.
    void StartSessionBus();
    // A command and its arguments the program is started under (setpriv,
    // say); empty: none.
    std::vector<std::string> m_launcher;

    // The environment the program runs with.
    std::vector<std::string> ProgramEnv() const;
    // Copies kivo into `dir` (default: the test's folder) and starts it
    // with `args`; its standard error comes with its output.
    std::unique_ptr<Process> StartKivo(const std::string& dir = "", const std::vector<std::string>& args = {});
    std::string InstallDir() const { return m_installDir; }

    // Windows of process `pid`, toplevels and those inside the tray.
    std::vector<XWin> Windows(long pid);
    bool FindWindow(long pid, const std::function<bool(const XWin&)>& match, XWin& found);
    XWin WaitForWindow(long pid, const std::function<bool(const XWin&)>& match,
                       std::chrono::milliseconds timeout = std::chrono::seconds(30));
    XWin Popup(long pid);  // the untitled 179 x 221 toplevel
    // The tray icon: a window of `pid` inside the tray's panel.
    bool TrayIcon(long pid, XWin& icon);
    std::vector<XRect> ShapeRects(XWindowId id, int kind);
    std::vector<std::string> NetWmState(XWindowId id);
    // The 32-bit items of the window's _NET_WM_ICON: per icon its width,
    // its height and its pixels.
    std::vector<unsigned long> NetWmIcon(XWindowId id);
    // Asks the window to close, as a window manager's close button does.
    void SendCloseRequest(XWindowId id);

    // xdotool with the given arguments; false when it failed.
    bool Xdo(const std::vector<std::string>& args);
    void ClickAt(int x, int y, int button = 1);
    void Key(const std::string& keys);
    // Saves a part of the screen as screenshots/<name>.png in the build tree
    // (on weston: of what the compositor shows).
    std::string Screenshot(const std::string& name, const XRect& rect);

    // What the stand-in browser was given: each call's arguments.
    std::vector<std::vector<std::string>> BrowserCalls();

    // Waits for a trace line holding `text`.
    bool WaitForTrace(Process& program, const std::string& text,
                      std::chrono::milliseconds timeout = std::chrono::seconds(40));

    std::string Display() const { return m_display; }
    std::string Home() const { return m_home.Path(); }
    // The program's process id, from its first trace line.
    long Pid(Process& program);

private:
    void StartX();
    void StartWeston();
    void WriteBrowser();

    TempDir m_home;
    std::string m_display;
    std::string m_installDir;
    std::unique_ptr<Process> m_xvfb;
    std::unique_ptr<Process> m_tray;
    std::unique_ptr<Process> m_sessionBusDaemon;
    _XDisplay* m_x = nullptr;
};

}  // namespace kivo::test
