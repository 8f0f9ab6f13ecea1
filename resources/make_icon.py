#!/usr/bin/env python3
"""Draws the agent's icon (Corvane.ico): a white open ring with an amber signal
dot on a navy-to-teal rounded square, at 16, 24, 32 and 48 pixels, 32-bit colour
with alpha and a 1-bit mask. Run it again after changing the drawing:
    python3 resources/make_icon.py resources/Corvane.ico
"""
import math
import struct
import sys

SIZES = (16, 24, 32, 48)
SUPERSAMPLE = 4

NAVY = (0x1B, 0x3A, 0x6B)
TEAL = (0x1F, 0x7A, 0x8C)
WHITE = (0xFF, 0xFF, 0xFF)
AMBER = (0xFF, 0xB0, 0x00)


def inside_rounded_square(x, y, radius=0.18, margin=0.03):
    lo, hi = margin, 1.0 - margin
    if not (lo <= x <= hi and lo <= y <= hi):
        return False
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def colour_at(x, y):
    """Colour (r, g, b) or None for a point of the unit square (y downwards)."""
    if not inside_rounded_square(x, y):
        return None
    dx, dy = x - 0.5, y - 0.5
    distance = math.hypot(dx, dy)
    angle = math.degrees(math.atan2(-dy, dx))
    if (dx - 0.22) ** 2 + dy ** 2 <= 0.075 ** 2:
        return AMBER
    if 0.19 <= distance <= 0.33 and abs(angle) > 38:
        return WHITE
    t = (x + y) / 2.0
    return tuple(round(a + (b - a) * t) for a, b in zip(NAVY, TEAL))


def render(size):
    """Rows top-down of (b, g, r, a) pixels, averaged over SUPERSAMPLE^2 samples."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = covered = 0
            for sy in range(n):
                for sx in range(n):
                    c = colour_at((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size)
                    if c is not None:
                        r, g, b, covered = r + c[0], g + c[1], b + c[2], covered + 1
            if covered:
                row.append((b // covered, g // covered, r // covered, round(255 * covered / (n * n))))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def icon_image(size):
    rows = render(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes(p) for row in reversed(rows) for p in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + colour + bytes(mask)


def main(path):
    images = [icon_image(s) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "Corvane.ico")
