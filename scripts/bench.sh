#!/usr/bin/env bash
# Builds the benchmarks with optimisation and runs them; the README reports
# their figures.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
kivo_install_packages "${KIVO_BUILD_PACKAGES[@]}" "${KIVO_TEST_PACKAGES[@]}"
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/bench -j2 --target kivo-bench-core
build/bench/bench/kivo-bench-core "$@"
