#!/usr/bin/env bash
# Test files for the WMA input module, made with sox, ffmpeg and python:
# WMA files with tags (and ffmpeg's own decode of one, as 16-bit PCM to
# compare ours with), damaged headers and damage after the header, and a WAV
# the stand-in reader plays.
set -euo pipefail
out=$1
rm -rf "$out"
mkdir -p "$out/bad"
cd "$out"

# Three seconds of two rising tones: no period repeats, so the offset between
# two decodes of it can be found without doubt.
sox -n -r 44100 -c 2 -b 16 sweep.wav synth 3 sine 200-3000 sine 300-4000 vol 0.5
ffmpeg -v error -y -i sweep.wav -c:a wmav2 -b:a 128k \
    -metadata title="Sweep Title" -metadata artist="Sweep Artist" -metadata album="Sweep Album" \
    -metadata genre="Test Genre" -metadata WM/Year=2004 -metadata comment="A comment" \
    -metadata copyright="(c) Nobody" -metadata WM/PromotionURL=http://example.org/x \
    -metadata WM/Track=4 -metadata PlayCount=7 -metadata MixLevel=0.10 -metadata BPM=128.456 \
    -metadata "CurveEnd.Curve=2,5" tagged.wma
ffmpeg -v error -y -i tagged.wma -f s16le -acodec pcm_s16le tagged.raw
ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 tagged.wma > tagged.duration
# Six seconds, to which an index is added below whose entries all point 3 s
# ahead: the reader's first sample then comes 3 s after the start.
sox -n -r 44100 -c 2 -b 16 sweep6.wav synth 6 sine 200-3000 sine 300-4000 vol 0.5
ffmpeg -v error -y -i sweep6.wav -c:a wmav2 -b:a 128k late.wma
ffmpeg -v error -y -i late.wma -f s16le -acodec pcm_s16le late.raw
# No tags at all (ffmpeg still writes its own encoder name).
ffmpeg -v error -y -i sweep.wav -t 1 -c:a wmav2 -b:a 64k "Artist - Song.wma"
# What the stand-in reader plays: one second, 16-bit stereo; and four seconds,
# more than its ring holds.
sox -n -r 44100 -c 2 -b 16 play.wav synth 1 sine 440 sine 550 vol 0.5
sox -n -r 44100 -c 2 -b 16 long.wav synth 4 sine 300-900 sine 500 vol 0.5

python3 - <<'PY'
import struct

good = open('tagged.wma', 'rb').read()
GUIDS = {
    'content': bytes.fromhex('3326b2758e66cf11a6d900aa0062ce6c'),
    'extended': bytes.fromhex('40a4d0d207e3d21197f000a0c95ea850'),
}

def objects(d):
    """(offset, guid, size) of the header's children."""
    size = struct.unpack('<Q', d[16:24])[0]
    at, out = 30, []
    while at + 24 <= size:
        n = struct.unpack('<Q', d[at + 16:at + 24])[0]
        out.append((at, d[at:at + 16], n))
        at += n
    return out, size

kids, header_size = objects(good)
first = kids[0][0]

def with_size(at, value):
    b = bytearray(good)
    b[at + 16:at + 24] = struct.pack('<Q', value)
    return bytes(b)

bad = {
    'empty.wma': b'',
    'truncated.wma': good[:header_size // 2],
    'size0.wma': with_size(first, 0),
    'pastend.wma': with_size(first, header_size * 4),
    'renamed.wma': open('play.wav', 'rb').read(),
}
# The header object claiming more bytes than the file holds.
b = bytearray(good)
b[16:24] = struct.pack('<Q', len(good) + 1000)
bad['header_past_file.wma'] = bytes(b)
for name, blob in bad.items():
    open('bad/' + name, 'wb').write(blob)

# A content description whose title has an odd byte count: its last byte is
# dropped, the rest reads. The object is rebuilt in place of the old one.
title = 'Odd Title'.encode('utf-16le') + b'\0\0'
odd_title = title[:-2] + b'X'          # 9 characters and one stray byte, no terminator
author = 'Odd Author'.encode('utf-16le') + b'\0\0'
body = struct.pack('<5H', len(odd_title), len(author), 0, 0, 0) + odd_title + author
content = GUIDS['content'] + struct.pack('<Q', 24 + len(body)) + body
at = next(o for o, g, n in kids if g == GUIDS['content'])
old = next(n for o, g, n in kids if g == GUIDS['content'])
d = bytearray(good[:at] + content + good[at + old:])
d[16:24] = struct.pack('<Q', header_size - old + len(content))
# The data object's own offsets are relative to itself, so only the header size changes.
open('oddtitle.wma', 'wb').write(bytes(d))
open('oddtitle.expect', 'w').write(odd_title[:len(odd_title) // 2 * 2].decode('utf-16le') + '\n')

def replace_object(guid, body):
    at = next(o for o, g, n in kids if g == guid)
    old = next(n for o, g, n in kids if g == guid)
    obj = guid + struct.pack('<Q', 24 + len(body)) + body
    d = bytearray(good[:at] + obj + good[at + old:])
    d[16:24] = struct.pack('<Q', header_size - old + len(obj))
    return bytes(d)

# Extended content of every stored type: 0 text, 1 bytes, 2 boolean, 3 32-bit,
# 4 64-bit, 5 16-bit, and a type no one knows (9), which is left out.
def descriptor(name, kind, value):
    n = (name + '\0').encode('utf-16le')
    return struct.pack('<H', len(n)) + n + struct.pack('<HH', kind, len(value)) + value
items = [
    descriptor('MixLevel', 0, '0,5\0'.encode('utf-16le')),
    descriptor('Blob', 1, bytes([1, 2, 3])),
    descriptor('Flag', 2, struct.pack('<I', 1)),
    descriptor('PlayCount', 3, struct.pack('<I', 7)),
    descriptor('Big', 4, struct.pack('<Q', 1 << 40)),
    descriptor('Small', 5, struct.pack('<H', 9)),
    descriptor('Odd', 9, b'xyz'),
]
open('typed.wma', 'wb').write(replace_object(GUIDS['extended'], struct.pack('<H', len(items)) + b''.join(items)))

# Object sizes that are right around contents that are not: a content
# description whose title fits but whose author runs past the object, and an
# extended content description that counts one descriptor more than it holds.
title = 'Content Title\0'.encode('utf-16le')
author = 'Cut Author'.encode('utf-16le')
body = struct.pack('<5H', len(title), len(author) + 2, 0, 0, 0) + title + author
open('badcontent.wma', 'wb').write(replace_object(GUIDS['content'], body))
ext_at = next(o for o, g, n in kids if g == GUIDS['extended'])
count = struct.unpack('<H', good[ext_at + 24:ext_at + 26])[0]
b = bytearray(good)
b[ext_at + 24:ext_at + 26] = struct.pack('<H', count + 1)
open('badextended.wma', 'wb').write(bytes(b))

# 65,535 extended content descriptors, some of them repeating an earlier name
# in other letters (the first one of a name counts).
repeats = [descriptor('TITLE', 0, 'Later Title\0'.encode('utf-16le')),
           descriptor('X0007', 3, struct.pack('<I', 999)),
           descriptor('wm/albumtitle', 0, 'Later Album\0'.encode('utf-16le'))]
many = [descriptor('WM/AlbumTitle', 0, 'Many Album\0'.encode('utf-16le'))]
many += [descriptor('x%04x' % i, 3, struct.pack('<I', i)) for i in range(65535 - len(repeats) - 1)]
many += repeats
open('many.wma', 'wb').write(replace_object(GUIDS['extended'], struct.pack('<H', len(many)) + b''.join(many)))

# The index of late.wma: every entry points at the first packet from 3 s on.
d = open('late.wma', 'rb').read()
hsize = struct.unpack('<Q', d[16:24])[0]
fp = next(o for o, g, n in objects(d)[0] if g == bytes.fromhex('a1dcab8c47a9cf118ee400c00c205365')) + 24
preroll = struct.unpack('<Q', d[fp + 56:fp + 64])[0]
psize = struct.unpack('<I', d[fp + 68:fp + 72])[0]
packets = struct.unpack('<Q', d[hsize + 40:hsize + 48])[0]

def replicated_data(d, p):
    """The offset of the replicated data of the first payload of the packet at offset p."""
    width = [0, 1, 2, 4]
    if d[p] & 0x80:
        p += 1 + (d[p] & 0x0F)
    flags, props, p = d[p], d[p + 1], p + 2
    p += sum(width[(flags >> s) & 3] for s in (5, 1, 3)) + 6 + (flags & 1) + 1
    return p + width[(props >> 4) & 3] + width[(props >> 2) & 3] + width[props & 3]

def first_time(p):
    """The presentation time (ms) of the first payload of the packet at offset p."""
    p = replicated_data(d, p)
    return struct.unpack('<I', d[p + 4:p + 8])[0]

first = next(i for i in range(packets) if first_time(hsize + 50 + i * psize) >= preroll + 3000)
entries = 8
body = bytes(16) + struct.pack('<QII', 10000000, 1, entries) + struct.pack('<IH', first, 1) * entries
simple_index = bytes.fromhex('90080033b1e5cf1189f400a0c90349cb')
open('late.wma', 'ab').write(simple_index + struct.pack('<Q', 24 + len(body)) + body)
open('late.start', 'w').write('%.3f\n' % ((first_time(hsize + 50 + first * psize) - preroll) / 1000))

# Damage the platform's reader cannot survive: index entry counts far past
# the object (after the data or inside the header), a media object of 2 GiB,
# a presentation time of 2^32 - 1 ms in the first payload, a second header
# after the data, and a zero packet size in a broadcast file.
props = next(o for o, g, n in kids if g == bytes.fromhex('a1dcab8c47a9cf118ee400c00c205365')) + 24
rep = replicated_data(good, header_size + 50)
def patched(at, data):
    b = bytearray(good)
    b[at:at + len(data)] = data
    return bytes(b)
for count in (0x7FFFFFFF, 0xFFFFFFFF):
    body = bytes(16) + struct.pack('<QII', 10000000, 1, count) + struct.pack('<IH', 0, 1) * 2
    open('bad/index_%08x.wma' % count, 'wb').write(good + simple_index + struct.pack('<Q', 24 + len(body)) + body)
open('bad/object_2g.wma', 'wb').write(patched(rep, struct.pack('<I', 0x80000000)))
open('bad/pts_ffffffff.wma', 'wb').write(patched(rep + 4, struct.pack('<I', 0xFFFFFFFF)))
open('bad/second_header.wma', 'wb').write(good + good[:header_size])
flags = struct.unpack('<I', good[props + 64:props + 68])[0] | 1
open('bad/packet0_broadcast.wma', 'wb').write(patched(props + 64, struct.pack('<III', flags, 0, 0)))
# The reader takes a simple index inside the header too.
body = bytes(16) + struct.pack('<QII', 10000000, 1, 0x20E26000) + struct.pack('<IH', 0, 1) * 2
inner = simple_index + struct.pack('<Q', 24 + len(body)) + body
header = bytearray(good[:header_size] + inner)
header[16:28] = struct.pack('<QI', len(header), len(kids) + 1)
open('bad/index_in_header.wma', 'wb').write(bytes(header) + good[header_size:])

# Files that each break one rule of the structure check, or keep just within
# it, named <verdict>+<what>.wma.
import os
os.makedirs('structure')
def case(verdict, what, blob):
    open('structure/%s+%s.wma' % (verdict, what), 'wb').write(blob)
def obj(guid, body, extra=0):
    return bytes.fromhex(guid) + struct.pack('<Q', 24 + len(body) + extra) + body
def counted(at, delta):
    return patched(at, struct.pack('<Q', struct.unpack('<Q', good[at:at + 8])[0] + delta))
packet_size = struct.unpack('<I', good[props + 68:props + 72])[0]
play_ms = struct.unpack('<Q', good[props + 40:props + 48])[0] // 10000
rep2 = rep + 17 + struct.unpack('<H', good[rep + 8:rep + 10])[0]  # the first packet's second payload
other, moi = '00112233445566778899aabbccddeeff', 'f803b1fead12644c840f2a1d2f7ad48c'
index = 'd329e2d6da35d1119034' + '00a0c90349be'
index_body = lambda entries: struct.pack('<IHIHHI', 1000, 1, 1, 1, 1, entries) + bytes(8) + bytes(8)
case('none', 'other-object-after-data', good + obj(other, b'x' * 16))
case('none', 'media-object-index', good + obj(moi, bytes(20)))
case('none', 'index', good + obj(index, index_body(2)))
case('index-entries', 'index', good + obj(index, index_body(3)))
case('index-entries', 'simple-index', good + obj('90080033b1e5cf1189f400a0c90349cb',
                                                 bytes(16) + struct.pack('<QII', 10000000, 1, 3) + bytes(12)))
case('index-entries', 'simple-index-in-header', open('bad/index_in_header.wma', 'rb').read())
case('object-order', 'data-in-header', patched(30, good[header_size:header_size + 16]))
case('none', 'short-tail', good + bytes(10))
case('none', 'index-past-end', good + obj('90080033b1e5cf1189f400a0c90349cb', bytes(32), 1))
case('object-order', 'second-data', good + good[header_size:header_size + 16] + struct.pack('<Q', 50) + bytes(26))
case('header-object', 'child-past-header', patched(30 + 16, struct.pack('<Q', header_size)))
case('packet-size', 'minimum-maximum', patched(props + 72, struct.pack('<I', packet_size + 1)))
case('packet-size', 'above-64k', patched(props + 68, struct.pack('<II', 65537, 65537)))
case('data-size', 'cut', good[:header_size + 50 + packet_size - 1])
case('packet-count', 'file-properties', counted(props + 32, 2))
case('packet-count', 'data-object', counted(header_size + 40, -2))
case('packet', 'payload-length', patched(rep + 8, struct.pack('<H', packet_size)))
case('packet', 'replicated-3-bytes', patched(rep - 1, b'\3'))
case('none', 'media-object-of-file-size', patched(rep, struct.pack('<I', len(good))))
case('media-object-size', 'past-file-size', patched(rep, struct.pack('<I', len(good) + 1)))
case('none', 'first-at-play-duration', patched(rep + 4, struct.pack('<I', play_ms)))
case('presentation-time', 'first-past-play-duration', patched(rep + 4, struct.pack('<I', play_ms + 1)))
case('none', 'later-at-play-duration', patched(rep2 + 4, struct.pack('<I', play_ms)))
case('presentation-time', 'later-past-play-duration', patched(rep2 + 4, struct.pack('<I', play_ms + 1)))
broadcast = bytearray(patched(rep + 4, struct.pack('<I', 0xFFFFFFFF)))
broadcast[props + 64] |= 1
case('none', 'broadcast-times-unbounded', bytes(broadcast))
PY

mkdir reader
ffmpeg -v error -y -i sweep6.wav -c:a wmav2 -b:a 128k reader/six.wma
# Faults the structure check looks at, each alone in a copy of tagged.wma
# (or of the six seconds of reader/six.wma), for the test that gives them to
# the platform's reader with no check in front of it: reader/<what>.wma.
python3 - <<'PY'
import os, struct
def layout(d):
    """The header size, the file properties' body and the packet size."""
    at = 30
    while d[at:at + 16] != bytes.fromhex('a1dcab8c47a9cf118ee400c00c205365'):
        at += struct.unpack('<Q', d[at + 16:at + 24])[0]
    return struct.unpack('<Q', d[16:24])[0], at + 24, struct.unpack('<I', d[at + 24 + 68:at + 24 + 72])[0]
good = open('tagged.wma', 'rb').read()
header, props, packet_size = layout(good)
preroll_ms = struct.unpack('<Q', good[props + 56:props + 64])[0]
play_ms = struct.unpack('<Q', good[props + 40:props + 48])[0] // 10000
def q(at, d=good):
    return struct.unpack('<Q', d[at:at + 8])[0]
def patched(at, value, d=good, size=8):
    b = bytearray(d)
    b[at:at + size] = struct.pack('<Q' if size == 8 else '<I', value)
    return bytes(b)
def replicated_data(p):
    """The offset of the replicated data of the first payload of the packet at offset p."""
    width = [0, 1, 2, 4]
    if good[p] & 0x80:
        p += 1 + (good[p] & 0x0F)
    flags, pprops, p = good[p], good[p + 1], p + 2
    p += sum(width[(flags >> s) & 3] for s in (5, 1, 3)) + 6 + (flags & 1) + 1
    return p + width[(pprops >> 4) & 3] + width[(pprops >> 2) & 3] + width[pprops & 3]
six = open('reader/six.wma', 'rb').read()
six_props = layout(six)[1]
# An index object of an entry every 3 ms, longer than a packet.
entries = 1000
index = struct.pack('<IHI', 3, 1, 1) + struct.pack('<HHI', 1, 1, entries) + bytes(8) + \
    b''.join(struct.pack('<I', i * 3 * 17 // 3018 * packet_size) for i in range(entries))
index = bytes.fromhex('d329e2d6da35d111903400a0c90349be') + struct.pack('<Q', 24 + len(index)) + index
# A packet with a media object of 2 GiB.
bad_packet = open('bad/object_2g.wma', 'rb').read()[header + 50:header + 50 + packet_size]
count_plus_1 = patched(header + 40, q(header + 40) + 1)
# The same packet with the length type bits of its error correction set: the
# reader takes it as it takes the other (two bytes of error correction data).
ec_type_packet = bytes([bad_packet[0] | 0x20]) + bad_packet[1:]
broadcast = patched(props + 64, struct.unpack('<I', good[props + 64:props + 68])[0] | 1, size=4)
id3v1 = b'TAG' + b'Sweep Title'.ljust(30, b'\0') + b'Sweep Artist'.ljust(30, b'\0') + bytes(30) + b'2004' + bytes(28) + b'\0\4\xff'
files = {
    'tail-id3v1': good + id3v1,
    'tail-zero-16': good + bytes(16),
    'tail-zero-2048': good + bytes(2048),
    'file-properties-count-plus-1': patched(props + 32, q(props + 32) + 1),
    'file-properties-count-minus-1': patched(props + 32, q(props + 32) - 1),
    'data-count-plus-1': count_plus_1,
    # The reader then reads a packet's worth after the data object.
    'data-count-plus-1-index': count_plus_1 + index,
    'data-count-plus-1-bad-packet': count_plus_1 + bad_packet,
    'data-count-plus-1-ec-type-packet': count_plus_1 + ec_type_packet,
    # A broadcast file: the reader reads on past its data object.
    'broadcast-count-0': patched(header + 40, 0, broadcast),
    'broadcast-count-0-ec-type-packet': patched(header + 40, 0, broadcast) + ec_type_packet,
    'broadcast-count-exact': broadcast,
    'broadcast-count-exact-ec-type-packet': broadcast + ec_type_packet,
    'data-count-minus-1': patched(header + 40, q(header + 40) - 1),
    'data-count-0': patched(header + 40, 0),
    'play-duration-0': patched(props + 40, 0),
    'play-duration-without-preroll': patched(props + 40, q(props + 40) - preroll_ms * 10000),
    'long-play-duration-without-preroll': patched(six_props + 40, q(six_props + 40, six) - preroll_ms * 10000, six),
    # A download that stopped within the index object, after 5 of its entries.
    'tail-cut-index': good + index[:24 + 10 + 4 + 4 + 8 + 5 * 4],
    # The first payload of the 9th of 17 packets 1 ms past the play duration.
    'payload-past-play-duration': patched(replicated_data(header + 50 + packet_size * 8) + 4, play_ms + 1, size=4),
    # A download that stopped: within the 11th of 17 packets, and right after the 10th.
    'cut-in-packet': good[:header + 50 + packet_size * 10 + packet_size // 2],
    'cut-after-packet': good[:header + 50 + packet_size * 10],
}
for name, blob in files.items():
    open('reader/%s.wma' % name, 'wb').write(blob)
PY
