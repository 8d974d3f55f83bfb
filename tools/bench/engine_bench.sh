#!/usr/bin/env bash
# Benchmark of the file batch engine (not a test): vq_headless converting a
# 240 s 192 kbps MP3 to WAV (MPEG input module -> engine -> WAV encoder), beside
# its floor: the bare decoder library, built like ours, decoding the same file
# and writing its samples in 100 ms chunks (bench_floor). Both run under the
# same Wine and emulator in the same run, alternately, five times; both time
# themselves inside the process. Then a 960 s file once each, to see that
# memory stays flat in track length.
#   cmake --build build --target engine_bench
#   (or: engine_bench.sh <bin dir> <work dir>)
# engine_bench.sh <bin dir> <work dir> pinned: instead, everything on one
# processor (taskset -c 0): the 240 s file with the worker thread above the
# MPEG decoder thread and the other way round, each against the floor run the
# same way, alternately, twice.
# Where the kernel runs 32-bit programs itself, VQ_BENCH_QEMU=<path to a static
# qemu-i386> runs them all through that emulator instead, registered in a
# private binfmt_misc of a new user namespace (the machine's stays untouched).
set -eu
if [ -n "${VQ_BENCH_QEMU:-}" ] && [ -z "${VQ_BENCH_IN_NS:-}" ]; then
    exec env VQ_BENCH_IN_NS=1 unshare --user --map-root-user --mount bash -c '
        mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc &&
        printf "%s" ":qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$VQ_BENCH_QEMU:F" \
            >/proc/sys/fs/binfmt_misc/register && exec bash "$0" "$@"' "$0" "$@"
fi
. "$(dirname "$0")/bench_common.sh" "$@"

for f in modules/enc_linear.dll modules/in_strata.dll vq_headless.exe bench_floor.exe; do
    [ -f "$bin/$f" ] || { echo "missing $bin/$f"; exit 1; }
done
mkdir -p "$work/modules" "$work/out"
cp "$bin/modules/enc_linear.dll" "$bin/modules/in_strata.dll" "$work/modules/"
cp "$bin"/*.dll "$work/" 2>/dev/null || true
cp "$bin/vq_headless.exe" "$bin/bench_floor.exe" "$work/"

make_mp3() {  # seconds
    local f="$work/bench_$1s.mp3"
    if [ ! -f "$f" ]; then
        sox -n -r 44100 -c 2 -b 16 -t wav - synth "$1" sine 110-1760 sine 440 \
            pinknoise remix 1,3 2,3 gain -9 | lame --quiet -b 192 - "$f.tmp"
        mv "$f.tmp" "$f"
    fi
    echo "$f"
}

# Prints "<seconds> <peak working set KiB> <cpu seconds>" of one run.
engine() {
    rm -f "$work/out/"*.wav
    (cd "$work" && "$run" "$work/vq_headless.exe" --modules "$(win "$work/modules")" \
        --out "$(win "$work/out")" --pattern "%f.wav" --log "$(win "$work/bench.log")" --time "$(win "$1")") |
        tr -d '\r' | awk '/^engine-seconds/ {print $2, $4, $8}'
}
floor() {
    (cd "$work" && "$run" "$work/bench_floor.exe" "$(win "$1")" "$(win "$work/floor.wav")") |
        tr -d '\r' | awk '/^floor-seconds/ {print $2, $4}'
}
# Puts one thread of the running vq_headless of this prefix in the idle
# scheduling class: "decoder" (its MPEG decoder thread, the one thread named
# like the program besides the main one) or "worker" (the main thread, which
# runs the engine). Wine maps thread priorities to the system's only when its
# server may raise them (RLIMIT_NICE above 20); where it may not, this gives
# the lower thread of a pair what strict priorities would: the processor only
# when the other one waits.
lower_thread() {
    local i p t pid="" tid=""
    for i in $(seq 1000); do
        for p in $(pgrep -x vq_headless.exe); do
            { tr '\0' '\n' <"/proc/$p/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && pid=$p
        done
        if [ -n "$pid" ]; then
            for t in /proc/"$pid"/task/*; do
                t=${t##*/}
                [ "$t" != "$pid" ] && [ "$(cat "/proc/$pid/task/$t/comm" 2>/dev/null)" = vq_headless.exe ] && tid=$t
            done
            [ -n "$tid" ] && break
        fi
        sleep 0.01
    done
    [ -n "$tid" ] || { echo "lower_thread: no decoder thread seen" >&2; return 0; }
    [ "$1" = worker ] && tid=$pid
    chrt -i -p 0 "$tid" && echo "lower_thread: $1 thread $tid in the idle class" >&2 || true
}
# One processor: "<seconds> <cpu seconds>" of a run with the worker's and the
# decoder's priority (--priority value; in_strata's "Priority" setting), the
# lower one also put in the idle class.
pinned_engine() {
    printf '[Default]\r\nPriority=%s\r\n' "$3" >"$work/modules/in_strata.ini"
    rm -f "$work/out/"*.wav
    (cd "$work" && taskset -c 0 "$run" "$work/vq_headless.exe" --modules "$(win "$work/modules")" \
        --out "$(win "$work/out")" --pattern "%f.wav" --log "$(win "$work/bench.log")" --priority "$2" \
        --time "$(win "$1")" >"$work/pinned.txt") &
    local job=$!
    lower_thread "$4"
    wait $job
    tr -d '\r' <"$work/pinned.txt" | awk '/^engine-seconds/ {print $2, $8}'
    rm -f "$work/modules/in_strata.ini"
}
# Smallest and middle value of the arguments.
stats() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[1], v[int((NR + 1) / 2)]}'; }

# On a shared machine other work slows single runs: the best run is the
# figure to compare, the median shows the spread.
if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    echo "32-bit programs run through $(sed -n 's/^interpreter //p' /proc/sys/fs/binfmt_misc/qemu-i386)"
else
    echo "32-bit programs run natively"
fi
if [ "${3:-}" = pinned ]; then
    # lower_thread finds the run's process by its prefix.
    bench_prefix
    mp3=$(make_mp3 240)
    echo "one processor (taskset -c 0), 240 s MP3 -> WAV:"
    for round in 1 2; do
        read -r fs fk < <(cd "$work" && taskset -c 0 "$run" "$work/bench_floor.exe" "$(win "$mp3")" \
            "$(win "$work/floor.wav")" | tr -d '\r' | awk '/^floor-seconds/ {print $2, $4}')
        # Worker highest (2) over a normal decoder (3); worker normal (0) under a highest decoder (5).
        read -r as ac < <(pinned_engine "$mp3" 2 3 decoder)
        read -r bs bc < <(pinned_engine "$mp3" 0 5 worker)
        printf "round %d: floor %.3f s; worker above decoder %.3f s (cpu %.3f s, %.2fx floor);" \
            "$round" "$fs" "$as" "$ac" "$(awk -v a="$as" -v b="$fs" 'BEGIN { print a / b }')"
        printf " decoder above worker %.3f s (cpu %.3f s, %.2fx floor)\n" \
            "$bs" "$bc" "$(awk -v a="$bs" -v b="$fs" 'BEGIN { print a / b }')"
    done
    exit 0
fi
mp3=$(make_mp3 240)
engines=() floors=()
for round in 1 2 3 4 5; do
    read -r fs fk < <(floor "$mp3")
    read -r es ek ec < <(engine "$mp3")
    printf "round %d: engine %.3f s (cpu %.3f s), floor %.3f s\n" "$round" "$es" "$ec" "$fs"
    engines+=("$es")
    floors+=("$fs")
done
read -r emin emed < <(stats "${engines[@]}")
read -r fmin fmed < <(stats "${floors[@]}")
printf "240 s MP3 -> WAV: engine best %.3f s (median %.3f), floor best %.3f s (median %.3f)\n" "$emin" "$emed" "$fmin" "$fmed"
printf "   engine/floor: %.2fx best to best, %.2fx median to median\n" \
    "$(awk -v a="$emin" -v b="$fmin" 'BEGIN { print a / b }')" "$(awk -v a="$emed" -v b="$fmed" 'BEGIN { print a / b }')"
printf "   output data bytes: engine %s, floor %s\n" \
    "$(stat -c %s "$work/out/"*.wav)" "$(stat -c %s "$work/floor.wav")"
printf "   peak working set: engine %d KiB, floor %d KiB\n" "$ek" "$fk"

long=$(make_mp3 960)
read -r ls lk lc < <(engine "$long")
read -r lfs lfk < <(floor "$long")
printf "960 s MP3 -> WAV, once: engine %.3f s, floor %.3f s, engine/floor %.2fx\n" \
    "$ls" "$lfs" "$(awk -v a="$ls" -v b="$lfs" 'BEGIN { print a / b }')"
printf "   peak working set: engine %d KiB (%+d KiB against 240 s), floor %d KiB\n" "$lk" "$((lk - ek))" "$lfk"
