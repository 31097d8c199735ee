#!/usr/bin/env bash
# Installs what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs every test. The desktop tests start
# their own X server, tray and content server for each test and stop them
# again: nothing needs a display here.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
kivo_install_packages "${KIVO_BUILD_PACKAGES[@]}" "${KIVO_TEST_PACKAGES[@]}" \
    "${KIVO_DESKTOP_PACKAGES[@]}" "${KIVO_DESKTOP_TEST_PACKAGES[@]}" "${KIVO_PACKAGE_TEST_PACKAGES[@]}"

# Each floor includes only the floors below it, and every source is formatted.
bash scripts/check-layout.sh
bash scripts/check-format.sh

werror=OFF
[ "${CI:-}" = "true" ] && werror=ON
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DKIVO_SANITIZE=ON -DKIVO_WERROR=$werror >/dev/null
cmake --build build/test -j2

# The Linux packages, which the package tests install and run.
bash scripts/package.sh >/dev/null
export KIVO_TEST_DEB=$PWD/$(ls build/package/kivo_*_*.deb) KIVO_TEST_TGZ=$PWD/$(ls build/package/kivo-*-linux-*.tar.gz)
export KIVO_TEST_SERVER_DEB=$PWD/$(ls build/package/kivo-server_*_*.deb)

# Every request of the tests goes to loopback, never through a proxy.
export no_proxy=127.0.0.1,localhost${no_proxy:+,$no_proxy}
export NO_PROXY=$no_proxy
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
ctest --test-dir build/test --output-on-failure -j2 -LE package "$@"
# The server package's test installs with apt: alone, after the others.
ctest --test-dir build/test --output-on-failure -L package "$@"

# Every input of the content server fuzzed for a few seconds, after its
# committed regression inputs.
bash scripts/fuzz.sh 5

# The threaded parts once more under ThreadSanitizer (settings saves, jobs,
# transfers, the channel between copies, the content server's event loops and
# its reloads, the importer of live lists, the access log and metrics): a
# data race fails the run.
cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DKIVO_TSAN=ON -DKIVO_WERROR=$werror >/dev/null
cmake --build build/tsan -j2 --target core_test jobs_test transfer_test program_test server_test import_test \
    operator_test
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp
for suite in core_test jobs_test transfer_test program_test server_test import_test operator_test; do
    build/tsan/tests/$suite --gtest_brief=1
done

# The Windows build, cross-compiled, and its tests under Wine.
bash scripts/test-windows.sh
