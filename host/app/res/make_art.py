#!/usr/bin/env python3
"""Draws the program's bitmaps and icons (run once; the outputs are kept beside it)."""
import math, struct, os

here = os.path.dirname(os.path.abspath(__file__))

def bmp8(path, w, h, palette, pixel):
    row = (w + 3) & ~3
    data = bytearray()
    for y in range(h - 1, -1, -1):
        line = bytearray(pixel(x, y) for x in range(w))
        line += b"\0" * (row - w)
        data += line
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    pal += b"\0" * (1024 - len(pal))
    off = 14 + 40 + 1024
    hdr = struct.pack("<2sIHHI", b"BM", off + len(data), 0, 0, off)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 0, len(data), 2835, 2835, 256, 256)
    open(path, "wb").write(hdr + info + pal + data)

# Page background: a soft blue-grey gradient with faint diagonal stripes.
pal = []
for i in range(256):
    t = i / 255.0
    pal.append((int(214 + 26 * t), int(222 + 24 * t), int(236 + 16 * t)))
def page(x, y):
    v = 255 - int(150 * y / 361)
    if ((x + y) // 6) % 7 == 0:
        v = max(0, v - 18)
    return v
bmp8(os.path.join(here, "page.bmp"), 405, 362, pal, page)

# Splash picture: magenta (colour key) border around a dark blue card.
spal = [(255, 0, 255)] + [(int(20 + 60 * i / 254), int(40 + 90 * i / 254), int(90 + 150 * i / 254)) for i in range(255)]
def splash(x, y):
    if x < 4 or y < 4 or x >= 396 or y >= 116:
        return 0
    return 1 + int(253 * (1 - y / 120.0) * (0.6 + 0.4 * math.sin(x / 60.0) ** 2))
bmp8(os.path.join(here, "splash.bmp"), 400, 120, spal, splash)

def icon(path, draw):
    images = []
    for size in (32, 16):
        px = bytearray()
        for y in range(size - 1, -1, -1):
            for x in range(size):
                r, g, b, a = draw(x / (size - 1), y / (size - 1))
                px += bytes((b, g, r, a))
        mask = b"\0" * (((size + 31) // 32) * 4 * size)
        hdr = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(px) + len(mask), 0, 0, 0, 0)
        images.append((size, hdr + px + mask))
    out = struct.pack("<HHH", 0, 1, len(images))
    off = 6 + 16 * len(images)
    for size, blob in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(blob), off)
        off += len(blob)
    out += b"".join(b for _, b in images)
    open(path, "wb").write(out)

def disc(colour):
    def d(u, v):
        r = math.hypot(u - 0.5, v - 0.5)
        if r > 0.48:
            return (0, 0, 0, 0)
        if r < 0.08:
            return (255, 255, 255, 255)
        shade = 1.0 - r
        return (int(colour[0] * shade), int(colour[1] * shade), int(colour[2] * shade), 255)
    return d
icon(os.path.join(here, "program.ico"), disc((60, 120, 240)))
icon(os.path.join(here, "module.ico"), disc((90, 180, 90)))
icon(os.path.join(here, "options.ico"), disc((230, 150, 40)))
