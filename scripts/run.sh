#!/usr/bin/env bash
# Installs what is missing, builds the program and the content server, starts
# the server on 127.0.0.1 and runs the program against it.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
kivo_install_packages "${KIVO_BUILD_PACKAGES[@]}"

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DKIVO_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j2 --target kivo-server kivo-headless

out=$(mktemp -d)
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; rm -rf "$out"' EXIT
port=${KIVO_PORT:-8123}
build/release/server/kivo-server --port "$port" --db "$out/mail.db" >"$out/server.log" 2>&1 &
server=$!
for _ in $(seq 100); do grep -q '^listening' "$out/server.log" && break; sleep 0.1; done
grep -q '^listening' "$out/server.log" || { cat "$out/server.log"; exit 1; }
echo "content server on 127.0.0.1:$port"
export KIVO_SERVER=127.0.0.1:$port
build/release/platform/kivo-headless --once "$@"
