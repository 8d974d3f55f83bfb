#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own 32-bit prefix
# (never ~/.wine). The prefix is created on first use, with Tahoma installed.
set -u
: "${VQ_WINEPREFIX:=${WINEPREFIX:-}}"
if [ -z "$VQ_WINEPREFIX" ]; then
    # Default: a prefix beside the build tree of the program being run.
    d=$(cd "$(dirname "$1")" && pwd)
    while [ "$d" != / ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
    [ "$d" = / ] && d=$(cd "$(dirname "$1")" && pwd)
    VQ_WINEPREFIX="$d/wineprefix"
fi
export WINEPREFIX="$VQ_WINEPREFIX"
export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/.vq-ready" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/.vq-ready" ]; then
        wine wineboot -i >/dev/null 2>&1
        wineserver -w
        mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
        cp /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
        touch "$WINEPREFIX/.vq-ready"
    fi
    flock -u 9
fi
# The first window of a prefix starts its desktop process, which inherits the
# output handles of the program that needed it and lives as long as the Wine
# server. Give the program a file rather than our caller's pipe, so whoever
# reads our output (ctest) sees it end when the program ends.
out=$(mktemp)
wine "$@" >"$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
exit $rc
