#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64 into build/windows and runs
# the Windows tests under Wine against the content server on loopback.
# Installs what is missing. Needs no display. Extra arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. scripts/deps.sh
kivo_install_packages "${KIVO_WINDOWS_PACKAGES[@]}"

werror=OFF
[ "${CI:-}" = "true" ] && werror=ON

# The content server runs on Linux: the one scripts/test.sh built, or one
# built here.
server=build/test/server/kivo-server
if [ ! -x "$server" ]; then
    kivo_install_packages "${KIVO_BUILD_PACKAGES[@]}" ${KIVO_DESKTOP_PACKAGES[@]+"${KIVO_DESKTOP_PACKAGES[@]}"}
    cmake -S . -B build/windows-server -DCMAKE_BUILD_TYPE=Release -DKIVO_BUILD_TESTS=OFF \
        -DKIVO_BUILD_BENCH=OFF >/dev/null
    cmake --build build/windows-server -j2 --target kivo-server
    server=build/windows-server/server/kivo-server
fi

cmake --no-warn-unused-cli -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
    -DKIVO_BUILD_SERVER=OFF -DKIVO_BUILD_BENCH=OFF -DKIVO_WERROR=$werror >/dev/null
cmake --build build/windows -j2

started=$(date +%s)
# The prefix, and with it the temporary folder the tests copy programs into,
# lives in the build tree: the file system the test programs already run from.
work=$(mktemp -d "$root/build/windows/wine.XXXXXX")
server_pid=
cleanup() {
    local status=$?
    trap - EXIT INT TERM
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
    [ -d "$work/prefix" ] && WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A fresh 64-bit prefix for this run. Mono and Gecko are switched off, so
# Wine never offers to install them; console programs need no display.
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
# Loopback only: no proxy of the environment may take the tests' requests.
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
wineboot -i >"$work/wineboot.log" 2>&1 || { cat "$work/wineboot.log" >&2; exit 1; }
prefixed=$(date +%s)

"$server" --port 0 --control-port 0 --db "$work/mail.db" >"$work/server.out" &
server_pid=$!
for _ in $(seq 100); do
    grep -q '^listening ' "$work/server.out" 2>/dev/null && break
    kill -0 "$server_pid" 2>/dev/null || { echo "kivo-server ended at start-up" >&2; exit 1; }
    sleep 0.1
done
read -r word port control <"$work/server.out" || true
[ "${word:-}" = "listening" ] || { echo "kivo-server reported no ports" >&2; exit 1; }

export KIVO_TEST_SERVER="127.0.0.1:$port" KIVO_TEST_CONTROL_PORT="$control"
export KIVO_TEST_UPDATER="$root/build/windows/tests/windows/kivo_probe.exe"
status=0
ctest --test-dir build/windows --output-on-failure "$@" || status=$?
ended=$(date +%s)
echo "wine part: prefix $((prefixed - started)) s, tests $((ended - prefixed)) s"
exit "$status"
