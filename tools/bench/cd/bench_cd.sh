#!/usr/bin/env bash
# Times the audio CD module's Read against the CD-reading layer reading the
# same sectors of the test drive, and prints the ratio.
#   tools/bench/cd/bench_cd.sh [build dir] [rounds] [block bytes]
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
data="$build/testdata/in_platter"
[ -s "$data/long.model" ] || bash "$root/modules/in_platter/tests/make_data.sh" "$data" "$build" >/dev/null
export WINEDLLOVERRIDES=wnaspi32=n
"$root/tools/wine-run.sh" "$build/bin/bench_cd.exe" "$data" "${2:-5}" "${3:-17640}"
