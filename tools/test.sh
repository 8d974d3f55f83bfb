#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test under Wine and Xvfb.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/setup.sh"
build="${VQ_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)"
# Create the test prefix once before the parallel run.
VQ_WINEPREFIX="$build/wineprefix" timeout 300 "$root/tools/wine-run.sh" wineboot >/dev/null 2>&1 || true
# The Windows test programs need a Wine that can start 32-bit programs. Where
# it cannot (see README), only the tests that run on the host itself are run:
# the test-data generators and the export-table checks.
filter=()
if ! VQ_WINEPREFIX="$build/wineprefix" timeout 120 "$root/tools/wine-run.sh" \
        "$build/bin/common_tests.exe" --gtest_list_tests >/dev/null 2>&1; then
    echo "test: Wine cannot start 32-bit programs on this machine; running host-side tests only" >&2
    filter=(-R '(_data|_cleanup)$|^check_exports')
fi
rc=0
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "${filter[@]}" || rc=$?
PATH="/opt/vq-wine/bin:$PATH" WINEPREFIX="$build/wineprefix" wineserver -k 2>/dev/null || true
exit $rc
