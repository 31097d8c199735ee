# Installs the Debian packages named in the given lists that are missing.
# Sourced by run.sh and test.sh; needs root (apt-get) only when something is missing.
kivo_install_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -qq
        apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
}

KIVO_BUILD_PACKAGES=(g++ make cmake pkg-config ca-certificates
    libcurl4-openssl-dev libssl-dev libcpp-httplib-dev libsqlite3-dev libmicrohttpd-dev libpq-dev
    libxml2-dev nlohmann-json3-dev libsystemd-dev zlib1g-dev)
# The content server's tests also run a real nginx over its static copy and a
# real PostgreSQL for the subscriptions.
KIVO_TEST_PACKAGES=(libgtest-dev libgmock-dev openssl nginx-light postgresql
    goaccess prometheus clang-format)
# The server package's test: the unit checked by systemd-analyze (man-db for
# its Documentation= line), both packages by lintian.
KIVO_PACKAGE_TEST_PACKAGES=(systemd man-db lintian)
# The fuzz targets (scripts/fuzz.sh): Debian's clang with libFuzzer.
KIVO_FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# The content server's benchmark (bench/server_bench.sh): wrk against it and nginx.
KIVO_BENCH_PACKAGES=(wrk nginx-light python3)
# The desktop program (GTK 3, its light page view on litehtml and gumbo, the
# WebKitGTK 4.1 page view, a CJK font for its texts) and what its desktop
# tests drive it with: a private X server, a system tray, input and
# screenshots; weston with XWayland for a Wayland session; socat to bring a
# server up at an address the program already asks; the
# accessibility bus (at-spi2-core, read through python3-gi's Atspi; dbus-send
# asks for it), and xprop, with which the desktop benchmark makes the next
# program the first GTK program of its display.
KIVO_DESKTOP_PACKAGES=(libgtk-3-dev libfontconfig-dev liblitehtml-dev libgumbo-dev libwebkit2gtk-4.1-dev libayatana-appindicator3-dev
    libx11-dev libxext-dev fonts-wqy-zenhei)
KIVO_DESKTOP_TEST_PACKAGES=(xvfb trayer xdotool imagemagick dbus-daemon weston xwayland socat
    at-spi2-core dbus-bin python3-gi gir1.2-atspi-2.0 x11-utils)
# The Linux packages: runtime dependencies of the .deb, and the checks of the
# desktop entry and the software-centre metadata.
KIVO_PACKAGE_PACKAGES=(dpkg-dev desktop-file-utils appstream lintian)
# The Windows build and its tests: the mingw-w64 cross compiler with POSIX
# threads, GoogleTest's sources to build with it, and 64-bit Wine to run them.
KIVO_WINDOWS_PACKAGES=(cmake make g++-mingw-w64-x86-64-posix googletest wine wine64 nsis libz-mingw-w64-dev)
# The Windows program's tests: an X server with a tray for it, and the tools
# that make the test font for its dialogs from the CJK font.
KIVO_WINDOWS_TEST_PACKAGES=(xvfb trayer imagemagick python3 fonttools fonts-wqy-zenhei)
