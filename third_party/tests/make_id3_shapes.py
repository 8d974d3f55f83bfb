#!/usr/bin/env python3
"""ID3v2.3 tags that id3lib used to fail on, each in front of the audio of
an MP3 file: make_id3_shapes.py <out dir> <mp3 with audio to use>.

Every tag holds a compressed (or otherwise odd) album frame first and then a
plain title frame "Plain title", so a reader shows whether it skipped the odd
frame and went on.
  comp_40000032, comp_fffffffe, comp_ffffffff: a compressed album frame whose
      expanded-size field says 0x40000032, 0xFFFFFFFE or 0xFFFFFFFF
  comp_sizeonly: compression flag, the expanded size, no compressed data
  comp_empty: compression flag and no data at all (the next frame follows)
  comp_good: a correct compressed album frame, "Packed album"
"""
import struct
import sys
import zlib

out, audio_path = sys.argv[1], sys.argv[2]
audio = open(audio_path, 'rb').read()
if audio[:3] == b'ID3':
    size = (audio[6] << 21) | (audio[7] << 14) | (audio[8] << 7) | audio[9]
    audio = audio[10 + size:]
if audio[-128:-125] == b'TAG':
    audio = audio[:-128]


def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def frame(fid, body, flags=0):
    return fid + struct.pack('>IH', len(body), flags) + body


def write(name, frames):
    payload = b''.join(frames) + b'\0' * 64
    with open('%s/%s.mp3' % (out, name), 'wb') as f:
        f.write(b'ID3\x03\x00\x00' + syncsafe(len(payload)) + payload + audio)


COMPRESSED = 0x0080
title = frame(b'TIT2', b'\0Plain title')
album = b'\0Packed album'
packed = zlib.compress(album)
for size in (0x40000032, 0xFFFFFFFE, 0xFFFFFFFF):
    write('comp_%08x' % size, [frame(b'TALB', struct.pack('>I', size) + packed, COMPRESSED), title])
write('comp_sizeonly', [frame(b'TALB', struct.pack('>I', 0xFFFFFFFF), COMPRESSED), title])
write('comp_empty', [frame(b'TALB', b'', COMPRESSED), title])
write('comp_good', [frame(b'TALB', struct.pack('>I', len(album)) + packed, COMPRESSED), title])
