#!/usr/bin/env bash
# Times in_velvet (in-process, under Wine) against the platform's WMA reader
# decoding the same 5-minute 128 kbps file alone, in one run, and prints the
# ratio module/reader.
#   tools/bench/velvet/bench_velvet.sh [build dir] [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
runs=${2:-5}
work="$build/bench"
mkdir -p "$work"
wma="$work/bench_5min_128k.wma"
if [ ! -s "$wma" ]; then
    sox -n -r 44100 -c 2 -b 16 "$work/velvet_src.wav" synth 300 pinknoise sine 440 tremolo 2 50 vol 0.4
    ffmpeg -v error -y -i "$work/velvet_src.wav" -c:a wmav2 -b:a 128k "$wma"
    rm -f "$work/velvet_src.wav"
fi
export GST_REGISTRY="${GST_REGISTRY:-$build/testdata/gst-registry-i386.bin}"
"$root/tools/wine-run.sh" "$build/bin/bench_velvet.exe" "$(echo "Z:$wma" | tr / '\\')" "$runs"
