#!/usr/bin/env bash
# Native cost of the WMA module's structure check (a benchmark that prints
# figures, not a test). One command builds and runs it:
#
#   bash tools/bench/native/asf_check.sh [work folder]   (default: build-native-bench in the repository)
#
# It builds the check (modules/in_velvet/asf_structure.cpp, plain C++) with the host's g++ and -O2,
# makes a WMA file of about 10 MB with ffmpeg (128 kbit/s, 3,300 packets) and a short one, and prints
# the best of seven whole checks of each, the file read through pread from the page cache.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
work=$(mkdir -p "${1:-$root/build-native-bench}" && cd "${1:-$root/build-native-bench}" && pwd)
for tool in g++ ffmpeg; do
    command -v $tool >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done
g++ -std=c++17 -O2 -Wall -I"$root/modules/in_velvet" "$root/modules/in_velvet/asf_structure.cpp" \
    "$root/tools/bench/native/asf_check_bench.cpp" -o "$work/asf_check_bench"
if [ ! -s "$work/ten_mb.wma" ]; then
    ffmpeg -loglevel error -y -f lavfi -i "anoisesrc=d=620:c=pink:r=44100:a=0.3" -ac 2 -c:a wmav2 -b:a 128k \
        "$work/ten_mb.wma"
    ffmpeg -loglevel error -y -f lavfi -i "sine=frequency=440:duration=3" -c:a wmav2 -b:a 64k "$work/short.wma"
fi
"$work/asf_check_bench" "$work/ten_mb.wma" "$work/short.wma"
