#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test under Wine and Xvfb.
# Extra arguments go to ctest (e.g. -R in_strata).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/setup.sh"
build="${VQ_BUILD_DIR:-$root/build}"
echo "test: building in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)"
# Create the test prefix once before the parallel run, and keep one Wine
# server running for it so each test program does not start its own. A server
# left by an earlier run is stopped first: its desktop may belong to a display
# that is gone.
export WINEPREFIX="$build/wineprefix" WINEARCH=win32
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
"$root/tools/wine-run.sh" wineboot >/dev/null 2>&1 || true
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
wineserver -p || true
echo "test: running the tests"
rc=0
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "$@" || rc=$?
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
for d in "$build/testdata/app/screens" "$build/screenshots"; do
    [ -d "$d" ] && echo "test: screenshots in $d"
done
[ -f "$build/splash_screenshot.bmp" ] && echo "test: splash screenshot in $build/splash_screenshot.bmp"
exit $rc
