# shellcheck shell=bash
# What the server benchmarks share (sourced): their temporary folder, the
# program's refresh pattern for wrk, one wrk run, and min / median / max.

# kivo_bench_start: a temporary folder in $work, removed at exit together
# with every process whose pid is added to the array pids.
kivo_bench_start() {
    work=$(mktemp -d /tmp/kivo-bench.XXXXXX)
    chmod 755 "$work"
    pids=()
    trap kivo_bench_cleanup EXIT
}
kivo_bench_cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}

# kivo_pages_lua FILE: a wrk script asking the fourteen pages in turn.
kivo_pages_lua() {
    cat >"$1" <<'EOF'
local pages = {"today", "week", "hot", "movie", "teleplay", "game", "novel", "mm", "gg",
               "mmstar", "ggstar", "scenic", "newmusic", "hotmusic"}
local i = 0
request = function()
    i = i % #pages + 1
    return wrk.format("GET", "/sml/" .. pages[i] .. ".html")
end
EOF
}

# measure PORT keepalive|close: one wrk run of $seconds with the script at
# $work/pages.lua; prints "pages/s p99-ms max-ms requests".
measure() {
    local port=$1 mode=$2 out
    local header=()
    [ "$mode" = close ] && header=(-H "Connection: close")
    out=$(wrk -t2 -c50 -d"${seconds}s" --latency ${header[@]+"${header[@]}"} -s "$work/pages.lua" "http://127.0.0.1:$port/")
    awk '
        function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; if (v ~ /m$/) return v * 60000; return v * 1000 }
        /Requests\/sec/ { rps = $2 }
        /^ +Latency +[0-9]/ { max = ms($4) }
        /^ +99%/ { p99 = ms($2) }
        /requests in/ { n = $1 }
        END { printf "%.0f %.2f %.2f %d\n", rps, p99, max, n }' <<<"$out"
}

stats() {  # min median max of the numbers on stdin
    sort -g | awk '{ v[NR] = $1 } END { printf "%s %s %s", v[1], v[int((NR + 1) / 2)], v[NR] }'
}
