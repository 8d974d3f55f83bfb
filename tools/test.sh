#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test under Wine and Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/setup.sh"
build="${VQ_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)"
# Create the test prefix once before the parallel run, and keep one Wine
# server running for it so each test program does not start its own.
export WINEPREFIX="$build/wineprefix" WINEARCH=win32
"$root/tools/wine-run.sh" wineboot >/dev/null 2>&1 || true
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
wineserver -p || true
rc=0
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "$@" || rc=$?
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
exit $rc
