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

# Sets builds ("new", or "base new" with a baseline bin folder in $base) and
# copies each build's vq_headless.exe, its DLLs and the given modules into
# $work/<build>, checking first that each is there.
#   bench_headless_builds <module name>...
bench_headless_builds() {
    local tag b f m
    builds="new"
    [ -n "${base:-}" ] && builds="base new"
    for tag in $builds; do
        b=$bin
        [ "$tag" = base ] && b=$base
        for f in vq_headless.exe $(printf 'modules/%s.dll ' "$@"); do
            [ -f "$b/$f" ] || { echo "missing $b/$f"; exit 1; }
        done
        rm -rf "${work:?}/$tag"
        mkdir -p "$work/$tag/modules"
        for m in "$@"; do cp "$b/modules/$m.dll" "$work/$tag/modules/"; done
        cp "$b"/*.dll "$work/$tag/" 2>/dev/null || true
        cp "$b/vq_headless.exe" "$work/$tag/"
    done
}
