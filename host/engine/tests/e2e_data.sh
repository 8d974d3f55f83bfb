#!/usr/bin/env bash
# e2e_data.sh DIR: sources for the end-to-end batch (an MP3 and a WAV), an
# empty output folder that the Windows test fills and e2e_check.py reads, and
# a folder reached through a symbolic link.
set -eu
dir=$1
rm -rf "$dir"
mkdir -p "$dir/src" "$dir/out" "$dir/linked/real"
# One folder under two names: Wine shows a symbolic link as an ordinary folder.
ln -s real "$dir/linked/link"
# 4 s of a stereo chord with a slow sweep: enough structure to align decodes.
sox -n -r 44100 -c 2 -b 16 "$dir/chord.wav" synth 4 sine 220-880 sine 330 remix 1 2 gain -6
lame --quiet -b 192 "$dir/chord.wav" "$dir/src/song_mp3.mp3"
rm "$dir/chord.wav"
# 3 s mono 22050 Hz 16-bit tone, written as plain PCM WAV.
sox -n -r 22050 -c 1 -b 16 "$dir/src/voice_wav.wav" synth 3 sine 440 gain -3
# 12 s at 320 kbps: more than two of the MPEG decoder's 200000-byte file reads.
sox -n -r 44100 -c 2 -b 16 -t wav - synth 12 sine 220-880 pinknoise remix 1,2 2 gain -9 |
    lame --quiet -b 320 - "$dir/src/long_mp3.mp3"
