# Sourced by the benchmark scripts with their arguments (<bin dir> <work dir> ...):
# sets bin and work (made if need be, both absolute), here (the script's
# folder), run (wine-run.sh) and win (a Unix path as Wine's Z: path).
bin=$(cd "${1:?bin dir}" && pwd)
work=${2:?work dir}
mkdir -p "$work"
work=$(cd "$work" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
run="$here/../wine-run.sh"
win() { echo "Z:${1//\//\\}"; }

# Exports the Wine prefix that wine-run.sh picks for the programs in $work
# (beside their build tree), unless one is set.
bench_prefix() {
    if [ -z "${WINEPREFIX:-}" ]; then
        local d=$work
        while [ "$d" != / ] && [ ! -f "$d/CMakeCache.txt" ]; do d=$(dirname "$d"); done
        [ "$d" = / ] && d=$work
        WINEPREFIX=$d/wineprefix
    fi
    export WINEPREFIX WINEARCH=win32
}
