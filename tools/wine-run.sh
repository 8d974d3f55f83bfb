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
# Debian's wine32 needs a kernel that runs 32-bit Linux programs; where it
# cannot, tools/build-wine.sh provides a WoW64 build (64-bit prefix that runs
# our 32-bit programs).
if [ -f /opt/vq-wine/.vq-complete ]; then
    export PATH="/opt/vq-wine/bin:$PATH"
    unset WINEARCH
else
    export WINEARCH=win32
fi
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
if [ ! -f "$WINEPREFIX/.vq-ready" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/.vq-ready" ]; then
        wineboot -i >/dev/null 2>&1
        wineserver -w
        mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
        cp /usr/share/wine/fonts/tahoma*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
        if [ -d "$WINEPREFIX/drive_c/windows/syswow64" ]; then
            cp /usr/i686-w64-mingw32/lib/zlib1.dll "$WINEPREFIX/drive_c/windows/syswow64/" 2>/dev/null || true
            cp /usr/x86_64-w64-mingw32/lib/zlib1.dll "$WINEPREFIX/drive_c/windows/system32/" 2>/dev/null || true
        fi
        touch "$WINEPREFIX/.vq-ready"
    fi
    flock -u 9
fi
exec wine "$@"
