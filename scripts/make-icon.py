#!/usr/bin/env python3
"""Draws the Zorvik application icon and writes it as a Windows .ico file.

The design: a dark-red rounded square (the wizard's background colour) with a cyan "Z" (the colour of
the wizard's title) and a thin green underline (the colour of its footer). Every size is drawn from
the same vector description with 4x4 supersampling, so small sizes stay crisp. Ten 32-bit images:
256, 128, 96, 80, 72, 64, 48, 32, 24 and 16 pixels. From 64 pixels up they are stored as PNG (which
the system reads in icons since Vista, and expects at 256), 48 and below as the uncompressed bitmaps
that every icon reader knows; the pixels are the same either way. The PNG files carry no time or
text chunk, so the file is the same on every run.

Usage: make-icon.py OUTPUT.ico
"""
import struct
import sys
import zlib

SIZES = [256, 128, 96, 80, 72, 64, 48, 32, 24, 16]
PNG_FROM = 64  # the smallest size stored as PNG
DARK_RED = (128, 0, 0)
CYAN = (0, 255, 255)
GREEN = (0, 255, 0)


def inside_rounded_square(x, y):
    r = 0.18
    cx = min(max(x, r), 1 - r)
    cy = min(max(y, r), 1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def colour_at(x, y):
    """Colour and coverage of the design at (x, y) in the unit square, or None outside."""
    if not inside_rounded_square(x, y):
        return None
    left, right, top, bottom, bar = 0.24, 0.76, 0.20, 0.74, 0.12
    if top <= y <= top + bar and left <= x <= right:
        return CYAN
    if bottom - bar <= y <= bottom and left <= x <= right:
        return CYAN
    # The diagonal: from the top bar's right end to the bottom bar's left end.
    t = (y - (top + bar)) / ((bottom - bar) - (top + bar))
    if 0 <= t <= 1:
        centre = right - bar * 0.6 - t * (right - left - bar * 1.2)
        if abs(x - centre) <= bar * 0.75:
            return CYAN
    if 0.82 <= y <= 0.86 and 0.30 <= x <= 0.70:
        return GREEN
    return DARK_RED


def render(size):
    """Rows of (r, g, b, a) pixels, top row first."""
    samples = 4
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    c = colour_at((px + (sx + 0.5) / samples) / size, (py + (sy + 0.5) / samples) / size)
                    if c is not None:
                        acc[0] += c[0]
                        acc[1] += c[1]
                        acc[2] += c[2]
                        acc[3] += 1
            n = acc[3]
            if n == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((acc[0] // n, acc[1] // n, acc[2] // n, n * 255 // (samples * samples)))
        rows.append(row)
    return rows


def png(rows):
    size = len(rows)
    raw = b"".join(b"\x00" + bytes(v for p in row for v in p) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def dib(rows):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    images = [png(render(s)) if s >= PNG_FROM else dib(render(s)) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for s, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
