#!/usr/bin/env bash
# WAV files for the WAV input module (sox, ffmpeg, python). For every good
# file, <name>.data holds the data chunk's bytes and <name>.fmt the format
# fields, both taken out by python's own chunk walk.
set -euo pipefail
out=$1
rm -rf "$out"
mkdir -p "$out/bad"
cd "$out"

sox -n -r 22050 -c 1 -b 8 -e unsigned-integer u8.wav synth 1.5 sine 440 vol 0.5
sox -n -r 44100 -c 2 -b 16 s16.wav synth 10.9 sine 440 sine 660 vol 0.5
sox -n -r 48000 -c 2 -b 24 s24.wav synth 1.2 sine 1000 vol 0.5
sox -n -r 44100 -c 2 -b 32 -e floating-point f32.wav synth 1.1 sine 300 vol 0.5
sox -n -r 44100 -c 2 -b 32 -e signed-integer s32.wav synth 0.7 sine 300 vol 0.5
sox -n -r 11025 -c 2 -b 16 r11k.wav synth 1.0 sine 500 vol 0.5
sox -n -r 44100 -c 6 -b 16 ext6.wav synth 0.5 sine 200 vol 0.5
ffmpeg -loglevel error -y -f lavfi -i "sine=frequency=700:duration=1.3:sample_rate=44100" -ac 2 \
    -metadata title="List chunk" -c:a pcm_s16le list.wav

python3 - <<'PY'
import struct, glob

def chunks(data):
    at = 12
    while at + 8 <= len(data):
        cid, size = data[at:at+4], struct.unpack('<I', data[at+4:at+8])[0]
        yield cid, at + 8, size
        at += 8 + size + (size & 1)

good = ['u8', 's16', 's24', 'f32', 's32', 'r11k', 'ext6', 'list']
for name in good:
    d = open(name + '.wav', 'rb').read()
    fmt = data = None
    order = []
    for cid, at, size in chunks(d):
        order.append(cid)
        if cid == b'fmt ':
            fmt = list(struct.unpack('<HHIIHH', d[at:at+16]))
            if fmt[0] == 0xFFFE:  # the module reports the extensible sub-format
                fmt[0] = struct.unpack('<H', d[at+24:at+26])[0]
        if cid == b'data':
            data = d[at:at+size]
            break
    assert fmt and data is not None, name
    open(name + '.data', 'wb').write(data)
    open(name + '.fmt', 'w').write(' '.join(str(x) for x in fmt) + '\n')
    if name == 'list':
        assert b'LIST' in order, order
assert open('s32.fmt').read().split()[0] == '1' and open('f32.fmt').read().split()[0] == '3'

base = open('s16.wav', 'rb').read()
fmt16 = struct.pack('<HHIIHH', 1, 2, 44100, 176400, 4, 16)
pcm = base[44:44 + 40000]

def riff(*chunks_):
    body = b'WAVE' + b''.join(chunks_)
    return b'RIFF' + struct.pack('<I', len(body)) + body
def chunk(cid, payload, size=None):
    size = len(payload) if size is None else size
    return cid + struct.pack('<I', size) + payload + (b'\0' if len(payload) & 1 else b'')

# A fact chunk and a trailing chunk after the data, which must not be delivered.
open('trailer.wav', 'wb').write(riff(chunk(b'fmt ', fmt16), chunk(b'fact', b'\0' * 4), chunk(b'data', pcm),
                                     chunk(b'LIST', b'INFOJUNKJUNKJUNK')))
open('trailer.data', 'wb').write(pcm)
open('trailer.fmt', 'w').write('1 2 44100 176400 4 16\n')
# A data size larger than the file: only what is there is delivered.
open('clamp.wav', 'wb').write(riff(chunk(b'fmt ', fmt16)) + b'data' + struct.pack('<I', 10_000_000) + pcm)
open('clamp.data', 'wb').write(pcm)
open('clamp.fmt', 'w').write('1 2 44100 176400 4 16\n')
# A damaged byte rate: the rate follows from the block align.
open('badrate.wav', 'wb').write(riff(chunk(b'fmt ', struct.pack('<HHIIHH', 1, 2, 44100, 0x7FFFFFF0, 4, 16)),
                                     chunk(b'data', pcm)))
open('badrate.data', 'wb').write(pcm)
open('badrate.fmt', 'w').write('1 2 44100 176400 4 16\n')

bad = {
    'empty.wav': b'',
    'header_only.wav': b'RIFF\x04\0\0\0WAVE',
    'short_fmt.wav': riff(chunk(b'fmt ', fmt16[:14]), chunk(b'data', pcm)),
    'no_data.wav': riff(chunk(b'fmt ', fmt16), chunk(b'LIST', b'INFO')),
    'no_fmt.wav': riff(chunk(b'data', pcm)),
    'huge_chunk.wav': riff(chunk(b'fmt ', fmt16), b'junk' + struct.pack('<I', 0xFFFFFFF8) + b'\0' * 64),
    'zero_channels.wav': riff(chunk(b'fmt ', struct.pack('<HHIIHH', 1, 0, 44100, 176400, 4, 16)), chunk(b'data', pcm)),
    'zero_rate.wav': riff(chunk(b'fmt ', struct.pack('<HHIIHH', 1, 2, 0, 176400, 4, 16)), chunk(b'data', pcm)),
    'zero_align.wav': riff(chunk(b'fmt ', struct.pack('<HHIIHH', 1, 2, 44100, 176400, 0, 16)), chunk(b'data', pcm)),
    'adpcm.wav': riff(chunk(b'fmt ', struct.pack('<HHIIHH', 2, 2, 44100, 176400, 4, 4) + b'\0\0'), chunk(b'data', pcm)),
    'ext_unknown.wav': riff(chunk(b'fmt ', struct.pack('<HHIIHHHHI', 0xFFFE, 2, 44100, 176400, 4, 16, 22, 16, 3)
                                  + b'\x55\x00' + bytes(14)), chunk(b'data', pcm)),
    'empty_data.wav': riff(chunk(b'fmt ', fmt16), chunk(b'data', b'')),
    'bad_align.wav': riff(chunk(b'fmt ', struct.pack('<HHIIHH', 1, 2, 44100, 132300, 3, 16)), chunk(b'data', pcm)),
    'float16.wav': riff(chunk(b'fmt ', struct.pack('<HHIIHH', 3, 2, 44100, 176400, 4, 16)), chunk(b'data', pcm)),
    'not_riff.wav': b'RIFX' + base[4:4000],
}
for name, blob in bad.items():
    open('bad/' + name, 'wb').write(blob)
PY
ffmpeg -loglevel error -y -f lavfi -i testsrc=size=64x48 -frames:v 1 -f image2 -c:v mjpeg bad/jpeg.wav
sox -n -r 44100 -c 2 -b 16 tmp.wav synth 0.5 sine 440
lame --quiet tmp.wav bad/mp3.wav
rm -f tmp.wav
