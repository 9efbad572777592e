#!/usr/bin/env python3
"""Draws zembrix.ico, the program's envelope icon, at 16x16 and 32x32 (32-bit colour with alpha).

Run it again after a change and commit the .ico it writes beside itself: the build only copies and
embeds the committed file, so building needs no Python.
"""
import math
import os
import struct

OUTLINE = (0x1F, 0x3A, 0x68)   # dark blue
PAPER_TOP = (0xFF, 0xFF, 0xFF)
PAPER_BOTTOM = (0xD8, 0xE4, 0xF4)
SEAL = (0xD9, 0x48, 0x2B)      # the wax seal where the flap closes
SAMPLES = 4                     # supersampling per axis, for smooth diagonal lines


def segment_distance(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - (ax + t * dx), py - (ay + t * dy))


# Per size: envelope left, top, right, bottom, line width and seal radius, on whole pixels so that the
# straight edges stay sharp.
GEOMETRY = {16: (1, 3, 15, 13, 1.0, 0.0), 32: (2, 7, 30, 25, 1.5, 2.6)}


def sample(size, x, y):
    """Colour of one sub-pixel point, or None outside the envelope."""
    left, top, right, bottom, line, seal_r = GEOMETRY[size]
    if not (left <= x <= right and top <= y <= bottom):
        return None
    apex_x, apex_y = (left + right) / 2, top + (bottom - top) * 0.55
    if seal_r and math.hypot(x - apex_x, y - apex_y) <= seal_r:
        return SEAL
    edge = min(x - left, right - x, y - top, bottom - y)
    flap = min(segment_distance(x, y, left, top, apex_x, apex_y),
               segment_distance(x, y, right, top, apex_x, apex_y))
    if edge < line or flap < line / 2:
        return OUTLINE
    t = (y - top) / (bottom - top)
    return tuple(round(a + (b - a) * t) for a, b in zip(PAPER_TOP, PAPER_BOTTOM))


def render(size):
    """Rows of (r, g, b, a), top row first."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0]
            hits = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = sample(size, px + (sx + 0.5) / SAMPLES, py + (sy + 0.5) / SAMPLES)
                    if c is not None:
                        hits += 1
                        for i in range(3):
                            acc[i] += c[i]
            if hits:
                row.append(tuple(round(v / hits) for v in acc) + (round(255 * hits / SAMPLES ** 2),))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def dib(size):
    """One icon image: BITMAPINFOHEADER, BGRA pixels bottom-up, then the 1-bit AND mask."""
    rows = render(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, 2 * size, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b''.join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def main():
    images = [dib(16), dib(32)]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip((16, 32), images):
        out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    out += b''.join(images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'zembrix.ico')
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
