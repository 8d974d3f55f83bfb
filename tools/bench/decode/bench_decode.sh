#!/usr/bin/env bash
# Times in_strata (in-process, under Wine) against sox and ffmpeg decoding the
# same 10-minute 192 kbps MP3, and prints the ratio sox/ours.
#   tools/bench/decode/bench_decode.sh [build dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work="$build/bench"
mkdir -p "$work"
mp3="$work/bench_10min_192k.mp3"
if [ ! -s "$mp3" ]; then
    sox -n -r 44100 -c 2 -b 16 "$work/src.wav" synth 600 pinknoise sine 440 tremolo 2 50 vol 0.4
    lame --quiet -b 192 "$work/src.wav" "$mp3"
    rm -f "$work/src.wav"
fi

best_of() {  # best wall time in seconds of three runs of a command
    local best=""
    for _ in 1 2 3; do
        local t0 t1
        t0=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        t1=$(date +%s.%N)
        best=$(python3 -c "t=$t1-$t0; b='$best'; print(t if not b or t < float(b) else b)")
    done
    echo "$best"
}

ours_out=$("$root/tools/wine-run.sh" "$build/bin/bench_decode.exe" "$(echo "Z:$mp3" | tr / '\\')" 3)
echo "$ours_out" | grep -v '^in_strata_seconds='
ours=$(echo "$ours_out" | sed -n 's/^in_strata_seconds=//p' | tr -d '\r')
sox_t=$(best_of sox "$mp3" -t s16 /dev/null)
ffmpeg_t=$(best_of ffmpeg -v error -i "$mp3" -f s16le -y /dev/null)
printf 'sox:       %.3f s\n' "$sox_t"
printf 'ffmpeg:    %.3f s\n' "$ffmpeg_t"
python3 -c "o=$ours; print('ratio sox/ours: %.2f   ratio ffmpeg/ours: %.2f' % ($sox_t/o, $ffmpeg_t/o))"
