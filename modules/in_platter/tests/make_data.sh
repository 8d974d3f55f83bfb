#!/usr/bin/env bash
# make_data.sh OUT BUILD: a small audio CD for the CD input module's tests.
#   OUT/disc.raw       raw CD-DA image made by sox (303 sectors, about 4 s)
#   OUT/a.model        disc A: three audio tracks on that image
#   OUT/b.model        disc B: another table of contents on the same image
#   OUT/ten.model      ten audio tracks (table of contents only)
#   OUT/mixed.model    a data track, then two audio tracks
#   OUT/long.model     a one-minute second track over the image repeated
#   OUT/drive/         the ".cda" files of disc A, CD drive V: of the Wine prefix
#   OUT/bad/           broken track files
#   OUT/slices/        the image slice of each track of disc A
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$1
build=$2
rm -rf "$out"
mkdir -p "$out/drive" "$out/bad" "$out/slices"
cd "$out"

# 303 sectors of 588 stereo frames (4.04 s): a sweep over a second tone, so that every
# sector differs from its neighbours.
sox -n -r 44100 -c 2 -b 16 -e signed-integer -t raw disc.raw synth 4.04 sine 200-2000 sine 330 vol 0.6

python3 - <<'PY'
import struct

def msf(frames):
    return frames // 4500, frames // 75 % 60, frames % 75

def cda(number, start, length):
    sm, ss, sf = msf(start + 150)
    lm, ls, lf = msf(length)
    body = struct.pack('<HhIII4B4B', 1, number, 0x1234ABCD, start, length, sf, ss, sm, 0, lf, ls, lm, 0)
    fmt = b'fmt ' + struct.pack('<I', len(body)) + body
    return b'RIFF' + struct.pack('<I', 4 + len(fmt)) + b'CDDA' + fmt

image = open('disc.raw', 'rb').read()
a = [(1, 0), (2, 150), (3, 263)]
leadout = 303
assert len(image) == leadout * 2352
with open('a.model', 'w') as f:
    f.write('image disc.raw\n')
    for n, lba in a:
        f.write(f'track {n} {lba} audio\n')
    f.write(f'leadout {leadout}\n')
for i, (n, lba) in enumerate(a):
    end = a[i + 1][1] if i + 1 < len(a) else leadout
    open(f'drive/track{n:02d}.cda', 'wb').write(cda(n, lba, end - lba))
    open(f'slices/track{n:02d}.raw', 'wb').write(image[lba * 2352:end * 2352])

# Disc B: two tracks over the same sectors (another disc id, another key).
with open('b.model', 'w') as f:
    f.write('image disc.raw\ntrack 1 0 audio\ntrack 2 200 audio\nleadout 303\n')
open('b_track01.cda', 'wb').write(cda(1, 0, 200))

with open('ten.model', 'w') as f:
    for n in range(10):
        f.write(f'track {n + 1} {n * 15000} audio\n')
    f.write('leadout 150000\n')
# A one-minute track: the drive repeats the image over the whole disc.
with open('long.model', 'w') as f:
    f.write('image disc.raw\ntrack 1 0 audio\ntrack 2 150 audio\nleadout 4650\n')
open('long_track02.cda', 'wb').write(cda(2, 150, 4500))
with open('mixed.model', 'w') as f:
    f.write('track 1 0 data\ntrack 2 20000 audio\ntrack 3 40000 audio\nleadout 60000\n')

good = cda(2, 150, 113)
body = good[20:]
bad = {
    'short_chunk.cda': b'RIFF' + struct.pack('<I', 4 + 8 + 20) + b'CDDA' + b'fmt ' + struct.pack('<I', 20) + body[:20],
    'no_fmt.cda': b'RIFF' + struct.pack('<I', 4 + 8 + 24) + b'CDDA' + b'data' + struct.pack('<I', 24) + body,
    'wrong_form.cda': b'RIFF' + struct.pack('<I', 4 + 8 + 24) + b'WAVE' + good[12:],
    'truncated.cda': good[:30],
    'empty.cda': b'',
    'other_disc.cda': cda(2, 151, 113),
    'bad_track.cda': cda(7, 150, 113),
}
# A track file whose length in minutes, seconds and frames is 0.
zero = bytearray(good)
zero[40:43] = b'\0\0\0'
open('zero_msf.cda', 'wb').write(bytes(zero))
for name, blob in bad.items():
    open('bad/' + name, 'wb').write(blob)
PY

# The folder of disc A as CD drive V: of the test prefix, defined through
# Wine's mount manager so that the running prefix sees it at once.
"$here/../../../tools/wine-run.sh" "$build/bin/cd_child.exe" drive V "$out/drive"
