#!/usr/bin/env python3
"""Draws the default artwork of the controls library as 32-bit BMP files with
premultiplied alpha: four thumbs (26 x 13, two 13 x 13 frames) and two
button strips (164 x 18, four 41 x 18 frames)."""
import math
import os
import struct
import sys


def write_bmp(path, width, height, pixels):
    """pixels: rows top to bottom of (r, g, b, a) with straight alpha 0..1."""
    rows = []
    for y in range(height - 1, -1, -1):  # bottom-up
        row = bytearray()
        for (r, g, b, a) in pixels[y]:
            a8 = max(0, min(255, int(round(a * 255))))
            def pm(c):
                return max(0, min(a8, int(round(c * a8))))
            row += bytes((pm(b), pm(g), pm(r), a8))
        rows.append(bytes(row))
    data = b"".join(rows)
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 32, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + 40 + len(data), 0, 0, 14 + 40))
        f.write(header)
        f.write(data)


def coverage(dist, radius):
    """Antialiased coverage of a pixel whose centre is dist from a shape edge of radius."""
    return max(0.0, min(1.0, radius - dist + 0.5))


def thumb_frame(size, highlighted, focused, vertical):
    px = []
    c = (size - 1) / 2.0
    for y in range(size):
        row = []
        for x in range(size):
            dx, dy = x - c, y - c
            # Rounded square body: a pointer edge along the track direction.
            d = max(abs(dx) * (0.9 if vertical else 1.0), abs(dy) * (1.0 if vertical else 0.9))
            d = (d + math.hypot(dx, dy)) / 2.0
            a = coverage(d, size / 2.0 - 0.5)
            light = 1.0 - (dy + dx * 0.3) / (size * 1.2)
            base = 0.78 if highlighted else 0.66
            v = max(0.0, min(1.0, base * light))
            r, g, b = v, v, v + 0.04
            # Rim: blue when focused, dark grey otherwise.
            rim = coverage(abs(d - (size / 2.0 - 1.5)), 0.6)
            rc = (0.16, 0.38, 0.85) if focused else (0.25, 0.25, 0.28)
            r = r * (1 - rim) + rc[0] * rim
            g = g * (1 - rim) + rc[1] * rim
            b = min(1.0, b) * (1 - rim) + rc[2] * rim
            row.append((r, g, b, a))
        px.append(row)
    return px


def strip(frames):
    height = len(frames[0])
    return [sum((f[y] for f in frames), []) for y in range(height)]


def button_frame(w, h, pressed, hover, focused):
    px = []
    rad = 4.0
    for y in range(h):
        row = []
        for x in range(w):
            # Distance outside a rounded rectangle inset by the radius.
            ex = max(rad - 0.5 - x, x - (w - 0.5 - rad), 0.0)
            ey = max(rad - 0.5 - y, y - (h - 0.5 - rad), 0.0)
            d = math.hypot(ex, ey)
            a = coverage(d, rad)
            t = y / (h - 1)
            top, bottom = (0.93, 0.80) if not pressed else (0.70, 0.84)
            v = top + (bottom - top) * t
            if hover:
                v = min(1.0, v + 0.06)
            r, g, b = v, v, min(1.0, v + (0.05 if hover else 0.02))
            rim = coverage(abs(d - (rad - 1.0)), 0.55) if d > 0 else 0.0
            if x in (0, w - 1) or y in (0, h - 1):
                rim = max(rim, 1.0 if d == 0 else rim)
            rc = (0.16, 0.38, 0.85) if focused else (0.35, 0.35, 0.38)
            r = r * (1 - rim) + rc[0] * rim
            g = g * (1 - rim) + rc[1] * rim
            b = b * (1 - rim) + rc[2] * rim
            row.append((r, g, b, a))
        px.append(row)
    return px


def main(out):
    os.makedirs(out, exist_ok=True)
    for rid, focused, vertical in ((101, True, True), (102, True, False), (103, False, True), (104, False, False)):
        img = strip([thumb_frame(13, False, focused, vertical), thumb_frame(13, True, focused, vertical)])
        write_bmp(os.path.join(out, "thumb%d.bmp" % rid), 26, 13, img)
    for rid, focused in ((107, True), (108, False)):
        frames = [button_frame(41, 18, p, h, focused) for (p, h) in ((0, 0), (1, 0), (0, 1), (1, 1))]
        write_bmp(os.path.join(out, "button%d.bmp" % rid), 164, 18, strip(frames))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else ".")
