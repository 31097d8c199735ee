// First: gtest must not see the macros of the X headers.
#include "tests/shells/gtk/Desktop.h"

#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "tests/support/Files.h"

namespace kivo::test {

namespace {

int IgnoreXErrors(::Display*, XErrorEvent*) { return 0; }

}  // namespace

void DesktopTest::SetUp() {
    NetworkTest::SetUp();
    for (const char* sub : {"/run", "/config", "/data", "/data/applications", "/cache", "/shots"})
        ::mkdir((m_home.Path() + sub).c_str(), 0700);
    WriteBrowser();
    StartX();
}

void DesktopTest::TearDown() {
    m_sessionBusDaemon.reset();
    if (m_x != nullptr) XCloseDisplay(m_x);
    m_x = nullptr;
    m_tray.reset();
    m_xvfb.reset();
    NetworkTest::TearDown();
}

void DesktopTest::StartSessionBus() {
    const std::string socket = m_home.Path() + "/bus";
    WriteBytes(m_home.Path() + "/bus.conf",
               "<busconfig><type>session</type><listen>unix:path=" + socket +
                   "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                   "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                   "<allow own=\"*\"/></policy></busconfig>\n");
    m_sessionBusDaemon = std::make_unique<Process>(
        "/usr/bin/dbus-daemon", std::vector<std::string>{"--config-file=" + m_home.Path() + "/bus.conf", "--nofork",
                                                         "--nopidfile", "--print-address"});
    ASSERT_TRUE(m_sessionBusDaemon->WaitForOutput("unix:path=")) << m_sessionBusDaemon->Output();
    m_sessionBus = "unix:path=" + socket;
}

void DesktopTest::StartWeston() {
    // Headless, drawn by pixman so that it can take screenshots (--debug
    // lets its screenshooter in), no panel, a background of its own colour.
    const std::string home = m_home.Path();
    WriteBytes(home + "/weston.ini", "[shell]\npanel-position=none\nbackground-color=0xff204060\n");
    m_xvfb = std::make_unique<Process>(
        "weston",
        std::vector<std::string>{"--config=" + home + "/weston.ini", "--backend=headless-backend.so", "--use-pixman",
                                 "--width=1024", "--height=768", "--socket=kivo-wayland", "--xwayland", "--debug"},
        std::vector<std::string>{"XDG_RUNTIME_DIR=" + home + "/run"}, ProcessOptions{home + "/weston.log", true});
    const std::string mark = "xserver listening on display :";
    std::string log;
    if (!WaitUntil(
            [&] {
                log = ReadBytes(home + "/weston.log").value_or("");
                return log.find(mark) != std::string::npos && Exists(home + "/run/kivo-wayland");
            },
            std::chrono::seconds(20)))
        throw std::runtime_error("weston did not start: " + log);
    m_display = ":" + std::to_string(std::atoi(log.c_str() + log.find(mark) + mark.size()));
}

void DesktopTest::StartX() {
    if (m_bWeston) return StartWeston();
    // -displayfd: the server picks a free display and writes its number.
    const std::string file = m_home.Path() + "/display";
    const int report = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    m_xvfb = std::make_unique<Process>("Xvfb",
                                       std::vector<std::string>{"-displayfd", std::to_string(report), "-screen", "0",
                                                                "1024x768x24", "-nolisten", "tcp", "-noreset"},
                                       std::vector<std::string>{},
                                       ProcessOptions{m_home.Path() + "/xvfb.log", true, report});
    ::close(report);
    std::string number;
    if (!WaitUntil([&] { return (number = ReadBytes(file).value_or("")).find('\n') != std::string::npos; },
                   std::chrono::seconds(20)))
        throw std::runtime_error("Xvfb did not start");
    m_display = ":" + number.substr(0, number.find('\n'));
    XSetErrorHandler(IgnoreXErrors);
    m_x = XOpenDisplay(m_display.c_str());
    if (m_x == nullptr) throw std::runtime_error("cannot open " + m_display);

    if (!m_bTray) return;
    m_tray = std::make_unique<Process>(
        "trayer",
        std::vector<std::string>{"--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "160",
                                 "--heighttype", "pixel", "--height", "32", "--transparent", "false", "--SetDockType",
                                 "true"},
        std::vector<std::string>{"DISPLAY=" + m_display, "HOME=" + m_home.Path(), "NO_AT_BRIDGE=1"},
        ProcessOptions{m_home.Path() + "/trayer.log", true});
    const Atom selection = XInternAtom(m_x, "_NET_SYSTEM_TRAY_S0", False);
    if (!WaitUntil([&] { return XGetSelectionOwner(m_x, selection) != None; }, std::chrono::seconds(20)))
        throw std::runtime_error("the tray did not start: " + ReadBytes(m_home.Path() + "/trayer.log").value_or(""));
}

void DesktopTest::WriteBrowser() {
    // The user's default browser, as GIO finds it: a desktop entry in the
    // data folder, chosen for http and https in mimeapps.list. It writes
    // down its arguments and opens nothing.
    const std::string home = m_home.Path();
    const std::string script = home + "/browser";
    WriteBytes(script, "#!/bin/sh\n{ echo \"call $#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } >> '" + home +
                           "/browser.log'\n");
    ::chmod(script.c_str(), 0755);
    WriteBytes(home + "/data/applications/kivo-test-browser.desktop",
               "[Desktop Entry]\nType=Application\nName=Test browser\nExec=" + script +
                   " %u\nMimeType=x-scheme-handler/http;x-scheme-handler/https;\n");
    WriteBytes(home + "/config/mimeapps.list",
               "[Default Applications]\nx-scheme-handler/http=kivo-test-browser.desktop\n"
               "x-scheme-handler/https=kivo-test-browser.desktop\n");
}

std::vector<std::vector<std::string>> DesktopTest::BrowserCalls() {
    std::vector<std::vector<std::string>> calls;
    std::istringstream in(ReadBytes(m_home.Path() + "/browser.log").value_or(""));
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("call ", 0) == 0)
            calls.emplace_back();
        else if (!calls.empty())
            calls.back().push_back(line);
    }
    return calls;
}

std::vector<std::string> DesktopTest::ProgramEnv() const {
    const std::string home = m_home.Path();
    std::vector<std::string> env{
        "DISPLAY=" + m_display, "WAYLAND_DISPLAY=" + std::string(m_bWeston ? "kivo-wayland" : ""), "KIVO_TRACE=1",
        "KIVO_SERVER=" + Server().HostPort(), "HOME=" + home, "XDG_RUNTIME_DIR=" + home + "/run",
        "XDG_CONFIG_HOME=" + home + "/config", "XDG_DATA_HOME=" + home + "/data", "XDG_CACHE_HOME=" + home + "/cache",
        "XDG_DATA_DIRS=" + home + "/data:/usr/local/share:/usr/share",
        // No desktop session: settings from memory, no accessibility bus.
        "GSETTINGS_BACKEND=memory", "NO_AT_BRIDGE=1",
        "DBUS_SESSION_BUS_ADDRESS=" + (m_sessionBus.empty() ? std::string("disabled:") : m_sessionBus), "LANG=C.UTF-8"};
    env.insert(env.end(), m_env.begin(), m_env.end());
    return env;
}

std::unique_ptr<Process> DesktopTest::StartKivo(const std::string& dir, const std::vector<std::string>& args) {
    m_installDir = dir.empty() ? Dir() : dir;
    const std::string program = m_installDir + "kivo";
    // A copy already installed there may be running: it is used as it is.
    if (!Exists(program)) InstallProgram(m_program, m_installDir, "kivo");
    std::vector<std::string> shell{"-c", "exec \"$0\" \"$@\" 2>&1"};
    shell.insert(shell.end(), m_launcher.begin(), m_launcher.end());
    shell.push_back(program);
    shell.insert(shell.end(), args.begin(), args.end());
    return std::make_unique<Process>("/bin/sh", shell, ProgramEnv());
}

namespace {

// The 32-bit items (format 32) or bytes (format 8) of a window property.
template <typename Item>
std::vector<Item> Property(::Display* x, Window w, Atom property, Atom type, long maxItems) {
    Atom actualType;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::vector<Item> items;
    const int wanted = sizeof(Item) == 1 ? 8 : 32;
    if (XGetWindowProperty(x, w, property, 0, maxItems, False, type, &actualType, &format, &count, &after, &data) ==
            Success &&
        data != nullptr && format == wanted)
        items.assign(reinterpret_cast<Item*>(data), reinterpret_cast<Item*>(data) + count);
    if (data != nullptr) XFree(data);
    return items;
}

std::string AtomName(::Display* x, Atom atom) {
    char* name = XGetAtomName(x, atom);
    std::string value = name != nullptr ? name : "";
    if (name != nullptr) XFree(name);
    return value;
}

void Walk(::Display* x, Window w, int depth, std::vector<std::pair<XWin, int>>& out) {
    Window root, parent;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(x, w, &root, &parent, &children, &count)) return;
    for (unsigned int i = 0; i < count; ++i) {
        const Window child = children[i];
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(x, child, &attributes)) continue;
        XWin info;
        info.id = child;
        const auto pid = Property<unsigned long>(x, child, XInternAtom(x, "_NET_WM_PID", False), XA_CARDINAL, 1);
        info.pid = pid.empty() ? 0 : static_cast<long>(pid.front());
        const auto name =
            Property<char>(x, child, XInternAtom(x, "_NET_WM_NAME", False), XInternAtom(x, "UTF8_STRING", False), 1024);
        info.name.assign(name.begin(), name.end());
        const auto types = Property<Atom>(x, child, XInternAtom(x, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 64);
        if (!types.empty()) {
            info.type = AtomName(x, types.front());
            const std::string prefix = "_NET_WM_WINDOW_TYPE_";
            if (info.type.rfind(prefix, 0) == 0) info.type.erase(0, prefix.size());
        }
        int rx = 0, ry = 0;
        Window ignored;
        XTranslateCoordinates(x, child, DefaultRootWindow(x), 0, 0, &rx, &ry, &ignored);
        info.rect = {rx, ry, attributes.width, attributes.height};
        info.mapped = attributes.map_state == IsViewable;
        info.overrideRedirect = attributes.override_redirect != 0;
        out.emplace_back(info, depth);
        Walk(x, child, depth + 1, out);
    }
    if (children != nullptr) XFree(children);
}

}  // namespace

std::vector<XWin> DesktopTest::Windows(long pid) {
    std::vector<std::pair<XWin, int>> all;
    XSync(m_x, False);
    Walk(m_x, DefaultRootWindow(m_x), 1, all);
    std::vector<XWin> mine;
    for (const auto& [w, depth] : all)
        if (w.pid == pid && depth == 1) mine.push_back(w);
    return mine;
}

bool DesktopTest::FindWindow(long pid, const std::function<bool(const XWin&)>& match, XWin& found) {
    for (const XWin& w : Windows(pid))
        if (match(w)) {
            found = w;
            return true;
        }
    return false;
}

XWin DesktopTest::WaitForWindow(long pid, const std::function<bool(const XWin&)>& match,
                                std::chrono::milliseconds timeout) {
    XWin found;
    WaitUntil([&] { return FindWindow(pid, match, found); }, timeout);
    return found;
}

XWin DesktopTest::Popup(long pid) {
    XWin popup;
    FindWindow(
        pid,
        [](const XWin& w) {
            return !w.overrideRedirect && w.name.empty() && w.rect.width == 179 && w.rect.height == 221;
        },
        popup);
    return popup;
}

bool DesktopTest::TrayIcon(long pid, XWin& icon) {
    std::vector<std::pair<XWin, int>> all;
    XSync(m_x, False);
    Walk(m_x, DefaultRootWindow(m_x), 1, all);
    for (const auto& [w, depth] : all)
        if (w.pid == pid && depth > 1 && w.mapped && w.rect.width > 0) {
            icon = w;
            return true;
        }
    return false;
}

std::vector<XRect> DesktopTest::ShapeRects(XWindowId id, int kind) {
    int count = 0, ordering = 0;
    XRectangle* rects = XShapeGetRectangles(m_x, id, kind, &count, &ordering);
    std::vector<XRect> out;
    for (int i = 0; i < count; ++i) out.push_back({rects[i].x, rects[i].y, rects[i].width, rects[i].height});
    if (rects != nullptr) XFree(rects);
    return out;
}

std::vector<std::string> DesktopTest::NetWmState(XWindowId id) {
    std::vector<std::string> names;
    for (Atom atom : Property<Atom>(m_x, id, XInternAtom(m_x, "_NET_WM_STATE", False), XA_ATOM, 64))
        names.push_back(AtomName(m_x, atom));
    return names;
}

std::vector<unsigned long> DesktopTest::NetWmIcon(XWindowId id) {
    return Property<unsigned long>(m_x, id, XInternAtom(m_x, "_NET_WM_ICON", False), XA_CARDINAL, 1 << 16);
}

void DesktopTest::SendCloseRequest(XWindowId id) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = id;
    event.xclient.message_type = XInternAtom(m_x, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(m_x, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(m_x, id, False, NoEventMask, &event);
    XFlush(m_x);
}

bool DesktopTest::Xdo(const std::vector<std::string>& args) {
    Process xdo("/usr/bin/xdotool", args, {"DISPLAY=" + m_display});
    return xdo.Wait(std::chrono::seconds(20)) == 0;
}

void DesktopTest::ClickAt(int x, int y, int button) {
    Xdo({"mousemove", std::to_string(x), std::to_string(y)});
    Xdo({"click", std::to_string(button)});
}

void DesktopTest::Key(const std::string& keys) {
    std::vector<std::string> args{"key", "--delay", "80"};
    std::istringstream in(keys);
    std::string key;
    while (in >> key) args.push_back(key);
    Xdo(args);
}

std::string DesktopTest::Screenshot(const std::string& name, const XRect& rect) {
    ::mkdir(KIVO_SCREENSHOT_DIR, 0755);
    const std::string path = std::string(KIVO_SCREENSHOT_DIR) + "/" + name + ".png";
    const std::string crop = std::to_string(rect.width) + "x" + std::to_string(rect.height) + "+" +
                             std::to_string(rect.x) + "+" + std::to_string(rect.y);
    if (m_bWeston) {
        const std::string screen = m_home.Path() + "/shots/screen.png";
        Process shooter("/bin/sh",
                        {"-c",
                         "cd \"$0\" && rm -f wayland-screenshot-*.png && weston-screenshooter && "
                         "mv wayland-screenshot-*.png screen.png",
                         m_home.Path() + "/shots"},
                        {"XDG_RUNTIME_DIR=" + m_home.Path() + "/run", "WAYLAND_DISPLAY=kivo-wayland"});
        shooter.Wait(std::chrono::seconds(30));
        Process cut("/usr/bin/convert", {screen, "-crop", crop, "+repage", path}, {});
        cut.Wait(std::chrono::seconds(30));
        return path;
    }
    Process shot("/usr/bin/import", {"-display", m_display, "-window", "root", "-crop", crop, "+repage", path}, {});
    shot.Wait(std::chrono::seconds(30));
    return path;
}

long DesktopTest::Pid(Process& program) {
    if (!program.WaitForOutput("] start ", std::chrono::seconds(30))) return -1;
    const std::string& out = program.Output();
    return std::atol(out.c_str() + out.find("] start ") + 8);
}

bool DesktopTest::WaitForTrace(Process& program, const std::string& text, std::chrono::milliseconds timeout) {
    return program.WaitForOutput(text, timeout);
}

}  // namespace kivo::test
