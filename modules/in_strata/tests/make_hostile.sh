#!/usr/bin/env bash
# Crafted MPEG files for the MPEG input module's hostile-input test:
#  ff_*.mp3  layer III free-format streams at high bit rates (frames of 2,000
#            to 2,880 bytes: MPEG-1 at 32 kHz, MPEG-2 at 16 kHz) whose
#            main-data pointer is the largest possible or random; the main
#            data of such a frame does not fit the decoder's buffer
#  comp_*.mp3  ID3 tags that the tag library failed on (see
#            third_party/tests/make_id3_shapes.py)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1
rm -rf "$out"
mkdir -p "$out"
cd "$out"

sox -n -r 44100 -c 2 -b 16 tone.wav synth 0.3 sine 440 vol 0.5
lame --quiet -t -b 128 tone.wav audio.mp3
python3 "$here/../../../third_party/tests/make_id3_shapes.py" . audio.mp3
rm -f tone.wav audio.mp3

python3 - <<'PY'
import random

def stream(rng, lsf, kbps, frames, largest, mono):
    rate = 16000 if lsf else 32000
    size = (72 if lsf else 144) * kbps * 1000 // rate  # free format: no bit rate in the header
    side_len = (9 if mono else 17) if lsf else (17 if mono else 32)
    bits = 8 if lsf else 9                             # width of main_data_begin
    out = bytearray()
    for _ in range(frames):
        # sync, MPEG-1 or -2, layer III, no CRC; bit rate index 0; 32 or 16 kHz
        header = bytes([0xFF, 0xF3 if lsf else 0xFB, 0x08, 0xC0 if mono else 0x00])
        side = bytearray(rng.getrandbits(8) for _ in range(side_len))
        begin = (1 << bits) - 1 if largest else rng.randrange(1 << bits)
        rest = int.from_bytes(side[:2], 'big') & ((1 << (16 - bits)) - 1)
        side[:2] = ((begin << (16 - bits)) | rest).to_bytes(2, 'big')
        body = bytes(rng.getrandbits(8) for _ in range(size - 4 - side_len))
        out += header + side + body
    return bytes(out)

rng = random.Random(55)
for i in range(40):
    lsf = i % 2 == 1
    kbps = rng.randrange(445, 641)  # 2,002 to 2,880-byte frames; libmad accepts up to 640 kbps
    data = stream(rng, lsf, kbps, rng.randrange(6, 12), i % 4 < 2, rng.random() < 0.2)
    open('ff_%02d.mp3' % i, 'wb').write(data)
PY
