#!/usr/bin/env python3
"""Draws the configuration library's images: icon 160 (module), icon 113
(setting) and the 8-bit toolbar bitmap 111 (16 x 16 images "Default" and
"Configure" side by side, grey shades from the system's 3D palette and a
first pixel in the colour that becomes the window colour)."""
import math
import os
import struct
import sys


def ico_image(size, draw):
    """32-bit icon image (BITMAPINFOHEADER + XOR rows + AND mask)."""
    px = [[draw(x, y, size) for x in range(size)] for y in range(size)]
    xor = bytearray()
    mask = bytearray()
    stride = ((size + 31) // 32) * 4
    for y in range(size - 1, -1, -1):
        bits = 0
        row_mask = bytearray(stride)
        for x in range(size):
            r, g, b, a = px[y][x]
            xor += bytes((b, g, r, a))
            if a == 0:
                row_mask[x // 8] |= 0x80 >> (x % 8)
        mask += row_mask
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + bytes(xor) + bytes(mask)


def write_ico(path, draw):
    images = [ico_image(s, draw) for s in (16, 32)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip((16, 32), images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


def disc(cx, cy, r, x, y):
    return max(0.0, min(1.0, r - math.hypot(x + 0.5 - cx, y + 0.5 - cy) + 0.5))


def module_icon(x, y, s):
    """A plug-in block with two pins."""
    u = s / 16.0
    inside = 2 * u <= x < 14 * u and 4 * u <= y < 13 * u
    pin = (4 * u <= x < 6 * u or 10 * u <= x < 12 * u) and 1 * u <= y < 4 * u
    edge = inside and (x < 3 * u or x >= 13 * u or y < 5 * u or y >= 12 * u)
    if edge or pin:
        return (40, 60, 110, 255)
    if inside:
        t = (y - 4 * u) / (9 * u)
        return (int(90 + 80 * (1 - t)), int(140 + 70 * (1 - t)), 230, 255)
    return (0, 0, 0, 0)


def setting_icon(x, y, s):
    """A small gear: a ring with teeth."""
    c = s / 2.0
    dx, dy = x + 0.5 - c, y + 0.5 - c
    r = math.hypot(dx, dy)
    ang = math.atan2(dy, dx)
    outer = s * (0.36 + 0.09 * (1 if math.cos(ang * 8) > 0 else 0))
    if r <= outer and r >= s * 0.16:
        shade = int(150 - 60 * (dy / s))
        return (shade, shade, min(255, shade + 20), 255)
    if r <= outer + 0.8 and r >= s * 0.16 - 0.8:
        return (60, 60, 70, 255)
    return (0, 0, 0, 0)


def write_toolbar(path):
    # Palette: 0 first-pixel colour (becomes the window colour), 1 black,
    # 2 grey 128 (3D shadow), 3 grey 192 (3D face), 4 grey 223 (3D light),
    # 5 white, 6 blue, 7 dark blue.
    palette = [(255, 0, 255), (0, 0, 0), (128, 128, 128), (192, 192, 192), (223, 223, 223),
               (255, 255, 255), (40, 100, 210), (20, 50, 120)]
    w, h = 32, 16
    img = [[0] * w for _ in range(h)]

    def put(x, y, c):
        if 0 <= x < w and 0 <= y < h and (x, y) != (0, 0):
            img[y][x] = c

    # Image 0, "Default": a counter-clockwise arrow around a dot.
    for y in range(h):
        for x in range(16):
            d = math.hypot(x - 7.5, y - 8.0)
            a = math.degrees(math.atan2(y - 8.0, x - 7.5))
            if 4.2 <= d <= 6.2 and not (-80 < a < -20):
                put(x, y, 6 if d < 5.4 else 7)
    for (x, y) in ((9, 1), (10, 1), (11, 1), (12, 1), (12, 2), (12, 3), (12, 4), (11, 2), (10, 3)):
        put(x, y, 7)
    for (x, y) in ((7, 7), (8, 7), (7, 8), (8, 8)):
        put(x, y, 1)
    # Image 1, "Configure": a spanner in grey shades.
    for y in range(h):
        for x in range(16):
            u, v = x - 7.5, y - 7.5
            along = (u + v) / math.sqrt(2)
            across = (u - v) / math.sqrt(2)
            head = math.hypot(u + 4, v + 4) < 4.4 and not (abs(across) < 1.6 and along < -5.2)
            shaft = abs(across) < 1.6 and -3 < along < 9
            if head or shaft:
                put(16 + x, y, 2 if across > 0.5 else (4 if across < -0.5 else 3))
            elif math.hypot(u + 4, v + 4) < 5.0 or (abs(across) < 2.4 and -3 < along < 9.5):
                put(16 + x, y, 1)
    rows = b""
    stride = (w + 3) & ~3
    for y in range(h - 1, -1, -1):
        rows += bytes(img[y]) + bytes(stride - w)
    pal = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette) + bytes(4 * (256 - len(palette)))
    header = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 0, len(rows), 2835, 2835, 256, 0)
    off = 14 + 40 + len(pal)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", off + len(rows), 0, 0, off) + header + pal + rows)


def main(out):
    os.makedirs(out, exist_ok=True)
    write_ico(os.path.join(out, "module160.ico"), module_icon)
    write_ico(os.path.join(out, "setting113.ico"), setting_icon)
    write_toolbar(os.path.join(out, "toolbar111.bmp"))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else ".")
