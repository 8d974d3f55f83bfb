#!/usr/bin/env bash
# Audio files for the wizard's batch test: MP3, WAV and WMA files in nested
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
# A WMA file, and ffmpeg's own decode of it to compare the converted file with:
# the same sweep on both channels, quiet enough that the limiter's input gain
# does not reach its threshold.
sox -n -r 44100 -c 2 -b 16 "$out/sweep2.wav" synth 2.0 sine 300-2000 vol 0.25
ffmpeg -v error -y -i "$out/sweep2.wav" -c:a wmav2 -b:a 128k -metadata title="Four Title" "$tree/four.wma"
ffmpeg -v error -y -i "$tree/four.wma" -f s16le -acodec pcm_s16le "$out/four.raw"
echo "not audio" > "$tree/readme.txt"
