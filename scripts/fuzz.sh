#!/usr/bin/env bash
# Builds the libFuzzer targets with Debian's clang in build/fuzz (the content
# server's library only, with AddressSanitizer and UndefinedBehaviorSanitizer),
# runs each fuzz_NAME over its committed inputs in tests/fuzz/corpus/NAME
# (every one must pass), then fuzzes each for SECONDS, fresh inputs going to
# a temporary folder. Exits non-zero on any crash, leak or hang, naming the
# input that caused it: copy it into the corpus folder once the fault is
# mended, as a regression case.
#
#   bash scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
kivo_install_packages "${KIVO_BUILD_PACKAGES[@]}" "${KIVO_FUZZ_PACKAGES[@]}"

seconds=${1:-60}
CC=clang CXX=clang++ cmake -S . -B build/fuzz -DKIVO_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/fuzz -j2 >/dev/null

work=$(mktemp -d /tmp/kivo-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
failed=0
for exe in build/fuzz/tests/fuzz/fuzz_*; do
    name=${exe##*/fuzz_}
    corpus=tests/fuzz/corpus/$name
    mkdir -p "$work/$name/new" "$work/$name/crash"
    if ! "$exe" -runs=0 -timeout=20 -artifact_prefix="$work/$name/crash/" "$corpus" >"$work/$name/regress.log" 2>&1; then
        echo "fuzz_$name: a committed input fails:"; tail -30 "$work/$name/regress.log"; failed=1; continue
    fi
    if "$exe" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -print_final_stats=1 \
        -artifact_prefix="$work/$name/crash/" "$work/$name/new" "$corpus" >"$work/$name/fuzz.log" 2>&1; then
        echo "fuzz_$name: $(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/$name/fuzz.log" | grep -o '[0-9]*$') inputs in ${seconds}s, no fault"
    else
        echo "fuzz_$name: FAULT"; tail -40 "$work/$name/fuzz.log"
        mkdir -p build/fuzz/crashes && cp "$work/$name/crash/"* build/fuzz/crashes/ 2>/dev/null || true
        echo "the input is kept in build/fuzz/crashes/"
        failed=1
    fi
done
exit $failed
