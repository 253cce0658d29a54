#!/usr/bin/env python3
"""Draws the program's icon, a quill over a written page, into qmApp.ico.

Nine images: 16, 32, 48 and 128 pixels in 32-bit colour with alpha, 16, 32 and 48 pixels
with a 256-colour palette, and 32 pixels in 16 colours and in black and white, so every
display depth of the system finds a sharp picture. Standard library only.

Usage: draw_icon.py [OUTPUT]   (default: qmApp.ico beside this script)
"""
import math
import os
import struct
import sys

PURPLE = (123, 10, 106)
TURQUOISE = (48, 199, 213)
INK = (40, 40, 48)
PAPER = (255, 255, 255)
LINE = (128, 128, 136)
SHAFT = (240, 220, 240)

# The quill runs from its nib (lower left) to its top (upper right), in unit coordinates.
NIB = (0.30, 0.93)
TOP = (0.94, 0.06)


def quill(x, y):
    ax, ay = NIB
    bx, by = TOP
    dx, dy = bx - ax, by - ay
    length = math.hypot(dx, dy)
    t = ((x - ax) * dx + (y - ay) * dy) / (length * length)
    d = ((x - ax) * dy - (y - ay) * dx) / length
    if t < 0 or t > 1:
        return None
    if t < 0.24:
        return INK if abs(d) < 0.045 * t / 0.24 + 0.004 else None
    if abs(d) < 0.014:
        return SHAFT
    s = (t - 0.24) / 0.76
    half = 0.15 * math.sin(math.pi * s) ** 0.6 * (1.0 if d > 0 else 0.8)
    if abs(d) < half:
        # A notch of the vane every so often gives the feather its barbs.
        return TURQUOISE if (abs(d) > half - 0.03 and int(s * 9) % 3 == 1) else PURPLE
    return None


def page(x, y):
    left, right, top, bottom, fold = 0.12, 0.70, 0.08, 0.92, 0.18
    if not (left <= x <= right and top <= y <= bottom):
        return None
    if x - (right - fold) > y - top:  # the folded-down corner
        return None
    edge = 0.035
    if (x < left + edge or x > right - edge or y < top + edge or y > bottom - edge
            or abs((x - (right - fold)) - (y - top)) < edge * 1.2):
        return INK
    for row in (0.34, 0.48, 0.62, 0.76):
        if abs(y - row) < 0.028 and left + 0.10 < x < right - 0.12:
            return LINE
    return PAPER


def colour_at(x, y):
    return quill(x, y) or page(x, y)


def render(size):
    """Rows of (r, g, b, a) from top to bottom, anti-aliased by supersampling."""
    n = 8 if size <= 48 else 4
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(n):
                for sx in range(n):
                    c = colour_at((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    if c:
                        r += c[0]; g += c[1]; b += c[2]; a += 1
            if a:
                row.append((r // a, g // a, b // a, 255 * a // (n * n)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def palette_256():
    cube = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    greys = [(v, v, v) for v in range(4, 256, 6)][:40]
    return (cube + greys + [(0, 0, 0)] * 256)[:256]


def nearest(palette, c):
    return min(range(len(palette)),
               key=lambda i: sum((palette[i][k] - c[k]) ** 2 for k in range(3)))


def row_bytes(bits, width):
    return ((bits * width + 31) // 32) * 4


def and_mask(rows):
    size = len(rows)
    stride = row_bytes(1, size)
    out = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] < 128:
                line[x // 8] |= 0x80 >> (x % 8)
        out += line
    return bytes(out)


def image(size, bits):
    rows = render(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0, 0, 0, 0, 0, 0)
    if bits == 32:
        xor = bytearray()
        for row in reversed(rows):
            for r, g, b, a in row:
                xor += bytes((b, g, r, a))
        return header + bytes(xor) + and_mask(rows)
    if bits == 8:
        palette = palette_256()
    elif bits == 4:
        palette = VGA
    else:
        palette = [(0, 0, 0), (255, 255, 255)]
    cache = {}
    xor = bytearray()
    stride = row_bytes(bits, size)
    for row in reversed(rows):
        line = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] < 128:
                index = 0
            elif bits == 1:
                index = 1 if (p[0] * 3 + p[1] * 6 + p[2]) / 10 > 160 else 0
            else:
                key = p[:3]
                if key not in cache:
                    cache[key] = nearest(palette, key)
                index = cache[key]
            per_byte = 8 // bits
            shift = (per_byte - 1 - x % per_byte) * bits
            line[x // per_byte] |= index << shift
        xor += line
    quads = b''.join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + quads + bytes(xor) + and_mask(rows)


IMAGES = [(16, 32), (32, 32), (48, 32), (128, 32), (16, 8), (32, 8), (48, 8), (32, 4), (32, 1)]


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), 'qmApp.ico')
    blobs = [image(size, bits) for size, bits in IMAGES]
    data = struct.pack('<HHH', 0, 1, len(IMAGES))
    offset = 6 + 16 * len(IMAGES)
    for (size, bits), blob in zip(IMAGES, blobs):
        colours = 1 << bits if bits < 8 else 0
        data += struct.pack('<BBBBHHII', size % 256, size % 256, colours, 0, 1, bits,
                            len(blob), offset)
        offset += len(blob)
    with open(out, 'wb') as f:
        f.write(data + b''.join(blobs))


if __name__ == '__main__':
    main()
