#!/usr/bin/env bash
# Benchmark (not a test) of reading crafted ID3 tags against plain tags of the
# same size, in files of 1, 10 and 16 MiB (a few MPEG frames after the tag):
#   v23-packed   ID3v2.3, compressed TCON frames of about 1 KB, each
#                expanding a thousandfold (to 1 MB)
#   v23-plain    ID3v2.3, as many plain TCON frames of the same size
#   v221-packed  ID3v2.2.1, compressed meta frames (CDM) of about 1 KB, each
#                expanding to 1 MB of TCO frames
#   v22-plain    ID3v2.2, plain TCO frames filling the same size
#   v24-packed   ID3v2.4, compressed TCON frames of about 1 KB (with their
#                data length), each expanding to 1 MB of Latin-1 text
#   v24-packed16 the same with UTF-16 text
#   v24-plain    ID3v2.4, as many plain TCON frames of the same size
# Each file is read by the MPEG input module's GetTagEx under Wine
# (strata_bench tags, fastest of TAG_BENCH_ROUNDS calls, 3 by default), and
# by id3lib built natively for this machine with the patch set, through the
# module's read window
# (tag_read_native, processor time, fastest of the same number of reads;
# memory held to TAG_BENCH_NATIVE_KB, 4 GB by default, so an unbounded tag
# runs out instead of filling the machine).
#   cmake --build build --target tag_bench_run
#   (or: tag_bench.sh <bin dir> <work dir>)
# A read that takes longer than TAG_BENCH_LIMIT seconds (600) shows as ">600".
# With TAG_BENCH_OTHER=<another build of in_strata.dll> that build reads the
# files too; with TAG_BENCH_OTHER_PATCHES=<folder of id3lib patches> id3lib is
# also built natively with those patches instead of the tree's.
set -eu
. "$(dirname "$0")/bench_common.sh" "$@"
root=$(cd "$here/../.." && pwd)
rounds=${TAG_BENCH_ROUNDS:-3}
limit=${TAG_BENCH_LIMIT:-600}  # seconds a build may take for one file
deps=${VQ_DEPS_DIR:-/var/cache/vq-deps}

for f in modules/in_strata.dll strata_bench.exe; do
    [ -f "$bin/$f" ] || { echo "missing $bin/$f"; exit 1; }
done
mkdir -p "$work/this/modules"
cp "$bin/modules/in_strata.dll" "$work/this/modules/"
cp "$bin"/*.dll "$work/this/" 2>/dev/null || true
cp "$bin/strata_bench.exe" "$work/this/"
builds=this
if [ -n "${TAG_BENCH_OTHER:-}" ]; then
    mkdir -p "$work/other/modules"
    cp "$work"/this/*.dll "$work/this/strata_bench.exe" "$work/other/" 2>/dev/null || true
    cp "$TAG_BENCH_OTHER" "$work/other/modules/in_strata.dll"
    builds="this other"
fi
bench_prefix

# The files.
if [ ! -f "$work/audio.mp3" ]; then
    sox -n -r 44100 -c 2 -b 16 -t wav - synth 0.3 sine 440 vol 0.5 2>/dev/null | lame --quiet -t -b 128 - "$work/audio.tmp"
    mv "$work/audio.tmp" "$work/audio.mp3"
fi
python3 - "$work" <<'PY'
import os, struct, sys, zlib
work = sys.argv[1]
audio = open(os.path.join(work, 'audio.mp3'), 'rb').read()
MiB = 1 << 20
def syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])
def v23(fid, body, flags=0):
    return fid + struct.pack('>IH', len(body), flags) + body
def v22(fid, body):
    return fid + struct.pack('>I', len(body))[1:] + body
def write(name, version, frames, total):
    payload = b''.join(frames)
    payload += b'\0' * max(0, total - 10 - len(payload) - len(audio))
    with open(os.path.join(work, name), 'wb') as f:
        f.write(b'ID3' + bytes(version) + b'\0' + syncsafe(len(payload)) + payload + audio)
text = b'\0' + b'(' + b'A' * (1000000 - 2)
packed = v23(b'TCON', struct.pack('>I', len(text)) + zlib.compress(text, 9), 0x0080)
inner = b''
while len(inner) < 1000000:
    inner += v22(b'TCO', b'\0' + b'B' * 994)
meta = v22(b'CDM', b'z' + struct.pack('>I', len(inner)) + zlib.compress(inner, 9))
for mb in (1, 10, 16):
    total = mb * MiB
    n = (total - 10 - len(audio)) // len(packed)
    write('v23-packed-%d.mp3' % mb, (3, 0), [packed] * n, total)
    plain = v23(b'TCON', b'\0' + b'A' * (len(packed) - 11))
    write('v23-plain-%d.mp3' % mb, (3, 0), [plain] * n, total)
    n = (total - 10 - len(audio)) // len(meta)
    write('v221-packed-%d.mp3' % mb, (2, 1), [meta] * n, total)
    plain = v22(b'TCO', b'\0' + b'B' * (len(meta) - 7))
    write('v22-plain-%d.mp3' % mb, (2, 0), [plain] * n, total)
def v24(fid, body, flags=0):
    return fid + syncsafe(len(body)) + bytes([0, flags]) + body
text16 = b'\1\xff\xfe' + 'A'.encode('utf-16-le') * ((1000000 - 3) // 2)
for mb in (1, 10, 16):
    total = mb * MiB
    for name, body in (('v24-packed', text), ('v24-packed16', text16)):
        frame = v24(b'TCON', syncsafe(len(body)) + zlib.compress(body, 9), 0x09)
        write('%s-%d.mp3' % (name, mb), (4, 0), [frame] * ((total - 10 - len(audio)) // len(frame)), total)
    frame = v24(b'TCON', syncsafe(len(text)) + zlib.compress(text, 9), 0x09)
    plain = v24(b'TCON', b'\0' + b'A' * (len(frame) - 11))
    write('v24-plain-%d.mp3' % mb, (4, 0), [plain] * ((total - 10 - len(audio)) // len(plain)), total)
print('frames: v2.3 %d bytes (expands to %d), v2.2.1 %d bytes (expands to %d)' %
      (len(packed), len(text), len(meta), len(inner)))
PY

# id3lib built natively, once per patch set.
native_build() {  # folder, patch folder
    local out=$1 patches=$2 stamp
    stamp=$(cat "$patches"/*.patch "$here/strata/tag_read_native.cpp" "$root"/modules/in_strata/tag_window*.h | sha256sum | cut -c1-16)
    [ -x "$out/tag_read_native" ] && [ "$(cat "$out/stamp" 2>/dev/null)" = "$stamp" ] && return 0
    rm -rf "$out"
    mkdir -p "$out/obj"
    cp -r "$deps/id3lib-3.8.3/src" "$deps/id3lib-3.8.3/include" "$out/"
    for p in "$patches"/*.patch; do
        (cd "$out" && patch -p1 --forward --batch -s -i "$p") || { echo "$p does not apply"; return 1; }
    done
    local flags=(-O2 -w -DHAVE_CONFIG_H -I"$root/third_party/id3lib" -I"$out/src" -I"$out/include" -I"$out/include/id3")
    (cd "$out/obj" && printf '%s\0' "$out"/src/*.cpp | xargs -0 -n1 -P4 g++ "${flags[@]}" -c)
    g++ -O2 -I"$out/include" -I"$root/modules/in_strata" -o "$out/tag_read_native" "$here/strata/tag_read_native.cpp" "$out"/obj/*.o -lz
    echo "$stamp" > "$out/stamp"
}
natives=this
native_build "$work/native-this" "$root/third_party/id3lib/patches"
if [ -n "${TAG_BENCH_OTHER_PATCHES:-}" ]; then
    native_build "$work/native-other" "$TAG_BENCH_OTHER_PATCHES"
    natives="this other"
fi

if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    echo "Wine figures: 32-bit programs run through $(sed -n 's/^interpreter //p' /proc/sys/fs/binfmt_misc/qemu-i386)"
fi
"$run" "$work/this/strata_bench.exe" tags "$(win "$work/v23-plain-1.mp3")" 1 >/dev/null  # warm-up
field() { echo "$1" | awk -v k="$2" '{for (i = 1; i < NF; i++) if ($i == k) print $(i + 1)}'; }
declare -A secs
printf "%-18s %-6s %10s %8s %7s\n" file build seconds cpu result
for mb in 1 10 16; do
    for shape in v23-plain v23-packed v22-plain v221-packed v24-plain v24-packed v24-packed16; do
        f="$work/$shape-$mb.mp3"
        for b in $builds; do
            line=$(timeout "$limit" "$run" "$work/$b/strata_bench.exe" tags "$(win "$f")" "$rounds" | tr -d '\r' |
                grep -- "-seconds" || true)
            s=$(field "$line" tags-seconds)
            [ -n "$line" ] || s=">$limit"
            secs[$shape-$mb-$b]=${s:-nan}
            printf "%-18s %-6s %10s %8s %7s\n" "$shape-$mb" "$b" "${s:-failed}" "$(field "$line" cpu)" \
                "$(field "$line" result)"
        done
        case $shape in v24*) continue ;; esac  # id3lib skips version 2.4 tags
        for b in $natives; do
            line=$( (ulimit -v "${TAG_BENCH_NATIVE_KB:-4000000}"; "$work/native-$b/tag_read_native" "$rounds" "$f") || true)
            s=$(field "$line" native-seconds)
            secs[$shape-$mb-native-$b]=${s:-nan}
            printf "%-18s %-6s %10s %8s %7s\n" "$shape-$mb" "n-$b" "${s:-$(echo "$line" | awk '{print $2}')}" - \
                "frames=$(field "$line" frames)"
        done
    done
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "nan" || b == "nan" || a ~ />/ || b + 0 == 0) print "-"; else printf "%.2f", a / b }'; }
echo "crafted against plain tags of the same size (seconds over seconds):"
for b in $builds $(printf 'native-%s ' $natives); do
    for mb in 1 10 16; do
        printf "   %-13s %2d MiB: v2.3 %sx, v2.2.1 %sx, v2.4 %sx, v2.4 UTF-16 %sx\n" "$b" "$mb" \
            "$(ratio "${secs[v23-packed-$mb-$b]}" "${secs[v23-plain-$mb-$b]}")" \
            "$(ratio "${secs[v221-packed-$mb-$b]}" "${secs[v22-plain-$mb-$b]}")" \
            "$(ratio "${secs[v24-packed-$mb-$b]:-nan}" "${secs[v24-plain-$mb-$b]:-nan}")" \
            "$(ratio "${secs[v24-packed16-$mb-$b]:-nan}" "${secs[v24-plain-$mb-$b]:-nan}")"
    done
done
