#!/usr/bin/env python3
"""Reads back the WAV files of the end-to-end batch with sox, ffprobe and
Python's wave module and compares their samples with ffmpeg's own decode of
the same sources. Exit 77 (skipped) when the Windows test wrote nothing."""
import glob
import os
import struct
import subprocess
import sys

SKIP = 77
root = sys.argv[1]
manifest = os.path.join(root, "out", "manifest.txt")
if not os.path.exists(manifest):
    print("no manifest: the end-to-end batch was skipped")
    sys.exit(SKIP)

failures = []


def check(cond, text):
    if not cond:
        failures.append(text)
        print("FAIL:", text)


def ffmpeg_pcm(path, channels, rate):
    return subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "s16le", "-ac", str(channels),
                           "-ar", str(rate), "-"], check=True, capture_output=True).stdout


def samples(raw):
    return struct.unpack("<%dh" % (len(raw) // 2), raw[: len(raw) // 2 * 2])


def wave_reader():
    """A Python whose wave module knows the extensible format (3.12 and later)."""
    cands = ["python3.13", "python3.12", sys.executable, "python3"]
    cands += sorted(glob.glob(os.path.expanduser("~/.pyenv/versions/3.1[2-9]*/bin/python3")))
    for c in cands:
        try:
            v = subprocess.run([c, "-c", "import sys;print(sys.version_info >= (3, 12))"],
                               capture_output=True, text=True)
            if v.stdout.strip() == "True":
                return c
        except OSError:
            pass
    return None


reader = wave_reader()
for line in open(manifest):
    src, out, channels, rate, bits = line.split("\t")
    channels, rate, bits = int(channels), int(rate), int(bits)
    name = os.path.basename(out)
    # sox
    info = subprocess.run(["soxi", out], capture_output=True, text=True)
    check(info.returncode == 0, "%s: sox cannot read it: %s" % (name, info.stderr.strip()))
    sox_samples = int(subprocess.run(["soxi", "-s", out], capture_output=True, text=True).stdout or 0)
    check(subprocess.run(["soxi", "-c", out], capture_output=True, text=True).stdout.strip() == str(channels),
          "%s: sox channel count" % name)
    check(subprocess.run(["soxi", "-r", out], capture_output=True, text=True).stdout.strip() == str(rate),
          "%s: sox rate" % name)
    # ffprobe
    probe = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=channels,sample_rate,codec_name",
                            "-of", "default=nw=1", out], capture_output=True, text=True)
    check("channels=%d" % channels in probe.stdout and "sample_rate=%d" % rate in probe.stdout
          and "codec_name=pcm_s16le" in probe.stdout, "%s: ffprobe says %r" % (name, probe.stdout))
    # Python's wave
    if reader:
        w = subprocess.run([reader, "-c", "import wave,sys;w=wave.open(sys.argv[1]);"
                            "print(w.getnchannels(),w.getframerate(),w.getsampwidth()*8,w.getnframes())", out],
                           capture_output=True, text=True)
        check(w.stdout.split() == [str(channels), str(rate), str(bits), str(sox_samples)],
              "%s: wave says %r %r" % (name, w.stdout, w.stderr[-300:]))
    else:
        print("note: no Python 3.12+ here; wave before 3.12 cannot open the extensible format")
    # Samples against ffmpeg's decode of the source.
    ours = samples(ffmpeg_pcm(out, channels, rate))
    ref = samples(ffmpeg_pcm(src, channels, rate))
    if src.lower().endswith(".wav"):
        check(ours == ref, "%s: samples differ from the source" % name)
        continue
    # MP3: decoders differ in the encoder-delay trim; find the offset, then compare.
    frame = channels
    n = min(len(ours), len(ref)) // frame
    check(abs(len(ours) - len(ref)) // frame <= 2 * 1152 + 1105 + 529,
          "%s: length %d vs ffmpeg %d samples" % (name, len(ours) // frame, len(ref) // frame))
    probe_len = min(8192, n // 2)
    start = n // 4

    def err(offset, length=None):
        length = length or probe_len
        total = 0
        for i in range(start, start + length):
            j = i + offset
            if j < 0 or j >= len(ref) // frame:
                return float("inf")
            for c in range(channels):
                d = ours[i * frame + c] - ref[j * frame + c]
                total += d * d
        return total / (length * channels)

    coarse = min(range(-2400, 2401), key=lambda o: err(o, 256))
    best = min(range(coarse - 2, coarse + 3), key=err)
    e = err(best) ** 0.5
    peak = max(abs(x) for x in ours[start * frame:(start + probe_len) * frame])
    print("%s: offset %d samples, rms difference %.2f LSB (peak %d)" % (name, best, e, peak))
    check(peak > 1000, "%s: output is nearly silent" % name)
    check(e < 4.0, "%s: rms difference %.2f LSB beyond dither noise" % (name, e))

if failures:
    sys.exit(1)
print("all outputs read back correctly")
