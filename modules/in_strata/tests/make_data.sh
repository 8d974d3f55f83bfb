#!/usr/bin/env bash
# Test files for the MPEG input module, made with lame, ffmpeg, id3v2 and
# python; .raw files are mpg123's decodes of the same files (16-bit LE,
# no gapless trimming) that our decoder is checked against.
set -euo pipefail
out=$1
rm -rf "$out"
mkdir -p "$out/bad"
cd "$out"

# Six seconds of a busy stereo signal (chord, noise, different channels).
# Loud, harmonic-rich material: the dithered 16-bit output is compared at
# more than 80 dB SNR, which needs a signal well above the dither noise.
sox -r 44100 -c 2 -n -b 16 src.wav synth 6 sawtooth 220 triangle 554 vol 0.85
sox -r 44100 -c 1 -n -b 16 srcmono.wav synth 6 sawtooth 330 vol 0.85
sox -r 44100 -c 2 -n -b 16 long.wav synth 40 sine 300 pinknoise vol 0.3

lame --quiet -b 192 src.wav cbr.mp3
lame --quiet -V2 src.wav vbr.mp3
lame --quiet -p -b 128 src.wav crc.mp3
lame --quiet --resample 11.025 -b 32 src.wav r11k.mp3
lame --quiet -m m -b 96 srcmono.wav mono.mp3
lame --quiet -V2 long.wav vbrlong.mp3
ffmpeg -loglevel error -y -i src.wav -c:a mp2 -b:a 192k -f mp2 layer2.mp2
# Stereo, then mono, then stereo frames in one stream (no bit reservoir,
# no info frame, so the pieces join cleanly).
lame --quiet -t --nores -b 128 src.wav part_st.mp3
lame --quiet -t --nores -m m -b 128 srcmono.wav part_mo.mp3

for f in cbr vbr crc r11k mono vbrlong part_st part_mo; do
    mpg123 --no-gapless -q -s $f.mp3 > $f.raw
done
mpg123 --no-gapless -q -s layer2.mp2 > layer2.raw

python3 - <<'PY'
import struct, os

def frames(data, start=0):
    """Offsets and lengths of MPEG-1 layer III frames (enough for these files)."""
    rates = [0,32,40,48,56,64,80,96,112,128,160,192,224,256,320,0]
    out, i = [], start
    while i + 4 <= len(data):
        h = data[i:i+4]
        if h[0] != 0xFF or (h[1] & 0xE0) != 0xE0:
            break
        br = rates[h[2] >> 4] * 1000
        sr = [44100, 48000, 32000, 0][(h[2] >> 2) & 3]
        pad = (h[2] >> 1) & 1
        n = 144 * br // sr + pad
        out.append((i, n))
        i += n
    return out

st = open('part_st.mp3', 'rb').read()
mo = open('part_mo.mp3', 'rb').read()
fs, fm = frames(st), frames(mo)
a, b = 60, 120  # frames [0,a) stereo, [a,b) mono, [b,end) stereo
mixed = b''.join(st[o:o+n] for o, n in fs[:a]) + b''.join(mo[o:o+n] for o, n in fm[a:b]) + \
        b''.join(st[o:o+n] for o, n in fs[b:])
open('mixed.mp3', 'wb').write(mixed)
open('mixed.layout', 'w').write('%d %d %d\n' % (a, b, len(fs)))

# A damaged CRC in every tenth frame: the audio data itself is intact.
crc = bytearray(open('crc.mp3', 'rb').read())
info = crc.find(b'Info')
start = 0
fr = frames(bytes(crc))
for k, (o, n) in enumerate(fr):
    if k % 10 == 5 and (crc[o+1] & 1) == 0:
        crc[o+4] ^= 0xFF
open('crcbad.mp3', 'wb').write(bytes(crc))

# Junk between frames, and a truncated last frame.
cbr = open('cbr.mp3', 'rb').read()
fc = frames(cbr)
junk = bytearray()
for k, (o, n) in enumerate(fc):
    junk += cbr[o:o+n]
    if k in (20, 80, 150):
        junk += bytes((j * 37 + 11) & 0x7F for j in range(333))
open('junk.mp3', 'wb').write(bytes(junk))
o, n = fc[-1]
open('truncated.mp3', 'wb').write(cbr[:o + n // 2])

# A free-format layer II frame (48 kHz) 45000 bytes before the next one sets
# the free bit rate; the free-format header after them (8 kHz) then declares
# a frame of 270000 bytes, more than the decoder ever buffers: it cannot get
# past it. With more data after it the stream ends on an error; when the file
# ends within the decoder's first 200000 bytes it is a last frame cut short.
def free_l2(rate8k=False):
    return bytes([0xFF, 0xE5, 0x08, 0xC0]) if rate8k else bytes([0xFF, 0xFD, 0x04, 0xC0])
o, n = fc[40]
stuck = cbr[:o] + free_l2() + bytes(44996) + free_l2() + bytes(44996) + free_l2(True)
open('stuck.mp3', 'wb').write(stuck + bytes(200000))
open('stuck_end.mp3', 'wb').write(stuck + bytes(60000))

# A Xing header whose frame count is 0.
v = bytearray(open('vbr.mp3', 'rb').read())
x = v.find(b'Xing')
flags = struct.unpack('>I', v[x+4:x+8])[0]
if flags & 1:
    v[x+8:x+12] = b'\0\0\0\0'
open('xing0.mp3', 'wb').write(bytes(v))

# Trailing ID3v1 and APE tags after the audio.
ape = b'APETAGEX' + struct.pack('<IIII', 2000, 32, 0, 0) + b'\0' * 8
v1 = b'TAG' + b'Trailing title'.ljust(30, b'\0') + b'A'.ljust(30, b'\0') + b'B'.ljust(30, b'\0') + b'2001' + b'\0' * 30 + b'\x11'
open('trailing.mp3', 'wb').write(cbr + ape + v1)

# Bad input.
open('bad/empty.mp3', 'wb').close()
def id3v2(payload, size=None):
    size = len(payload) if size is None else size
    ss = bytes([(size >> 21) & 0x7F, (size >> 14) & 0x7F, (size >> 7) & 0x7F, size & 0x7F])
    return b'ID3\x03\x00\x00' + ss + payload
frame = b'TIT2' + struct.pack('>I', 6) + b'\0\0' + b'\0Title'
open('bad/tagonly.mp3', 'wb').write(id3v2(frame + b'\0' * 100))
open('bad/id3past.mp3', 'wb').write(id3v2(frame, size=0x0FFFFFFF) + cbr[:20000])
open('bad/wav.mp3', 'wb').write(open('src.wav', 'rb').read()[:300000])
open('bad/random.mp3', 'wb').write(bytes((i * 2654435761 >> 13) & 0xFF for i in range(50000)))
PY

ffmpeg -loglevel error -y -f lavfi -i testsrc=size=160x120 -frames:v 1 bad/jpeg.mp3 -f image2 -c:v mjpeg 2>/dev/null || \
    ffmpeg -loglevel error -y -f lavfi -i testsrc=size=160x120 -frames:v 1 -f image2 -c:v mjpeg bad/jpeg.mp3

# Tagged copies.
cp cbr.mp3 tagged.mp3
id3v2 -a "Tag Artist" -A "Tag Album" -t "Tag Title" -y 1999 -T 5 -g 17 -c "A comment" tagged.mp3
python3 - <<'PY'
import struct
def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])
def text_frame(fid, text):
    body = b'\0' + text.encode('latin-1')
    return fid.encode() + struct.pack('>I', len(body)) + b'\0\0' + body
audio = open('cbr.mp3', 'rb').read()
def write(name, frames):
    payload = b''.join(frames) + b'\0' * 64
    open(name, 'wb').write(b'ID3\x03\x00\x00' + syncsafe(len(payload)) + payload + audio)
write('genre_rx.mp3', [text_frame('TCON', '(RX)'), text_frame('TIT2', '')])
write('genre_cr.mp3', [text_frame('TCON', '(CR)')])
write('genre_17more.mp3', [text_frame('TCON', '(17)Rock and more'), text_frame('TBPM', '128'),
                           b'PCNT' + struct.pack('>I', 4) + b'\0\0' + struct.pack('>I', 42)])
write('genre_148.mp3', [text_frame('TCON', '(148)')])
write('genre_text.mp3', [text_frame('TCON', 'Trip-Hop')])
PY

# Tags as today's taggers write them: ID3v2.4 (UTF-8) from ffmpeg, ID3v2.3
# with UTF-16 text from ffmpeg, and the other shapes and encodings written here.
ffmpeg -loglevel error -y -i cbr.mp3 -c copy -metadata artist="Zoë Núñez" -metadata title="Café Noël" \
    -metadata album="Álbum" -metadata date=2019-05-01 -metadata genre=Rock -metadata track=3/12 tag24_ffmpeg.mp3
ffmpeg -loglevel error -y -i cbr.mp3 -c copy -id3v2_version 3 -metadata artist="Zoë Núñez" \
    -metadata title="Café Ñu" tag23_ffmpeg.mp3
python3 - <<'PY'
import struct, zlib
audio = open('cbr.mp3', 'rb').read()
def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])
def text(enc, s):
    codec = {0: 'latin-1', 1: 'utf-16', 2: 'utf-16-be', 3: 'utf-8'}[enc]
    return bytes([enc]) + s.encode(codec)
def unsync(b):
    return b.replace(b'\xff', b'\xff\x00')
def v24(fid, body, flags=0):
    size = len(body)
    if flags & 0x08:
        body = zlib.compress(body)
    if flags & 0x02:
        body = unsync(body)
    if flags & 0x01:
        body = syncsafe(size) + body
    return fid.encode() + syncsafe(len(body)) + bytes([0, flags]) + body
def v23(fid, body):
    return fid.encode() + struct.pack('>IH', len(body), 0) + body
def v22(fid, body):
    return fid.encode() + struct.pack('>I', len(body))[1:] + body
def tag(version, frames, flags=0, extended=b'', footer=False):
    payload = extended + b''.join(frames) + (b'' if footer else b'\0' * 32)
    head = bytes([version, 0, flags]) + syncsafe(len(payload))
    return b'ID3' + head + payload + (b'3DI' + head if footer else b'')
# Version 2.4 with an extended header and a footer: UTF-16 and UTF-16BE
# text, an unsynchronised artist ("\u00ff" holds a 0xFF byte) with its data
# length, a compressed album, a numbered genre and a recording time.
frames24 = [v24('TPE1', text(1, 'Zo\u00eb \u00ff Artist'), 0x03), v24('TIT2', text(2, 'Caf\u00e9 Title')),
            v24('TALB', text(0, 'Packed album'), 0x09), v24('TCON', text(3, '17')),
            v24('TDRC', text(3, '2021-03-04T10:00'))]
open('tag24_footer.mp3', 'wb').write(tag(4, frames24, 0x50, syncsafe(6) + b'\x01\x00', footer=True) + audio)
# Titles longer than their field in multi-byte text, and letters the code
# page lacks in the artist.
long_title = '\u00e9' * 130
open('tag24_long.mp3', 'wb').write(tag(4, [v24('TIT2', text(3, long_title)),
                                           v24('TPE1', text(3, '\u0141\u00f3d\u017a'))]) + audio)
open('tag23_long.mp3', 'wb').write(tag(3, [v23('TIT2', text(1, long_title))]) + audio)
# Version 2.3 with UTF-8 and UTF-16BE text (not in its standard, but written),
# version 2.2 with UTF-16.
open('tag23_utf8.mp3', 'wb').write(tag(3, [v23('TPE1', text(3, 'Zo\u00eb Utf8')), v23('TIT2', text(2, 'Caf\u00e9 Be'))]) + audio)
open('tag22_utf16.mp3', 'wb').write(tag(2, [v22('TP1', text(1, 'Zo\u00eb Two')), v22('TT2', text(1, 'Caf\u00e9 Two'))]) + audio)
# Involved-people lists whose UTF-16 text has an odd number of bytes, in
# versions 2.3 and 2.2, with a title after them.
odd_people = b'\x01ABC'
open('tag23_ipls_odd.mp3', 'wb').write(tag(3, [v23('IPLS', odd_people), v23('TIT2', text(0, 'After people'))]) + audio)
open('tag22_ipl_odd.mp3', 'wb').write(tag(2, [v22('IPL', odd_people), v22('TT2', text(0, 'After people'))]) + audio)
# Version 2.3 with UTF-8 texts of one byte (the track, before the artist),
# and a comment whose description is UTF-8, with a title after it.
open('tag23_utf8_short.mp3', 'wb').write(tag(3, [v23('TRCK', text(3, '7')), v23('TPE1', text(3, 'Zo\u00eb'))]) + audio)
comment = b'\x03eng' + 'D\u00e9sc'.encode('utf-8') + b'\0' + 'Utf8 comment'.encode('utf-8')
open('tag23_utf8_comment.mp3', 'wb').write(tag(3, [v23('COMM', comment), v23('TIT2', text(3, 'After comment'))]) + audio)
# Byte-order marks before the text: UTF-8, UTF-16BE, a doubled one in UTF-16,
# in versions 2.4 and 2.3.
bom_frames = lambda f: [f('TIT2', b'\x03\xef\xbb\xbfTitle'), f('TPE1', b'\x02\xfe\xff' + 'Artist'.encode('utf-16-be')),
                        f('TALB', b'\x01\xff\xfe\xff\xfe' + 'Album'.encode('utf-16-le'))]
open('tag24_bom.mp3', 'wb').write(tag(4, bom_frames(v24)) + audio)
open('tag23_bom.mp3', 'wb').write(tag(3, bom_frames(v23)) + audio)
# A version 2.3 tag larger than the module's read window (a private frame of
# 150 kB before the texts) and an ID3v1 tag at the file's end for the album.
v1 = b'TAG' + b'V1 title'.ljust(30, b'\0') + b'V1 artist'.ljust(30, b'\0') + b'V1 album'.ljust(30, b'\0') + \
     b'1999' + b'\0' * 30 + b'\xff'
open('tag23_big.mp3', 'wb').write(tag(3, [v23('PRIV', b'x\0' + bytes(range(256)) * 586), v23('TPE1', text(0, 'Big artist')),
                                          v23('TIT2', text(1, 'Big title'))]) + audio + v1)
# Version 2.4 as one writer makes it, sizes as plain numbers: a 300-byte
# frame (synchsafe it would read 172) before the artist. Then a tag
# unsynchronised as a whole (no frame says so), a frame with a group byte,
# and an empty TYER after the recording time.
def v24plain(fid, body):
    return fid.encode() + struct.pack('>I', len(body)) + b'\0\0' + body
open('tag24_plain.mp3', 'wb').write(tag(4, [v24plain('PRIV', b'x\0' + b'\x80' * 298),
                                             v24plain('TPE1', text(0, 'After big')), v24plain('TIT2', text(0, 'Plain'))]) + audio)
def v24u(fid, body):
    body = unsync(body)
    return fid.encode() + syncsafe(len(body)) + b'\0\0' + body
whole = v24u('TPE1', text(0, '\u00ffA\u00ff B')) + v24u('TIT2', text(0, 'Whole'))
group = b'TALB' + syncsafe(7) + b'\x00\x40' + b'\x07' + text(0, 'Group')
open('tag24_unsync.mp3', 'wb').write(tag(4, [whole, group, v24('TDRC', text(0, '2020-01-01')), v24('TYER', b'\0')],
                                         0x80) + audio)
# A compressed title after a filled one, and a compressed album, each
# expanding to 100 kB.
open('tag24_packed.mp3', 'wb').write(tag(4, [v24('TIT2', text(0, 'Title'))] +
                                         [v24('TIT2', text(0, 'X' * 100000), 0x09)] * 20 +
                                         [v24('TALB', text(0, 'A' * 100000), 0x09)]) + audio)
PY
rm -f src.wav srcmono.wav long.wav
