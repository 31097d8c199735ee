#!/usr/bin/env bash
# Desktop benchmark, run by hand:
#   bash bench/desktop_bench.sh [build-dir] [runs]
# Builds (Release, in build-dir, default build/bench-desktop) kivo with the
# light page view, kivo-webkit, the content server and two peers: a bare
# GTK 3 window and the smallest WebKitGTK window (bench/webkit_window.cpp).
# Each run starts every program once, in turn, on a private X server with a
# tray, against the content server; the bare window and kivo also once as
# the first GTK program of the display (names ending in -first: GDK's
# record of the display's GL visuals is taken off the root window before,
# as on a display where no GTK program ran yet), the others after one. It
# measures
#   - start → window mapped, and start → first page loaded (trace stamps);
#   - PSS (/proc/PID/smaps_rollup, the program and all its helper processes
#     summed) once the first page has loaded, and PSS and RSS after ten list switches
#     (kivo: the mouse wheel over the chooser; the WebKit window: ten more
#     pages loaded one after the other).
# Then min / median / max over the runs, and the ratios of each run's pairs.
# Last, the light page view's input is fuzzed under AddressSanitizer for
# KIVO_FUZZ_SECONDS (180; 0 skips it), in build-dir-fuzz; a page that fails
# is left there as fuzz-current.html.
# Needs KIVO_DESKTOP_PACKAGES and KIVO_DESKTOP_TEST_PACKAGES (scripts/deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/bench-desktop}
runs=${2:-7}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKIVO_BUILD_TESTS=ON >/dev/null
# KIVO_BENCH_WEBKIT=0 leaves out the two WebKit programs (their build and runs).
webkit=${KIVO_BENCH_WEBKIT:-1}
targets=(kivo kivo-server kivo-bench-bare-window)
[ "$webkit" = 0 ] || targets+=(kivo-webkit kivo-bench-webkit-window)
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null

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
export KIVO_SERVER=127.0.0.1:$port no_proxy=127.0.0.1 NO_PROXY=127.0.0.1
pages=(today week hot movie teleplay game novel mm gg mmstar ggstar)
urls=()
for p in "${pages[@]}"; do urls+=("http://$KIVO_SERVER/sml/$p.html"); done

. scripts/desktop.sh
kivo_start_desktop "$work"
sleep 1

# A process and all its descendants.
tree_pids() {
    local pid kids
    local todo=("$1")
    while [ ${#todo[@]} -gt 0 ]; do
        pid=${todo[0]}
        todo=("${todo[@]:1}")
        echo "$pid"
        kids=$(cat /proc/"$pid"/task/*/children 2>/dev/null || true)
        for k in $kids; do todo+=("$k"); done
    done
}
# PSS (kB) of a process and all its descendants.
tree_pss() {
    local total=0 pid
    for pid in $(tree_pids "$1"); do
        total=$(( total + $(awk '/^Pss:/ {print $2}' "/proc/$pid/smaps_rollup" 2>/dev/null || echo 0) ))
    done
    echo "$total"
}
# Resident set (kB) of the same: what PSS would be with no other process
# sharing a page.
tree_rss() {
    local total=0 pid
    for pid in $(tree_pids "$1"); do
        total=$(( total + $(awk '/^Rss:/ {print $2}' "/proc/$pid/smaps_rollup" 2>/dev/null || echo 0) ))
    done
    echo "$total"
}
count() { grep -c "$1" "$2" 2>/dev/null || true; }
stamp() { grep -m1 "$1" "$2" | sed 's/^\[\([0-9]*\)\].*/\1/'; }
wait_for() {  # wait_for PATTERN N FILE: until FILE has N lines with PATTERN
    for _ in $(seq 600); do [ "$(count "$1" "$3")" -ge "$2" ] && return 0; sleep 0.05; done
    echo "  (timed out waiting for $2 x '$1' in $3)" >&2
}

results="$work/results"
: >"$results"
# measure NAME RUN COMMAND...: one start of one program; appends
# "name run metric value" lines.
measure() {
    local name=$1 run=$2
    shift 2
    local dir="$work/$name-$run"
    case "$name" in *-first) xprop -root -remove GDK_VISUALS 2>/dev/null || true ;; esac
    mkdir -p "$dir/home" "$dir/runtime"
    chmod 700 "$dir/runtime"
    local start
    start=$(date +%s%3N)
    HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/home/config" \
        XDG_CACHE_HOME="$dir/home/cache" XDG_DATA_HOME="$dir/home/data" KIVO_TRACE=1 \
        GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 "$@" >"$dir/trace.log" 2>"$dir/stderr.log" &
    local pid=$!
    wait_for 'window mapped' 1 "$dir/trace.log"
    echo "$name $run mapped $(( $(stamp 'window mapped' "$dir/trace.log") - start ))" >>"$results"
    if [ "${name%-first}" != bare ]; then
        wait_for 'page loaded' 1 "$dir/trace.log"
        echo "$name $run first_page $(( $(stamp 'page loaded' "$dir/trace.log") - start ))" >>"$results"
    fi
    sleep 1
    echo "$name $run pss_start $(tree_pss "$pid")" >>"$results"
    if [ "${name%-first}" != bare ]; then
        if [ "$name" != webkit-window ]; then
            xdotool mousemove $(( 835 + 61 + 30 )) $(( 10 + 156 + 9 ))
            for i in $(seq 10); do
                xdotool click 5
                wait_for 'page loaded' $(( i + 1 )) "$dir/trace.log"
            done
        fi
        wait_for 'page loaded' 11 "$dir/trace.log"
        sleep 1
        echo "$name $run pss_switched $(tree_pss "$pid")" >>"$results"
        echo "$name $run rss_switched $(tree_rss "$pid")" >>"$results"
    fi
    # The next program starts once this one and its helper processes (the
    # WebKit views' web and network processes) are gone.
    local tree
    tree=$(tree_pids "$pid")
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    for _ in $(seq 100); do
        local alive=0 p
        for p in $tree; do kill -0 "$p" 2>/dev/null && alive=1; done
        [ "$alive" = 0 ] && break
        sleep 0.05
    done
    sleep 0.5
}

for run in $(seq "$runs"); do
    install="$work/install-$run"
    mkdir -p "$install/lite" "$install/webkit"
    cp "$build/shells/gtk/kivo" "$install/lite/kivo"
    [ "$webkit" = 0 ] || cp "$build/shells/gtk/kivo-webkit" "$install/webkit/kivo"
    measure bare-first "$run" "$build/bench/kivo-bench-bare-window"
    measure bare "$run" "$build/bench/kivo-bench-bare-window"
    measure lite "$run" "$install/lite/kivo"
    if [ "$webkit" != 0 ]; then
        measure webkit-window "$run" "$build/bench/kivo-bench-webkit-window" "${urls[@]}"
        measure webkit "$run" "$install/webkit/kivo"
    fi
    measure lite-first "$run" "$install/lite/kivo"
    echo "run $run done" >&2
done

# min / median / max of each program's figures, and of the run-wise ratios.
summary() {  # summary LABEL < values
    sort -n | awk -v label="$1" '{v[NR] = $1} END {
        if (NR == 0) exit
        m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "%-44s %10.2f %10.2f %10.2f\n", label, v[1], m, v[NR]}'
}
values() { awk -v n="$1" -v m="$2" '$1 == n && $3 == m {print $4}' "$results"; }
ratio() {  # ratio NAME1 NAME2 METRIC: per run, NAME1 / NAME2
    awk -v a="$1" -v b="$2" -v m="$3" '$3 == m && $1 == a {x[$2] = $4} $3 == m && $1 == b {y[$2] = $4}
        END {for (r in x) if (y[r] > 0) print x[r] / y[r]}' "$results"
}
printf '%-44s %10s %10s %10s\n' "$runs runs" min median max
for name in bare-first lite-first bare lite webkit webkit-window; do
    values "$name" mapped | summary "$name: start -> mapped (ms)"
    values "$name" first_page | summary "$name: start -> first page (ms)"
    values "$name" pss_start | awk '{print $1 / 1024}' | summary "$name: PSS after start (MiB)"
    values "$name" pss_switched | awk '{print $1 / 1024}' | summary "$name: PSS after ten switches (MiB)"
    values "$name" rss_switched | awk '{print $1 / 1024}' | summary "$name: RSS after ten switches (MiB)"
done
ratio lite-first bare-first mapped | summary "ratio lite / bare window, first: mapped"
ratio lite-first bare-first pss_start | summary "ratio lite / bare window, first: PSS"
ratio lite bare mapped | summary "ratio lite / bare window: mapped"
ratio lite webkit-window first_page | summary "ratio lite / WebKit window: first page"
ratio lite webkit mapped | summary "ratio lite / kivo-webkit: mapped"
ratio lite webkit pss_switched | summary "ratio lite / kivo-webkit: PSS switched"
ratio lite webkit-window pss_switched | summary "ratio lite / WebKit window: PSS switched"

fuzz_seconds=${KIVO_FUZZ_SECONDS:-180}
if [ "$fuzz_seconds" -gt 0 ]; then
    cmake -S . -B "$build-fuzz" -DCMAKE_BUILD_TYPE=Debug -DKIVO_SANITIZE=ON >/dev/null
    cmake --build "$build-fuzz" -j2 --target kivo-page-fuzz >/dev/null
    for p in "${pages[@]}"; do
        exec 3<>"/dev/tcp/127.0.0.1/$port"
        printf 'GET /sml/%s.html HTTP/1.0\r\n\r\n' "$p" >&3
        sed '1,/^\r$/d' <&3 >"$work/seed-$p.html"
        exec 3<&-
    done
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        "$build-fuzz/bench/kivo-page-fuzz" "$fuzz_seconds" "$build-fuzz/fuzz-current.html" "$work"/seed-*.html ||
        { echo "the page that failed: $build-fuzz/fuzz-current.html"; exit 1; }
fi
