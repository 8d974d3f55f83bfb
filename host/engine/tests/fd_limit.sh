#!/usr/bin/env bash
# fd_limit.sh BUILD LIMIT SOURCES PROGRAM [ARGS...]: runs PROGRAM under a Wine
# server of its own that may keep at most LIMIT files open, with
# VQ_FD_LIMIT_SOURCES=SOURCES. The server is started fresh for a prefix that
# shares drive C with the build's prefix and has a copy of its registry.
set -u
build=$1 limit=$2 sources=$3
shift 3
root=$(cd "$(dirname "$0")/../../.." && pwd)
base=${WINEPREFIX:-$build/wineprefix}
[ -f "$base/.vq-ready" ] || WINEPREFIX=$base "$root/tools/wine-run.sh" cmd /c rem >/dev/null 2>&1
own=$build/testdata/fd_limit_prefix
export WINEPREFIX=$own WINEARCH=win32
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
rm -rf "$own"
mkdir -p "$own/dosdevices"
cp "$base"/*.reg "$base/.update-timestamp" "$own/"
ln -s "$base/drive_c" "$own/drive_c"
ln -s ../drive_c "$own/dosdevices/c:"
ln -s / "$own/dosdevices/z:"
touch "$own/.vq-ready"
rc=0
(ulimit -n "$limit" && VQ_FD_LIMIT_SOURCES=$sources "$root/tools/wine-run.sh" "$@") || rc=$?
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
rm -rf "$own"
exit $rc
