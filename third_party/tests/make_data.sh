#!/usr/bin/env bash
# One second of a 1 kHz tone as a 128 kbps MP3 with an ID3v2 tag, and the
# ID3 tag shapes id3lib used to fail on (make_id3_shapes.py) in id3/.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1
mkdir -p "$out"
sox -n -r 44100 -c 2 -b 16 "$out/tone.wav" synth 1 sine 1000 vol 0.5
lame --quiet -b 128 --noreplaygain "$out/tone.wav" "$out/tone.mp3"
id3v2 -a "Test Artist" -t "Tone Title" -A "Some Album" -y 2004 -T 7 -g 17 "$out/tone.mp3"
rm -f "$out/tone.wav"
mkdir -p "$out/id3"
python3 "$here/make_id3_shapes.py" "$out/id3" "$out/tone.mp3"
