#!/usr/bin/env bash
# Native speed of our signal kernels beside sox and ffmpeg on this machine (a benchmark that prints
# figures, not a test). One command builds and runs it:
#
#   bash tools/bench/native/run.sh [work folder]      (default: build-native-bench in the repository)
#
# It builds, with the host's g++ (x86-64, -O2, SSE2 maths as on the target), the seven effect kernels,
# the MPEG dither and packing, the WAV header packing and libmad from /var/cache/vq-deps (or
# $VQ_DEPS_DIR). libmad gets the project's own config.h and defines (HAVE_CONFIG_H, OPT_ACCURACY, NDEBUG
# and FPM_INTEL). FPM_INTEL's fixed-point assembly (32 x 32 -> 64-bit imul, add/adc, shrd on 32-bit
# registers) assembles and runs unchanged in 64-bit mode and is the arithmetic of the shipped 32-bit
# decoder, sums of products kept at 64 bits through the synthesis filter: the samples come out the same
# as the plug-in's. FPM_64BIT, which libmad's configure picks for x86-64, rounds each product to the
# 28-bit format before adding it: other samples, so not the code we ship.
# Then it makes 120 s of 44.1 kHz stereo pink noise and an MP3 of it, and prints one table: each
# effect against the nearest sox effect, the five-band processor against mcompand with five bands,
# all seven chained, and MP3 decoding (decoder, dither, packing) against sox and ffmpeg.
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
work=$(mkdir -p "${1:-$root/build-native-bench}" && cd "${1:-$root/build-native-bench}" && pwd)
deps=${VQ_DEPS_DIR:-/var/cache/vq-deps}
mad_src=$deps/libmad-0.15.1b
for tool in g++ gcc sox ffmpeg lame; do
    command -v $tool >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done
[ -f "$mad_src/decoder.c" ] || { echo "libmad sources not found in $mad_src" >&2; exit 1; }

flags=(-O2 -msse2 -mfpmath=sse)

# Compiles the given sources, four at a time, into objects in the current folder.
compile() { printf '%s\0' "${@:2}" | xargs -0 -n1 -P4 "$1" "${cflags[@]}" -c; }

# libmad, as third_party/CMakeLists.txt builds it.
mkdir -p "$work/mad" "$work/obj"
sh "$root/third_party/libmad/make_mad_h.sh" "$mad_src" "$root/third_party/libmad/config.h" FPM_INTEL "$work/mad/mad.h"
cflags=("${flags[@]}" -w -DNDEBUG -DHAVE_CONFIG_H -DFPM_INTEL -I"$root/third_party/libmad" -I"$mad_src")
mad=()
for f in version fixed bit timer stream frame synth decoder layer12 layer3 huffman; do mad+=("$mad_src/$f.c"); done
(cd "$work/mad" && rm -f ./*.o && compile gcc "${mad[@]}")
rm -f "$work/libmad.a"
ar rcs "$work/libmad.a" "$work"/mad/*.o

# The kernels and the benchmark.
m=$root/modules
cflags=(-std=c++20 "${flags[@]}" -Wall -I"$root/include" -I"$work/mad")
for d in dsp/skeleton dsp/dsp_squeeze dsp/dsp_ceiling dsp/dsp_lowgate dsp/dsp_tiers dsp/dsp_leveler dsp/dsp_voxcut \
         dsp/dsp_spread in_strata shared enc_linear; do
    cflags+=(-I"$m/$d")
done
(cd "$work/obj" && rm -f ./*.o && compile g++ "$m/dsp/skeleton/dynamics_kernel.cpp" "$m"/dsp/dsp_*/*_kernel.cpp \
    "$m/dsp/dsp_tiers/band_split.cpp" "$m/in_strata/mpeg_pcm.cpp" "$m/shared/pcm_converter.cpp" \
    "$m/enc_linear/wav_format.cpp" "$root/tools/bench/native/native_bench.cpp")
g++ -o "$work/native_bench" "$work"/obj/*.o "$work/libmad.a"

# The audio: the same noise for every run.
if [ ! -s "$work/noise.wav" ] || [ ! -s "$work/noise.mp3" ]; then
    sox -R -n -r 44100 -c 2 -b 16 "$work/noise.wav" synth 120 pinknoise vol 0.5
    lame --quiet -b 192 "$work/noise.wav" "$work/noise.mp3"
fi

"$work/native_bench" table "$work"
