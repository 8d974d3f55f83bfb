#!/usr/bin/env bash
# Benchmark of the MPEG input module (not a test): a 120 s 192 kbps MP3
# decoded through in_strata's Read in the host's block size (100 ms), against
# the bare decoder library, built like the module's, decoding the same file
# (strata_bench module|bare). One run of each after an untimed warm-up, each
# timing itself inside its process; with perf, the context switches of each
# run's processes, and those of the Wine server while it runs, beside those of
# a run on a 1 s file (start-up and loading), so the difference is what
# decoding the 120 s adds.
#   cmake --build build --target strata_bench_run
#   (or: strata_bench.sh <bin dir> <work dir>)
# With STRATA_BENCH_OTHER=<another build of in_strata.dll>, that build and
# this one then read the 120 s file alternately, three times each
# (STRATA_BENCH_ROUNDS=<n> times each), and the best and middle runs of each are shown.
set -eu
. "$(dirname "$0")/bench_common.sh" "$@"

for f in modules/in_strata.dll strata_bench.exe; do
    [ -f "$bin/$f" ] || { echo "missing $bin/$f"; exit 1; }
done
mkdir -p "$work/modules"
cp "$bin/modules/in_strata.dll" "$work/modules/"
cp "$bin"/*.dll "$work/" 2>/dev/null || true
cp "$bin/strata_bench.exe" "$work/"

bench_prefix

make_mp3() {  # seconds
    local f="$work/bench_$1s.mp3"
    if [ ! -f "$f" ]; then
        sox -n -r 44100 -c 2 -b 16 -t wav - synth "$1" sine 110-1760 sine 440 pinknoise remix 1,3 2,3 gain -9 \
            2>/dev/null | lame --quiet -b 192 - "$f.tmp"
        mv "$f.tmp" "$f"
    fi
    echo "$f"
}
mp3=$(make_mp3 120)
short=$(make_mp3 1)

if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    echo "32-bit programs run through $(sed -n 's/^interpreter //p' /proc/sys/fs/binfmt_misc/qemu-i386)"
else
    echo "32-bit programs run natively"
fi

# The Wine server of the prefix: kept running, found by its working folder
# (<temp>/server-<device>-<inode> of the prefix).
# Warm-up: starts the prefix, caches the file; a first load of the module
# costs some 2000 context switches more than later ones.
"$run" "$work/strata_bench.exe" bare "$(win "$mp3")" >/dev/null
"$run" "$work/strata_bench.exe" module "$(win "$short")" >/dev/null
wineserver -p 60 2>/dev/null || true  # stays up between the runs
server=""
dir=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
for p in /proc/[0-9]*; do
    case "$(cat "$p/comm" 2>/dev/null)" in wineserver*) ;; *) continue ;; esac
    [ "$(basename "$(readlink "$p/cwd" 2>/dev/null)")" = "$dir" ] && server=${p#/proc/}
done
server_switches() {
    [ -n "$server" ] || { echo 0; return; }
    awk '/^(non)?voluntary_ctxt_switches/ {n += $2} END {print n}' "/proc/$server/status"
}
perf_ok=0
perf stat -x, -e context-switches true 2>/dev/null && perf_ok=1

# Prints "<line of the program> | <switches of its processes> <switches of the server>"
# for one run: mode, file.
measure() {
    local s0 s1 out cs=-
    s0=$(server_switches)
    if [ $perf_ok = 1 ]; then
        out=$(perf stat -x, -e context-switches -o "$work/perf.txt" -- "$run" "$work/strata_bench.exe" "$1" "$(win "$2")")
        cs=$(awk -F, '/context-switches/ {print $1}' "$work/perf.txt")
    else
        out=$("$run" "$work/strata_bench.exe" "$1" "$(win "$2")")
    fi
    s1=$(server_switches)
    echo "$(echo "$out" | tr -d '\r' | grep -- "-seconds") | $cs $((s1 - s0))"
}
field() { echo "$1" | awk -v k="$2" '{for (i = 1; i < NF; i++) if ($i == k) print $(i + 1)}'; }
switches() { echo "$1" | awk -F'|' -v i="$2" '{split($2, v, " "); print v[i]}'; }
added() { [ "$1" = - ] && echo - || echo $(($1 - $2)); }

bs0=$(measure bare "$short")
b=$(measure bare "$mp3")
ms0=$(measure module "$short")
m=$(measure module "$mp3")
bs=$(field "$b" bare-seconds) ms=$(field "$m" module-seconds)
printf "120 s MP3 (192 kbps), one run each:\n"
printf "   bare decoder:  %.3f s (cpu %.3f s), %s bytes\n" "$bs" "$(field "$b" cpu)" "$(field "$b" bytes)"
printf "   module Read:   %.3f s (cpu %.3f s), %s bytes in %s reads (%.0f bytes per read)\n" "$ms" "$(field "$m" cpu)" \
    "$(field "$m" bytes)" "$(field "$m" reads)" "$(awk -v a="$(field "$m" bytes)" -v b="$(field "$m" reads)" 'BEGIN { print a / b }')"
printf "   module/bare:   %.3fx (target at most 1.10x)\n" "$(awk -v a="$ms" -v b="$bs" 'BEGIN { print a / b }')"
if [ $perf_ok = 1 ]; then
    printf "   context switches (perf, the program's processes): bare %s, module %s; 1 s file: bare %s, module %s\n" \
        "$(switches "$b" 1)" "$(switches "$m" 1)" "$(switches "$bs0" 1)" "$(switches "$ms0" 1)"
    printf "      added by the 120 s: bare %s, module %s\n" "$(added "$(switches "$b" 1)" "$(switches "$bs0" 1)")" \
        "$(added "$(switches "$m" 1)" "$(switches "$ms0" 1)")"
else
    echo "   context switches: perf stat cannot count here (perf_event_paranoid?), skipped"
fi
if [ -n "$server" ]; then
    printf "   context switches of the Wine server (pid %s) meanwhile: bare %s, module %s; 1 s file: bare %s, module %s\n" \
        "$server" "$(switches "$b" 2)" "$(switches "$m" 2)" "$(switches "$bs0" 2)" "$(switches "$ms0" 2)"
    printf "      added by the 120 s: bare %s, module %s\n" "$(added "$(switches "$b" 2)" "$(switches "$bs0" 2)")" \
        "$(added "$(switches "$m" 2)" "$(switches "$ms0" 2)")"
else
    echo "   the Wine server of $WINEPREFIX was not found: its context switches are not counted"
fi
if [ -n "${STRATA_BENCH_OTHER:-}" ]; then
    mkdir -p "$work/other/modules"
    cp "$work"/*.dll "$work/strata_bench.exe" "$work/other/" 2>/dev/null || true
    cp "$STRATA_BENCH_OTHER" "$work/other/modules/in_strata.dll"
    echo "   this build and $STRATA_BENCH_OTHER, alternately:"
    walls_this=() walls_other=() cpus_this=() cpus_other=()
    for round in $(seq "${STRATA_BENCH_ROUNDS:-3}"); do
        for which in this other; do
            exe="$work/strata_bench.exe"
            [ $which = other ] && exe="$work/other/strata_bench.exe"
            line=$("$run" "$exe" module "$(win "$mp3")" | tr -d '\r' | grep -- "-seconds")
            printf "      round %d, %s build: %.3f s (cpu %.3f s), %s reads\n" "$round" "$which" \
                "$(field "$line" module-seconds)" "$(field "$line" cpu)" "$(field "$line" reads)"
            eval "walls_$which+=(\"$(field "$line" module-seconds)\") cpus_$which+=(\"$(field "$line" cpu)\")"
        done
    done
    stats() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[1], v[int((NR + 1) / 2)]}'; }
    read -r tw tm < <(stats "${walls_this[@]}")
    read -r ow om < <(stats "${walls_other[@]}")
    read -r tc tcm < <(stats "${cpus_this[@]}")
    read -r oc ocm < <(stats "${cpus_other[@]}")
    printf "   wall best/median: this %.3f/%.3f s, other %.3f/%.3f s (other/this %.3fx best, %.3fx median)\n" \
        "$tw" "$tm" "$ow" "$om" "$(awk -v a="$ow" -v b="$tw" 'BEGIN { print a / b }')" \
        "$(awk -v a="$om" -v b="$tm" 'BEGIN { print a / b }')"
    printf "   cpu best/median:  this %.3f/%.3f s, other %.3f/%.3f s\n" "$tc" "$tcm" "$oc" "$ocm"
fi
