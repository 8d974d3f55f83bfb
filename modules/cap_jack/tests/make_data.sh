#!/usr/bin/env bash
# Test data for the capture module: sine recordings fed by the fake device and
# a HOME whose ALSA default device is the null device.
set -eu
out="$1/cap_jack"
mkdir -p "$out/home"
[ -f "$out/sine30.wav" ] || sox -n -r 44100 -c 2 -b 16 "$out/sine30.wav" synth 30 sine 997 sine 1499 gain -3
[ -f "$out/sine3.wav" ] || sox -n -r 44100 -c 2 -b 16 "$out/sine3.wav" synth 3 sine 641 sine 1201 gain -3
cat > "$out/home/.asoundrc" <<'ALSA'
pcm.!default {
    type null
}
ALSA
