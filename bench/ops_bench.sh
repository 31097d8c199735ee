#!/usr/bin/env bash
# kivo-server with --access-log and --metrics on against the same server with
# both off: both loaded at the same time by a wrk each (1 thread, 25
# connections, keep-alive, the fourteen pages in turn), so that both see the
# same machine; on a shared machine whose other guests take a varying part of
# the cores, two runs one after the other see different machines. The
# starting order alternates. Reports pages/s of each, the ratio on/off, and
# each server's CPU time per page in the same window (min / median / max).
#
#   bash bench/ops_bench.sh [build-dir] [runs] [seconds]     (3 × runs paired runs)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
kivo_install_packages "${KIVO_BUILD_PACKAGES[@]}" "${KIVO_BENCH_PACKAGES[@]}"

build=${1:-build/bench-server}
runs=$((${2:-3} * 3))
seconds=${3:-30}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKIVO_BUILD_TESTS=OFF -DKIVO_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target kivo-server >/dev/null
server_exe=$build/server/kivo-server

. bench/common.sh
kivo_bench_start
kivo_pages_lua "$work/pages.lua"

"$server_exe" --port 0 --db "$work/mail-off.db" >"$work/off.log" 2>&1 &
off_pid=$!
"$server_exe" --port 0 --db "$work/mail-on.db" --access-log "$work/access.log" --metrics 127.0.0.1:0 \
    >"$work/on.log" 2>&1 &
on_pid=$!
pids+=("$off_pid" "$on_pid")
for _ in $(seq 100); do grep -q '^listening' "$work/off.log" && grep -q '^listening' "$work/on.log" && break; sleep 0.1; done
off_port=$(awk '/^listening/ {print $2; exit}' "$work/off.log")
on_port=$(awk '/^listening/ {print $2; exit}' "$work/on.log")

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }  # user + system, 1/100 s
load() {                                                      # load WHO PORT: one wrk into $work/WHO.wrk
    wrk -t1 -c25 -d"${seconds}s" -s "$work/pages.lua" "http://127.0.0.1:$2/" >"$work/$1.wrk"
}
declare -A pages cpu
for run in $(seq "$runs"); do
    off_before=$(cpu_ticks "$off_pid") on_before=$(cpu_ticks "$on_pid")
    if [ $((run % 2)) -eq 1 ]; then
        load off "$off_port" & first=$!
        load on "$on_port" & second=$!
    else
        load on "$on_port" & first=$!
        load off "$off_port" & second=$!
    fi
    wait "$first" "$second"
    for who in off on; do
        pid=$off_pid before=$off_before
        [ "$who" = on ] && pid=$on_pid before=$on_before
        pages[$who,$run]=$(awk '/Requests\/sec/ { print $2 }' "$work/$who.wrk")
        served=$(awk '/requests in/ { print $1 }' "$work/$who.wrk")
        cpu[$who,$run]=$(awk -v t=$(($(cpu_ticks "$pid") - before)) -v n="$served" \
            'BEGIN { printf "%.2f", t * 10000 / n }')  # microseconds
    done
done

ratios() {  # ratios TABLE: on/off of each run, one a line
    local -n table=$1
    for r in $(seq "$runs"); do awk -v a="${table[on,$r]}" -v b="${table[off,$r]}" 'BEGIN { printf "%.3f\n", a / b }'; done
}
echo "== kivo-server with --access-log and --metrics against without, loaded together: $runs runs of ${seconds}s"
for who in off on; do
    printf '  %-3s pages/s %-26s CPU us/page %s\n' "$who" \
        "$(for r in $(seq "$runs"); do echo "${pages[$who,$r]}"; done | stats)" \
        "$(for r in $(seq "$runs"); do echo "${cpu[$who,$r]}"; done | stats)"
done
printf '  ratio on/off: pages/s %s, CPU per page %s (%s lines logged)\n' "$(ratios pages | stats)" \
    "$(ratios cpu | stats)" "$(wc -l <"$work/access.log")"
