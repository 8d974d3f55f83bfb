#!/usr/bin/env bash
# Small seed files for the input modules' fuzz test: MPEG layer II/III streams
# of every kind the parsers branch on (CBR with an Info frame, VBR with a Xing
# frame, MPEG-2 and 2.5, CRC, free format, ID3v1 and ID3v2.2/2.3/2.4 tags with
# compressed, unsynchronised and flagged frames), RIFF/WAVE files (8-, 16-,
# 24-bit and float, extensible, LIST/fact/odd-sized chunks) and ASF files of
# Windows Media Audio (both codec versions, mono and stereo, with and without
# tags, small packets, simple index and index objects).
set -euo pipefail
out=$1
rm -rf "$out"
mkdir -p "$out/mpeg" "$out/wav" "$out/wma"
cd "$out"

sox -n -r 44100 -c 2 -b 16 st.wav synth 0.3 sawtooth 220 sine 660 vol 0.7
sox -n -r 44100 -c 1 -b 16 mo.wav synth 0.3 square 330 vol 0.5
lame --quiet -b 128 st.wav mpeg/cbr_info.mp3
lame --quiet -V 6 --resample 22.05 mo.wav mpeg/vbr_lsf.mp3
lame --quiet -p -b 96 --resample 32 st.wav mpeg/crc_32k.mp3
lame --quiet --freeformat -b 400 --resample 32 st.wav mpeg/free_32k.mp3
lame --quiet -t -b 16 --resample 8 mo.wav mpeg/mpeg25.mp3
ffmpeg -loglevel error -y -i st.wav -c:a mp2 -b:a 128k -f mp2 mpeg/layer2.mp3
lame --quiet -t -b 128 st.wav plain.mp3

python3 - <<'PY'
import struct, zlib

def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])

def unsync(data):
    return data.replace(b'\xff', b'\xff\x00')

audio = open('plain.mp3', 'rb').read()
v1 = b'TAG' + b'Seed title'.ljust(30, b'\0') + b'Seed artist'.ljust(30, b'\0') + \
     b'Seed album'.ljust(30, b'\0') + b'2001' + b'Comment'.ljust(28, b'\0') + b'\0\x05' + b'\x11'

# ID3v2.2: three-character ids, 24-bit sizes.
def f22(fid, body):
    return fid + struct.pack('>I', len(body))[1:] + body
t22 = f22(b'TT2', b'\0Title 2.2') + f22(b'TP1', b'\0Artist') + f22(b'COM', b'\0eng\0Note') + \
      f22(b'TCO', b'(17)') + f22(b'CNT', struct.pack('>I', 9))
open('mpeg/id3v22.mp3', 'wb').write(b'ID3\x02\x00\x00' + syncsafe(len(t22) + 20) + t22 + b'\0' * 20 + audio + v1)

# ID3v2.3: extended header, a zlib-compressed frame (expanded size first),
# a grouped frame, a play counter and a BPM text.
def f23(fid, body, flags=0):
    return fid + struct.pack('>IH', len(body), flags) + body
album = b'\0Compressed album'
t23 = f23(b'TIT2', b'\0Title 2.3') + \
      f23(b'TALB', struct.pack('>I', len(album)) + zlib.compress(album), 0x0080) + \
      f23(b'TPE2', b'\x05' + b'\0Band', 0x0020) + \
      f23(b'TPE1', b'\x01\xff\xfeA\x00r\x00t\x00') + \
      f23(b'TCON', b'\0(RX)Remix') + f23(b'TBPM', b'\0120') + f23(b'PCNT', struct.pack('>I', 3)) + \
      f23(b'COMM', b'\0eng\0A comment')
ext = struct.pack('>IHI', 6, 0, 64)
body = ext + t23 + b'\0' * 64
open('mpeg/id3v23.mp3', 'wb').write(b'ID3\x03\x00\x40' + syncsafe(len(body)) + body + audio)

# ID3v2.4: syncsafe frame sizes, a frame with a data length indicator, the
# whole tag unsynchronised (its data holds 0xFF bytes), and a footer.
def f24(fid, body, flags=0):
    return fid + syncsafe(len(body)) + struct.pack('>H', flags) + body
t24 = f24(b'TIT2', b'\x03Title \xc3\xbf 2.4') + \
      f24(b'TPE1', syncsafe(7) + b'\0\xff\xffArt', 0x0001) + \
      f24(b'TRCK', b'\x005/9') + f24(b'APIC', b'\0image/png\0\x03\0' + bytes(range(256)))
body = unsync(t24 + b'\0' * 32)
open('mpeg/id3v24.mp3', 'wb').write(b'ID3\x04\x00\x90' + syncsafe(len(body)) + body +
                                     b'3DI\x04\x00\x90' + syncsafe(len(body)) + audio)
PY
rm -f st.wav mo.wav plain.mp3

# WAV seeds.
sox -n -r 44100 -c 2 -b 16 wav/s16.wav synth 0.1 sine 440 vol 0.5
sox -n -r 22050 -c 1 -b 8 -e unsigned-integer wav/u8.wav synth 0.1 sine 440 vol 0.5
sox -n -r 48000 -c 2 -b 24 wav/s24.wav synth 0.05 sine 1000 vol 0.5
sox -n -r 44100 -c 2 -b 32 -e floating-point wav/f32.wav synth 0.05 sine 300 vol 0.5
sox -n -r 44100 -c 6 -b 16 wav/ext6.wav synth 0.03 sine 200 vol 0.5
ffmpeg -loglevel error -y -f lavfi -i "sine=frequency=700:duration=0.05:sample_rate=22050" \
    -metadata title="List chunk" -c:a pcm_s16le wav/list.wav
python3 - <<'PY'
import struct
pcm = bytes((i * 7) & 0xFF for i in range(3000))
fmt = struct.pack('<HHIIHH', 1, 1, 8000, 8000, 1, 8)
def chunk(cid, payload):
    return cid + struct.pack('<I', len(payload)) + payload + (b'\0' if len(payload) & 1 else b'')
body = b'WAVE' + chunk(b'fmt ', fmt) + chunk(b'fact', struct.pack('<I', 3000)) + chunk(b'odd ', b'abc') + \
       chunk(b'data', pcm) + chunk(b'LIST', b'INFOISFT\x04\0\0\0vq\0\0')
open('wav/chunks.wav', 'wb').write(b'RIFF' + struct.pack('<I', len(body)) + body)
PY

# WMA seeds: short, so the platform's reader gets through many of them.
tags=(-metadata title="Seed title" -metadata artist="Seed artist" -metadata album="Seed album"
      -metadata genre="Seed genre" -metadata date=2003 -metadata track=5 -metadata comment="Seed comment"
      -metadata copyright="(c) Seed" -metadata WM/PromotionURL=http://seed.example/ -metadata BPM=120.5)
wma() { # name, seconds, then ffmpeg's encoder options
    local name=$1 seconds=$2
    shift 2
    ffmpeg -loglevel error -y -f lavfi -i "sine=frequency=500:duration=$seconds:sample_rate=44100" "$@" "wma/$name"
}
wma v1_mono.wma 0.4 -c:a wmav1 -ac 1 -ar 22050 -b:a 32k
wma v1_stereo_tags.wma 0.4 -c:a wmav1 -ac 2 -ar 32000 -b:a 64k "${tags[@]}"
wma v2_mono_tags.wma 0.4 -c:a wmav2 -ac 1 -ar 16000 -b:a 24k "${tags[@]}"
wma v2_stereo.wma 0.4 -c:a wmav2 -ac 2 -ar 44100 -b:a 128k
wma v2_small_packets.wma 1.0 -c:a wmav2 -ac 2 -ar 22050 -b:a 48k -packet_size 500 -metadata title="Small packets"
python3 - <<'PY'
import struct
# The same file with a simple index and an index object after the data.
d = open('wma/v2_stereo.wma', 'rb').read()
entries = [(0, 1), (0, 1), (1, 1)]
body = bytes(16) + struct.pack('<QII', 1000000, 1, len(entries)) + b''.join(struct.pack('<IH', *e) for e in entries)
simple = bytes.fromhex('90080033b1e5cf1189f400a0c90349cb') + struct.pack('<Q', 24 + len(body)) + body
blocks = struct.pack('<I', 2) + struct.pack('<Q', 0) + struct.pack('<II', 0, 3200)
body = struct.pack('<IHI', 100, 1, 1) + struct.pack('<HH', 1, 1) + blocks
index = bytes.fromhex('d329e2d6da35d1119034 00a0c90349be'.replace(' ', '')) + struct.pack('<Q', 24 + len(body)) + body
open('wma/v2_indexed.wma', 'wb').write(d + simple + index)
PY
