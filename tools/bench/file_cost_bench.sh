#!/usr/bin/env bash
# Benchmark (not a test) of what each file of a batch costs beyond its audio:
# vq_headless converts N short MP3s, then one MP3 as long as all of them
# together (MPEG input module -> DSP chain -> WAV encoder), through the seven
# effects and through none. Cost per file = (short batch - long file) / (N - 1),
# both timed inside the process (engine-seconds). Every case runs R times and
# the best run counts. One more run of the short batch with Wine's profile
# trace counts the INI calls and the INI file loads and saves they cause.
# With a second bin folder (an earlier build) both builds run alternately in
# the same run, and their WAV files and their INI files (after a batch that
# started without INI files, and after all runs) are compared with cmp.
#   file_cost_bench.sh <bin dir> <work dir> [<baseline bin dir>]
#   VQ_BENCH_FILES (default 40), VQ_BENCH_SECONDS (1), VQ_BENCH_ROUNDS (3)
set -eu
. "$(dirname "$0")/bench_common.sh" "$@"
base=${3:+$(cd "$3" && pwd)}
files=${VQ_BENCH_FILES:-40} seconds=${VQ_BENCH_SECONDS:-1} rounds=${VQ_BENCH_ROUNDS:-3}
chain=1:2:3:4:5:6:8  # compressor, limiter, normalizer, expander, five-band, karaoke, enhancer
dsps="dsp_squeeze dsp_ceiling dsp_leveler dsp_lowgate dsp_tiers dsp_voxcut dsp_spread"

bench_prefix

bench_headless_builds in_strata enc_linear $dsps

# Pink noise and a steady tone: the same kind of audio in every second.
make_mp3() {  # file seconds
    if [ ! -f "$1" ]; then
        sox -n -r 44100 -c 2 -b 16 -t wav - synth "$2" sine 440 pinknoise remix 1,2 2,2 gain -12 2>/dev/null |
            lame --quiet -b 192 - "$1.tmp"
        mv "$1.tmp" "$1"
    fi
}
rm -rf "$work/in"
mkdir -p "$work/in/short" "$work/in/long"
make_mp3 "$work/in/clip.mp3" "$seconds"
total=$(awk -v n="$files" -v s="$seconds" 'BEGIN { print n * s }')
make_mp3 "$work/in/long/long.mp3" "$total"
for i in $(seq -f %03g "$files"); do
    [ -f "$work/in/short/clip$i.mp3" ] || cp "$work/in/clip.mp3" "$work/in/short/clip$i.mp3"
done
shortlist=()
for f in "$work/in/short/"*.mp3; do shortlist+=("$(win "$f")"); done

# Prints the engine seconds of one batch: <build> <chain or none> <short or long> [trace file].
# Both builds write to the same folder (the encoder keeps it in its INI file), then the WAV files move.
batch() {
    local dir=$work/$1 out=$work/out/$2-$3 dsp=() input=()
    [ "$2" = chain ] && dsp=(--dsp "$chain")
    if [ "$3" = short ]; then input=("${shortlist[@]}"); else input=("$(win "$work/in/long/long.mp3")"); fi
    rm -rf "$out" "$dir/out-$2-$3"
    mkdir -p "$out"
    (cd "$dir" && WINEDEBUG=${4:+trace+profile} "$run" "$dir/vq_headless.exe" --modules "$(win "$dir/modules")" \
        "${dsp[@]}" --out "$(win "$out")" --pattern "%f.wav" --log "$(win "$dir/bench.log")" --time "${input[@]}") \
        >"${4:-$work/last.txt}"
    mv "$out" "$dir/out-$2-$3"
    tr -d '\r' <"${4:-$work/last.txt}" | awk '/^engine-seconds/ {print $2}'
}
best() { printf '%s\n' "$@" | sort -g | head -1; }

if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    echo "32-bit programs run through $(sed -n 's/^interpreter //p' /proc/sys/fs/binfmt_misc/qemu-i386)"
else
    echo "32-bit programs run natively"
fi
echo "$files files of $seconds s against one of $total s; best of $rounds rounds"

# A first batch from no INI files at all, kept for the comparison.
for tag in $builds; do
    rm -f "$work/$tag/modules/"*.ini
    batch "$tag" chain short >/dev/null
    mkdir -p "$work/$tag/ini-first"
    cp "$work/$tag/modules/"*.ini "$work/$tag/ini-first/"
done

declare -A times
for round in $(seq "$rounds"); do
    for tag in $builds; do
        for variant in chain none; do
            for kind in short long; do
                times[$tag-$variant-$kind]+="$(batch "$tag" "$variant" "$kind") "
            done
        done
    done
done

for tag in $builds; do
    for variant in chain none; do
        s=$(best ${times[$tag-$variant-short]}) l=$(best ${times[$tag-$variant-long]})
        printf "%-4s %-5s: %d files %.3f s, one file %.3f s -> %.1f ms per file beyond the audio\n" "$tag" "$variant" \
            "$files" "$s" "$l" "$(awk -v s="$s" -v l="$l" -v n="$files" 'BEGIN { print (s - l) * 1000 / (n - 1) }')"
    done
    # Every MP3 decodes to a little more than its length (encoder delay and padding).
    du -cb "$work/$tag/out-chain-short/"*.wav | tail -1 | awk -v l="$(du -cb "$work/$tag/out-chain-long/"*.wav | tail -1 | cut -f1)" \
        -v n="$files" '{ printf "     audio out: short files %.2f s, long file %.2f s\n", ($1 - 44 * n) / 176400, (l - 44) / 176400 }'
    batch "$tag" chain short "$work/$tag/trace.txt" >/dev/null
    tr -d '\r' <"$work/$tag/trace.txt" | awk -v tag="$tag" -v n="$files" '
        /trace:profile:GetPrivateProfileStringW (L"|NULL)/ { key++ }
        /trace:profile:GetPrivateProfileSectionW/ { sect++ }
        /trace:profile:WritePrivateProfileStringW/ { wkey++ }
        /trace:profile:PROFILE_Load [0-9A-Fa-f]+$/ { load++ }
        /trace:profile:PROFILE_FlushFile Saving/ { save++ }
        END { printf "%-4s chain, %d files: INI calls: %d key reads, %d section reads, %d key writes (%.1f calls per file); the INI files were parsed %d times and saved %d times\n",
              tag, n, key, sect, wkey, (key + sect + wkey) / n, load, save }'
done

if [ -n "$base" ]; then
    diffs=0
    for variant in chain none; do
        for kind in short long; do
            for f in "$work/base/out-$variant-$kind/"*.wav; do
                cmp -s "$f" "$work/new/out-$variant-$kind/$(basename "$f")" || { echo "output differs: $variant $kind $(basename "$f")"; diffs=$((diffs + 1)); }
            done
        done
    done
    for where in ini-first modules; do
        for f in "$work/base/$where/"*.ini; do
            cmp -s "$f" "$work/new/$where/$(basename "$f")" || { echo "INI file differs: $where/$(basename "$f")"; diffs=$((diffs + 1)); }
        done
    done
    echo "compared with cmp: $(ls "$work/base/"out-*/*.wav | wc -l) WAV files, $(ls "$work/base/ini-first/"*.ini "$work/base/modules/"*.ini | wc -l) INI files: $diffs differ"
fi
