#!/usr/bin/env bash
# Audio files for the wizard's batch test: MP3 and WAV files in nested
# folders, plus a text file no module reads.
set -euo pipefail
out="$1/app"
tree="$out/tree"
rm -rf "$tree"
mkdir -p "$tree/sub/deep" "$out/screens"
sox -n -r 44100 -c 2 -b 16 "$out/tone2.wav" synth 2.0 sine 440 vol 0.5
sox -n -r 44100 -c 2 -b 16 "$out/tone15.wav" synth 1.5 sine 660 vol 0.5
lame --quiet -b 128 --cbr "$out/tone2.wav" "$tree/one.mp3"
lame --quiet -b 128 --cbr "$out/tone15.wav" "$tree/sub/deep/three.mp3"
sox -n -r 44100 -c 2 -b 16 "$tree/sub/two.wav" synth 1.0 sine 330 vol 0.5
echo "not audio" > "$tree/readme.txt"
