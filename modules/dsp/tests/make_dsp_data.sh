#!/usr/bin/env bash
# Test data of the DSP plug-ins, with sox's own filters as references:
#   centre.raw            3 s of pink noise, the same on both channels
#   centre_bandreject.raw that through "bandreject 800 0.1q" (the karaoke's notch)
#   centre8k_bandreject.raw those samples at 8000 Hz through "bandreject 3920 0.1q" (0.49 x 8000)
#   stereo.raw            3 s of independent pink noise on each channel
#   stereo_remix.raw      that widened by the enhancer's width-1 matrix
set -euo pipefail
out="$1"
mkdir -p "$out"
cd "$out"
R="-r 44100 -e signed-integer -b 16"
sox -D -n $R -c 1 -t raw mono_a.raw synth 3 pinknoise vol 0.4
sox -D $R -c 1 -t raw mono_a.raw $R -c 2 -t raw centre.raw remix 1 1
sox -D $R -c 2 -t raw centre.raw -t raw centre_bandreject.raw bandreject 800 0.1q
sox -D -r 8000 -e signed-integer -b 16 -c 2 -t raw centre.raw -t raw centre8k_bandreject.raw bandreject 3920 0.1q
sox -D -n $R -c 1 -t raw mono_b.raw synth 3 pinknoise vol 0.3
sox -D $R -c 1 -t raw mono_b.raw $R -c 1 -t raw mono_c.raw reverse
sox -D -M $R -c 1 -t raw mono_b.raw $R -c 1 -t raw mono_c.raw -t raw stereo.raw
# left 1.5 L - 0.5 R, right -0.5 L + 1.5 R: the side doubled, the mid kept
sox -D $R -c 2 -t raw stereo.raw -t raw stereo_remix.raw remix 1v1.5,2v-0.5 1v-0.5,2v1.5
rm -f mono_a.raw mono_b.raw mono_c.raw
