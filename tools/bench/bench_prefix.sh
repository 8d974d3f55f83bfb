# Sourced by the benchmark scripts: exports the Wine prefix that wine-run.sh
# picks for programs in $1 (beside their build tree), unless one is set.
if [ -z "${WINEPREFIX:-}" ]; then
    d=$1
    while [ "$d" != / ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
    [ "$d" = / ] && d=$1
    WINEPREFIX=$d/wineprefix
fi
export WINEPREFIX WINEARCH=win32
