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

# The logic speaks intents: no toolkit's messages, keys or notification codes
# under ui/. The page that stands in for a failed one is the logic's: its
# texts appear in no shell.
hits=$(grep -rnwE "(WM|VK|BN|CBN|EN|STN)_[A-Z0-9_]+" ui --include='*.h' --include='*.cpp' || true)
if [ -n "$hits" ]; then
    echo "ui/ names a toolkit's code:" >&2
    echo "$hits" >&2
    status=1
fi
hits=$(grep -rnwE "kszNoServer|kszNoPage|kszNoPageHelp" shells --include='*.h' --include='*.cpp' || true)
if [ -n "$hits" ]; then
    echo "shells/ builds the page that stands in for a failed one (ui/StandInPage does):" >&2
    echo "$hits" >&2
    status=1
fi
[ $status -eq 0 ] && echo "layout: every floor includes only the floors below it; ui/ takes intents"
exit $status
