#!/usr/bin/env bash
# Benchmark of the file batch engine (not a test): converts a 10-minute and a
# 60-minute 192 kbps MP3 to WAV through vq_headless (timed inside the process,
# under Wine) and times sox and ffmpeg on the same files.
#   engine_bench.sh <bin dir> <work dir>
set -eu
bin=$(cd "${1:?bin dir}" && pwd)
work=${2:?work dir}
mkdir -p "$work"
work=$(cd "$work" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
run="$here/../wine-run.sh"
win() { echo "Z:${1//\//\\}"; }

for m in enc_linear in_strata; do
    [ -f "$bin/modules/$m.dll" ] || { echo "missing $bin/modules/$m.dll"; exit 1; }
done
mkdir -p "$work/modules" "$work/out"
cp "$bin/modules/enc_linear.dll" "$bin/modules/in_strata.dll" "$work/modules/"
cp "$bin"/*.dll "$work/" 2>/dev/null || true
cp "$bin/vq_headless.exe" "$work/"

make_mp3() {  # minutes
    local f="$work/bench_$1min.mp3"
    if [ ! -f "$f" ]; then
        sox -n -r 44100 -c 2 -b 16 -t wav - synth "$(($1 * 60))" sine 110-1760 sine 440 \
            pinknoise remix 1,3 2,3 gain -9 | lame --quiet -b 192 - "$f.tmp"
        mv "$f.tmp" "$f"
    fi
    echo "$f"
}

measure() {  # minutes
    local mp3 ours line secs peak sox_s sox_kb ff_s ff_kb
    mp3=$(make_mp3 "$1")
    rm -f "$work/out/"*.wav
    line=$(cd "$work" && "$run" "$work/vq_headless.exe" --modules "$(win "$work/modules")" \
        --out "$(win "$work/out")" --pattern "%f.wav" --log "$(win "$work/bench.log")" --time "$(win "$mp3")" |
        tr -d '\r' | grep '^engine-seconds')
    secs=$(echo "$line" | awk '{print $2}')
    peak=$(echo "$line" | awk '{print $4}')
    read -r sox_s sox_kb < <( { /usr/bin/time -f "%e %M" sox "$mp3" "$work/sox.wav" 2>&1 >/dev/null; } | tail -1)
    read -r ff_s ff_kb < <( { /usr/bin/time -f "%e %M" ffmpeg -v error -y -i "$mp3" "$work/ffmpeg.wav" 2>&1 >/dev/null; } | tail -1)
    local ratio
    ratio=$(awk -v a="$sox_s" -v b="$secs" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
    printf "%2d min MP3 -> WAV: ours %.2f s (peak working set %d KiB) | sox %.2f s (%d KiB) | ffmpeg %.2f s (%d KiB) | sox/ours %s\n" \
        "$1" "$secs" "$peak" "$sox_s" "$sox_kb" "$ff_s" "$ff_kb" "$ratio"
    ls -l "$work/out/"*.wav | awk '{print "   output bytes:", $5}'
}

measure 10
measure 60
