#!/usr/bin/env bash
# Installs what is missing, builds the desktop program and the content server,
# starts the server on 127.0.0.1 and runs the program against it.
#
# With a desktop ($DISPLAY set) the popup and tray icon appear there and the
# script ends when the program does (tray menu, 退出程序). Without one, the
# program runs for KIVO_RUN_SECONDS (20) on a private X server with a tray,
# and a screenshot of the screen is saved as build/release/kivo-screen.png.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
kivo_install_packages "${KIVO_BUILD_PACKAGES[@]}" "${KIVO_DESKTOP_PACKAGES[@]}"
[ -n "${DISPLAY:-}" ] || kivo_install_packages "${KIVO_DESKTOP_TEST_PACKAGES[@]}"

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DKIVO_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j2 --target kivo-server kivo

out=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}" ${KIVO_XVFB_PID:-} ${KIVO_TRAY_PID:-}; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}" ${KIVO_XVFB_PID:-} ${KIVO_TRAY_PID:-}; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$out"
}
trap cleanup EXIT
port=${KIVO_PORT:-8123}
build/release/server/kivo-server --port "$port" --db "$out/mail.db" >"$out/server.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^listening' "$out/server.log" && break; sleep 0.1; done
grep -q '^listening' "$out/server.log" || { cat "$out/server.log"; exit 1; }
echo "content server on 127.0.0.1:$port"
export KIVO_SERVER=127.0.0.1:$port
program=build/release/shells/gtk/kivo

if [ -n "${DISPLAY:-}" ]; then
    "$program"
    exit 0
fi

# No desktop: a private X server with a tray.
. scripts/desktop.sh
kivo_start_desktop "$out"
sleep 1
echo "no desktop: running on the private display $DISPLAY for ${KIVO_RUN_SECONDS:-20} s"
KIVO_TRACE=1 XDG_RUNTIME_DIR="$out" "$program" >"$out/trace.log" 2>"$out/kivo.log" &
pids+=($!)
for _ in $(seq "$(( ${KIVO_RUN_SECONDS:-20} * 10 ))"); do
    grep -q 'page loaded' "$out/trace.log" && break
    sleep 0.1
done
sleep 1
import -window root build/release/kivo-screen.png && echo "screenshot: build/release/kivo-screen.png"
cat "$out/trace.log"
sleep "${KIVO_RUN_SECONDS:-20}"
