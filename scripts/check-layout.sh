#!/usr/bin/env bash
# Fails when a floor includes a floor above it. From the bottom: platform/,
# net/, app/, ui/, shells/; each may include only the floors below it.
set -euo pipefail
cd "$(dirname "$0")/.."

status=0
# check FOLDER FLOOR...: no file under FOLDER includes "FLOOR/...".
check() {
    local folder=$1
    shift
    local floors
    floors=$(IFS='|'; echo "$*")
    local hits
    hits=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*\"($floors)/" "$folder" \
               --include='*.h' --include='*.cpp' --include='*.in' || true)
    if [ -n "$hits" ]; then
        echo "$folder/ includes a floor above it:" >&2
        echo "$hits" >&2
        status=1
    fi
}

check platform app net ui shells
check net app ui shells
check app ui shells
check ui shells
[ $status -eq 0 ] && echo "layout: every floor includes only the floors below it"
exit $status
