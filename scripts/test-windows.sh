#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64 into build/windows and runs
# the Windows tests under Wine against the content server on loopback, the
# program's own on a private X server (Xvfb) with a system tray (trayer).
# Installs what is missing. Needs no display. Extra arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/deps.sh
. scripts/desktop.sh
kivo_install_packages "${KIVO_WINDOWS_PACKAGES[@]}" "${KIVO_WINDOWS_TEST_PACKAGES[@]}"

werror=OFF
[ "${CI:-}" = "true" ] && werror=ON

# The content server the tests steer (the test server with its control port),
# the product server that signs the test installer (kivo-server sign) and the
# settings tool the files of the two builds are compared with run on Linux:
# the ones scripts/test.sh built, or built here.
linux=build/test
if [ ! -x $linux/tests/server_double/kivo-server-double ] || [ ! -x $linux/server/kivo-server ] ||
    [ ! -x $linux/tests/kivo_config_tool ]; then
    kivo_install_packages "${KIVO_BUILD_PACKAGES[@]}" "${KIVO_TEST_PACKAGES[@]}" \
        ${KIVO_DESKTOP_PACKAGES[@]+"${KIVO_DESKTOP_PACKAGES[@]}"}
    linux=build/windows-linux
    cmake -S . -B $linux -DCMAKE_BUILD_TYPE=Release -DKIVO_BUILD_BENCH=OFF >/dev/null
    cmake --build $linux -j2 --target kivo-server-double kivo-server kivo_config_tool
fi
server=$linux/tests/server_double/kivo-server-double
signer=$linux/server/kivo-server
config_tool=$linux/tests/kivo_config_tool
cmake --no-warn-unused-cli -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DKIVO_BUILD_SERVER=OFF -DKIVO_BUILD_BENCH=OFF -DKIVO_WERROR=$werror >/dev/null
cmake --build build/windows -j2

started=$(date +%s)
# The prefix, and with it the temporary folder the tests copy programs into,
# lives in the build tree: the file system the test programs already run from.
work=$(mktemp -d "$root/build/windows/wine.XXXXXX")
server_pid=
stop() {
    [ -n "$1" ] || return 0
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}
cleanup() {
    local status=$?
    trap - EXIT INT TERM
    [ -d "$work/prefix" ] && WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
    stop "$KIVO_TRAY_PID"
    stop "$KIVO_XVFB_PID"
    stop "$server_pid"
    mountpoint -q "$work/ro" 2>/dev/null && umount "$work/ro"
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A private X desktop with its tray at 864,736 to 1024,768.
kivo_start_desktop "$work" || exit 1
export KIVO_TEST_DESKTOP=1 KIVO_TEST_TRAY_RECT=864,736,1024,768

# A fresh 64-bit prefix for this run. Mono and Gecko are switched off, so
# Wine never offers to install them.
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Loopback only: no proxy of the environment may take the tests' requests.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
wineboot -i >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log" >&2; exit 1; }
# The dialogs' 9-point "宋体": the glyphs the program's texts use, under that
# name with its metrics, so that dialog units come out at 1.5 pixels. The
# texts are in the text sources (net/Catalogue.cpp, net/UpdateNotice.cpp,
# ui/Texts.cpp); every source of the program is read, new ones included.
/usr/bin/python3 tests/shells/win32/song_font.py "$WINEPREFIX/drive_c/windows/Fonts/simsun.ttf" \
    $(find app net ui shells platform res/win32 -type f \( -name '*.cpp' -o -name '*.h' \))
# The user's default browser, as the shell finds it for an http URL, is the
# tests' stand-in that writes down how it was started (no DDE: the command).
cp build/windows/tests/shells/win32/kivo_fake_browser.exe "$WINEPREFIX/drive_c/windows/system32/iexplore.exe"
wine reg add 'HKCU\Software\Wine\DllOverrides' /v iexplore.exe /d native /f >/dev/null 2>&1
wine reg add 'HKCR\http\shell\open\command' /ve /d 'C:\windows\system32\iexplore.exe %1' /f >/dev/null 2>&1
wine reg delete 'HKCR\http\shell\open\ddeexec' /f >/dev/null 2>&1 || true
prefixed=$(date +%s)

"$server" --port 0 --control-port 0 --db "$work/mail.db" >"$work/server.out" &
server_pid=$!
for _ in $(seq 100); do
    grep -q '^listening ' "$work/server.out" 2>/dev/null && break
    kill -0 "$server_pid" 2>/dev/null || { echo "the test server ended at start-up" >&2; exit 1; }
    sleep 0.1
done
read -r word port control <"$work/server.out" || true
[ "${word:-}" = "listening" ] || { echo "the test server reported no ports" >&2; exit 1; }

export KIVO_TEST_SERVER="127.0.0.1:$port" KIVO_TEST_CONTROL_PORT="$control"
export KIVO_TEST_UPDATER="$root/build/windows/tests/shells/win32/kivo_probe.exe"
# Signatures of the probe installer by the test key pair: the release tool's
# (kivo-server sign), openssl's, and one by another key.
"$signer" sign --key tests/keys/update-test.key.pem "$KIVO_TEST_UPDATER"
openssl dgst -sha256 -sign tests/keys/update-test.key.pem -out "$KIVO_TEST_UPDATER.openssl.sig" "$KIVO_TEST_UPDATER"
openssl dgst -sha256 -sign tests/keys/other.key.pem -out "$KIVO_TEST_UPDATER.other.sig" "$KIVO_TEST_UPDATER"
# The installer the build made, signed as a release is, for the online
# update from start to end.
installer=$(ls build/windows/kivo-setup-*.exe | head -n 1)
"$signer" sign --key tests/keys/update-test.key.pem "$installer"
export KIVO_TEST_INSTALLER="$root/$installer"
export KIVO_TEST_LINUX_CONFIG_TOOL="$root/$config_tool"
# A copy of kivo.exe in a folder that takes no file: a read-only mount (root,
# as which Wine runs here, ignores permission bits). Skipped where nothing can
# be mounted.
mkdir -p "$work/ro"
if mount -t tmpfs -o size=64m tmpfs "$work/ro" 2>/dev/null; then
    cp build/windows/shells/win32/kivo.exe "$work/ro/" && mount -o remount,ro "$work/ro" &&
        export KIVO_TEST_READONLY_EXE="Z:$(printf '%s' "$work/ro/kivo.exe" | tr / '\\')"
fi
status=0
ctest --test-dir build/windows --output-on-failure "$@" || status=$?
ended=$(date +%s)
echo "wine part: prefix $((prefixed - started)) s, tests $((ended - prefixed)) s"
exit "$status"
