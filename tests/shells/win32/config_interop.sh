#!/usr/bin/env bash
# "Configuration.ini" moves between the Windows and the Linux build: each
# build's file, read by the other, gives the same record, saved again gives
# the same bytes, and both builds write the same bytes for the same record.
#   config_interop.sh WINDOWS_TOOL      (KIVO_TEST_LINUX_CONFIG_TOOL: the Linux one)
set -euo pipefail
windows_tool=$1
linux_tool=${KIVO_TEST_LINUX_CONFIG_TOOL:?the Linux kivo_config_tool}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

win() { wine "$windows_tool" "$1" "$(winepath -w "$2")" "${@:3}" | tr -d '\r'; }
lin() { "$linux_tool" "$@"; }
fail() { echo "FAIL: $*" >&2; exit 1; }

# 张三@kivo.cn in GBK, and a record with every field set.
email=d5c5c8fd406b69766f2e636e
mkdir -p "$work/linux" "$work/windows"
lin write "$work/linux" 7 "$email" 1 0 1
win write "$work/windows" 7 "$email" 1 0 1 >/dev/null
[ "$(stat -c %s "$work/linux/Configuration.ini")" = 1016 ] || fail "the Linux file is not 1016 bytes"
cmp "$work/linux/Configuration.ini" "$work/windows/Configuration.ini" || fail "the builds write different bytes"

# Each build reads the other's file as its own.
for dir in linux windows; do
    [ "$(lin dump "$work/$dir")" = "$(win dump "$work/$dir")" ] || fail "the builds read $dir's file differently"
done
lin dump "$work/windows" | grep -qx "email ${email}0*" || fail "the e-mail bytes changed"

# Saved again by the other build, nothing changes.
cp "$work/linux/Configuration.ini" "$work/linux.ini"
win resave "$work/linux" >/dev/null
cmp "$work/linux.ini" "$work/linux/Configuration.ini" || fail "Windows changed the Linux file"
cp "$work/windows/Configuration.ini" "$work/windows.ini"
lin resave "$work/windows"
cmp "$work/windows.ini" "$work/windows/Configuration.ini" || fail "Linux changed the Windows file"
echo "Configuration.ini: the same 1016 bytes from both builds, read and saved alike"
