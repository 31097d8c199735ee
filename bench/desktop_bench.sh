#!/usr/bin/env bash
# Desktop benchmark, run by hand:
#   bash bench/desktop_bench.sh [build-dir] [runs]
# Builds kivo and kivo-server in build-dir (default build/release, Release),
# then for each run starts the content server's pages on a private X server
# with a tray and measures
#   - time from process start to the popup mapped, and to the first page loaded
#     (from KIVO_TRACE time stamps);
#   - resident memory (VmRSS) of kivo plus its WebKit processes after ten list
#     switches, each waited for until its page has loaded.
# Needs the packages of KIVO_DESKTOP_PACKAGES and KIVO_DESKTOP_TEST_PACKAGES
# (scripts/deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
runs=${2:-3}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKIVO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target kivo kivo-server >/dev/null

work=$(mktemp -d)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}" ${KIVO_XVFB_PID:-} ${KIVO_TRAY_PID:-}; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}" ${KIVO_XVFB_PID:-} ${KIVO_TRAY_PID:-}; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

"$build/server/kivo-server" --port 0 --db "$work/mail.db" >"$work/server.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '^listening' "$work/server.log" && break; sleep 0.1; done
port=$(awk '/^listening/ {print $2; exit}' "$work/server.log")
export KIVO_SERVER=127.0.0.1:$port

. scripts/desktop.sh
kivo_start_desktop "$work"
sleep 1

# Sum of VmRSS (kB) of a process and all its descendants, and their number.
tree_rss() {
    local total=0 n=0 pid kids
    local todo=("$1")
    while [ ${#todo[@]} -gt 0 ]; do
        pid=${todo[0]}
        todo=("${todo[@]:1}")
        total=$(( total + $(awk '/^VmRSS/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0) ))
        n=$(( n + 1 ))
        kids=$(cat /proc/"$pid"/task/*/children 2>/dev/null || true)
        for k in $kids; do todo+=("$k"); done
    done
    echo "$total $n"
}

count() { grep -c "$1" "$2" 2>/dev/null || true; }
stamp() { grep -m1 "$1" "$2" | sed 's/^\[\([0-9]*\)\].*/\1/'; }

printf '%-4s %12s %16s %14s %10s\n' run "mapped (ms)" "first page (ms)" "RSS (MiB)" processes
for run in $(seq "$runs"); do
    dir="$work/run$run"
    mkdir -p "$dir/install" "$dir/runtime" "$dir/home"
    chmod 700 "$dir/runtime"
    cp "$build/shells/gtk/kivo" "$dir/install/"
    start=$(date +%s%3N)
    HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/home/config" \
        XDG_CACHE_HOME="$dir/home/cache" XDG_DATA_HOME="$dir/home/data" KIVO_TRACE=1 \
        "$dir/install/kivo" >"$dir/trace.log" 2>"$dir/stderr.log" &
    kivo=$!
    for _ in $(seq 600); do [ "$(count 'page loaded' "$dir/trace.log")" -ge 1 ] && break; sleep 0.05; done
    mapped=$(( $(stamp 'window mapped' "$dir/trace.log") - start ))
    loaded=$(( $(stamp 'page loaded' "$dir/trace.log") - start ))
    sleep 0.5
    # Ten list switches with the mouse wheel over the chooser, one page each.
    xdotool mousemove $(( 835 + 61 + 30 )) $(( 10 + 156 + 9 ))
    for i in $(seq 10); do
        xdotool click 5
        for _ in $(seq 400); do [ "$(count 'page loaded' "$dir/trace.log")" -ge $(( i + 1 )) ] && break; sleep 0.05; done
    done
    sleep 1
    read -r rss procs < <(tree_rss "$kivo")
    printf '%-4s %12s %16s %14s %10s\n' "$run" "$mapped" "$loaded" "$(awk -v k="$rss" 'BEGIN {printf "%.1f", k / 1024}')" "$procs"
    # Which process holds what, in MiB.
    for pid in "$kivo" $(cat /proc/"$kivo"/task/*/children 2>/dev/null); do
        awk -v pid="$pid" '/^Name/ {n = $2} /^VmRSS/ {r = $2} END {printf "       %-22s %8.1f\n", n " (" pid ")", r / 1024}' \
            "/proc/$pid/status" 2>/dev/null || true
    done
    kill "$kivo"
    wait "$kivo" 2>/dev/null || true
    [ "$(count 'page loaded' "$dir/trace.log")" -ge 11 ] || echo "  (run $run: only $(count 'page loaded' "$dir/trace.log") pages loaded)"
done
