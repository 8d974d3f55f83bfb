#!/usr/bin/env bash
# e2e_data.sh DIR: sources for the end-to-end batch (an MP3 and a WAV) and an
# empty output folder that the Windows test fills and e2e_check.py reads.
set -eu
dir=$1
rm -rf "$dir"
mkdir -p "$dir/src" "$dir/out"
# 4 s of a stereo chord with a slow sweep: enough structure to align decodes.
sox -n -r 44100 -c 2 -b 16 "$dir/chord.wav" synth 4 sine 220-880 sine 330 remix 1 2 gain -6
lame --quiet -b 192 "$dir/chord.wav" "$dir/src/song_mp3.mp3"
rm "$dir/chord.wav"
# 3 s mono 22050 Hz 16-bit tone, written as plain PCM WAV.
sox -n -r 22050 -c 1 -b 16 "$dir/src/voice_wav.wav" synth 3 sine 440 gain -3
# Sources whose headers the batch must carry over right (their data chunks
# beside them as <name>.data): 32-bit integer, 24 valid bits in 32-bit
# containers, 32-bit float, 12-bit, a damaged byte rate (repaired, sorted first)
# and a block align that fits no sample width (fails alone).
sox -n -r 44100 -c 2 -b 32 -e signed-integer "$dir/src/int32_wav.wav" synth 1 sine 440 vol 0.5
sox -n -r 44100 -c 2 -b 32 -e floating-point "$dir/src/float32_wav.wav" synth 1 sine 440 vol 0.5
python3 - "$dir/src" <<'PY'
import struct, sys
src = sys.argv[1]
def data_of(d):
    at = 12
    while d[at:at + 4] != b'data':
        at += 8 + struct.unpack('<I', d[at + 4:at + 8])[0]
    return d[at + 8:at + 8 + struct.unpack('<I', d[at + 4:at + 8])[0]]
def wav(fmt, data):
    body = b'WAVEfmt ' + struct.pack('<I', len(fmt)) + fmt + b'data' + struct.pack('<I', len(data)) + data
    return b'RIFF' + struct.pack('<I', len(body)) + body
i32 = open(src + '/int32_wav.wav', 'rb').read()
body = bytearray(data_of(i32))
body[0::4] = bytes(len(body) // 4)
open(src + '/int24in32_wav.wav', 'wb').write(i32[:38] + struct.pack('<H', 24) + i32[40:-len(body)] + bytes(body))
s16 = data_of(open(src + '/voice_wav.wav', 'rb').read())
t12 = b''.join(struct.pack('<h', v & ~15) for (v,) in struct.iter_unpack('<h', s16))
open(src + '/bits12_wav.wav', 'wb').write(wav(struct.pack('<HHIIHH', 1, 1, 22050, 44100, 2, 12), t12))
open(src + '/a_badrate_wav.wav', 'wb').write(wav(struct.pack('<HHIIHH', 1, 1, 22050, 0x7FFFFFF0, 2, 16), s16))
open(src + '/a_badalign_wav.wav', 'wb').write(wav(struct.pack('<HHIIHH', 1, 1, 22050, 66150, 3, 16), s16))
for name in ['int32_wav', 'int24in32_wav', 'float32_wav', 'bits12_wav', 'a_badrate_wav', 'voice_wav']:
    open(src + '/' + name + '.data', 'wb').write(data_of(open(src + '/' + name + '.wav', 'rb').read()))
PY
