#!/usr/bin/env bash
# kivo-server against nginx over its static copy (server/deploy/nginx.conf),
# paired in the same run: wrk with 50 connections for 30 s on loopback, the
# fourteen pages in turn, with keep-alive and with a new connection per
# request. Reports pages/s, p99 and the slowest request of each run, the
# ratios kivo-server/nginx, and kivo-server's resident memory before and
# after all runs. Then the importer of live lists: kivo-bench-import (cycles,
# 2 MiB feeds, memory over 1000 cycles), and pages/s of a kivo-server whose
# fourteen lists are imported every second against the same server quiet.
# Then pages/s with the access log and metrics on against off, and a long run
# of every fuzz target (scripts/fuzz.sh).
#
#   bash bench/server_bench.sh [build-dir] [runs] [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
kivo_install_packages "${KIVO_BUILD_PACKAGES[@]}" "${KIVO_BENCH_PACKAGES[@]}"

build=${1:-build/bench-server}
runs=${2:-3}
seconds=${3:-30}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKIVO_BUILD_TESTS=OFF -DKIVO_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target kivo-server kivo-bench-import >/dev/null
server_exe=$build/server/kivo-server

. bench/common.sh
kivo_bench_start

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
rss_kib() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
kivo_pages_lua "$work/pages.lua"

"$server_exe" --port 0 --db "$work/mail.db" >"$work/server.log" 2>&1 &
server_pid=$!
pids+=("$server_pid")
for _ in $(seq 100); do grep -q '^listening' "$work/server.log" && break; sleep 0.1; done
server_port=$(awk '/^listening/ {print $2; exit}' "$work/server.log")

"$server_exe" export "$work/public"
nginx_port=$(free_port)
sed -e "s|listen 80;|listen 127.0.0.1:$nginx_port;|" -e "s|root /srv/kivo/public;|root $work/public;|" \
    -e "s|server 127.0.0.1:8123;|server 127.0.0.1:$server_port;|" server/deploy/nginx.conf >"$work/kivo.conf"
cat >"$work/nginx.conf" <<EOF
worker_processes auto;
pid $work/nginx.pid;
events { worker_connections 1024; }
http { access_log off; include $work/kivo.conf; }
EOF
nginx -p "$work" -c "$work/nginx.conf" -e "$work/nginx-error.log" -g 'daemon off;' &
pids+=($!)
sleep 1

rss_before=$(rss_kib "$server_pid")
served=0
declare -A results
for run in $(seq "$runs"); do
    for mode in keepalive close; do
        # Alternate who goes first, so that neither always gets the warmer machine.
        if [ $((run % 2)) -eq 1 ]; then order="kivo nginx"; else order="nginx kivo"; fi
        for who in $order; do
            port=$server_port
            [ "$who" = nginx ] && port=$nginx_port
            results[$who,$mode,$run]=$(measure "$port" "$mode")
            [ "$who" = kivo ] && served=$((served + $(cut -d' ' -f4 <<<"${results[$who,$mode,$run]}")))
        done
    done
done
rss_after=$(rss_kib "$server_pid")

field() { cut -d' ' -f"$1" <<<"${results[$2,$3,$4]}"; }

echo "kivo-server vs nginx over the export: wrk -t2 -c50 -d${seconds}s, $runs paired runs (min / median / max)"
for mode in keepalive close; do
    echo "== $mode"
    for who in kivo nginx; do
        printf '  %-6s pages/s %-22s p99 ms %-20s slowest ms %s\n' "$who" \
            "$(for r in $(seq "$runs"); do field 1 $who $mode $r; done | stats)" \
            "$(for r in $(seq "$runs"); do field 2 $who $mode $r; done | stats)" \
            "$(for r in $(seq "$runs"); do field 3 $who $mode $r; done | stats)"
    done
    printf '  ratio  pages/s kivo/nginx %s   p99 kivo/nginx %s\n' \
        "$(for r in $(seq "$runs"); do awk -v a="$(field 1 kivo $mode $r)" -v b="$(field 1 nginx $mode $r)" 'BEGIN { printf "%.2f\n", a / b }'; done | stats)" \
        "$(for r in $(seq "$runs"); do awk -v a="$(field 2 kivo $mode $r)" -v b="$(field 2 nginx $mode $r)" 'BEGIN { printf "%.2f\n", a / b }'; done | stats)"
done
echo "kivo-server resident memory: $((rss_before / 1024)).$(((rss_before % 1024) * 10 / 1024)) MiB before, $((rss_after / 1024)).$(((rss_after % 1024) * 10 / 1024)) MiB after $served requests"

# ---- live lists ---------------------------------------------------------------
echo "== the importer (kivo-bench-import, $((runs * 7)) runs, 1000 cycles)"
"$build/bench/kivo-bench-import" $((runs * 7)) 1000

# Fourteen feeds on 127.0.0.11-24 whose rankings move at every request.
cat >"$work/feeds.py" <<'EOF'
import http.server, itertools, json, threading
turns = itertools.count()
class Feed(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        t = next(turns)
        names = ["\u70ed\u70b9 %s-%d" % (self.server.server_address[0], (k + t) % 30) for k in range(30)]
        body = json.dumps({"data": [{"title": n, "hot": 1000 - i, "url": "https://hot.example/%d" % i}
                                    for i, n in enumerate(names)]}).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
    def log_message(self, *args):
        pass
for i in range(14):
    server = http.server.ThreadingHTTPServer(("127.0.0.%d" % (11 + i), 0), Feed)
    print(server.server_address[1], flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
threading.Event().wait()
EOF
python3 "$work/feeds.py" >"$work/feeds.ports" &
pids+=($!)
for _ in $(seq 100); do [ "$(wc -l <"$work/feeds.ports")" -ge 14 ] && break; sleep 0.1; done
cp -r server/data "$work/live"
i=0
for page in today week hot movie teleplay game novel mm gg mmstar ggstar scenic newmusic hotmusic; do
    echo "$page http://127.0.0.$((11 + i)):$(sed -n "$((i + 1))p" "$work/feeds.ports")/ window=0"
    i=$((i + 1))
done >"$work/live/sources.txt"
"$server_exe" import --data "$work/live" --db "$work/live.db" >/dev/null
"$server_exe" --port 0 --data "$work/live" --db "$work/live.db" >"$work/live.log" 2>&1 &
live_pid=$!
pids+=("$live_pid")
for _ in $(seq 100); do grep -q '^listening' "$work/live.log" && break; sleep 0.1; done
live_port=$(awk '/^listening/ {print $2; exit}' "$work/live.log")

# Paired runs, alternating which goes first; the import runs as from cron,
# every second (the shortest period a line may have is five minutes).
declare -A live
for run in $(seq "$runs"); do
    if [ $((run % 2)) -eq 1 ]; then order="quiet importing"; else order="importing quiet"; fi
    for mode in $order; do
        importer=
        if [ "$mode" = importing ]; then
            rm -f "$work/stop"
            ( while [ ! -e "$work/stop" ]; do
                  "$server_exe" import --data "$work/live" --db "$work/live.db" >/dev/null 2>&1 || true
                  sleep 1
              done ) &
            importer=$!
        fi
        live[$mode,$run]=$(measure "$live_port" keepalive)
        if [ -n "$importer" ]; then touch "$work/stop"; wait "$importer"; fi
    done
done
reloads=$(grep -c 'content reloaded' "$work/live.log" || true)
echo "== kivo-server pages/s while its fourteen lists are imported every second ($reloads reloads) against quiet, keep-alive"
for mode in quiet importing; do
    printf '  %-9s pages/s %s\n' "$mode" "$(for r in $(seq "$runs"); do cut -d' ' -f1 <<<"${live[$mode,$r]}"; done | stats)"
done
printf '  ratio importing/quiet %s\n' \
    "$(for r in $(seq "$runs"); do awk -v a="$(cut -d' ' -f1 <<<"${live[importing,$r]}")" -v b="$(cut -d' ' -f1 <<<"${live[quiet,$r]}")" 'BEGIN { printf "%.3f\n", a / b }'; done | stats)"

# The operator's access log and metrics, on against off.
bash bench/ops_bench.sh "$build" "$runs" "$seconds"

# Every fuzz target for a long while (KIVO_FUZZ_SECONDS each, 120 by default).
bash scripts/fuzz.sh "${KIVO_FUZZ_SECONDS:-120}"
