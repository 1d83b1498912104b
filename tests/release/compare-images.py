#!/usr/bin/env python3
"""Names the bytes where two files differ: offset, the PE header field or section of the first file
they lie in, and both values; at most 40 runs of differing bytes.

Usage: compare-images.py A B
"""
import struct
import sys


def regions(image):
    """(start, end, name) of the PE headers' known fields and of every section's raw data."""
    try:
        e_lfanew = struct.unpack_from("<I", image, 0x3C)[0]
        if image[e_lfanew:e_lfanew + 4] != b"PE\0\0":
            return []
        count = struct.unpack_from("<H", image, e_lfanew + 6)[0]
        optional_size = struct.unpack_from("<H", image, e_lfanew + 20)[0]
        optional = e_lfanew + 24
        out = [(e_lfanew + 8, e_lfanew + 12, "PE header TimeDateStamp"),
               (optional + 64, optional + 68, "PE header CheckSum"),
               (0, optional + optional_size + 40 * count, "PE headers")]
        table = optional + optional_size
        for i in range(count):
            raw = image[table + 40 * i: table + 40 * (i + 1)]
            name = raw[:8].rstrip(b"\0").decode(errors="replace")
            rawsize, rawptr = struct.unpack_from("<II", raw, 16)
            out.append((rawptr, rawptr + rawsize, "section " + name))
        return out
    except struct.error:
        return []


def where(offset, known):
    if not known:
        return "(not a PE image)"
    for start, end, name in known:
        if start <= offset < end:
            return name
    return "outside the sections"


def main():
    a = open(sys.argv[1], "rb").read()
    b = open(sys.argv[2], "rb").read()
    known = regions(a)
    if len(a) != len(b):
        print("  sizes differ: %d against %d bytes" % (len(a), len(b)))
    runs = []
    i = 0
    n = min(len(a), len(b))
    while i < n:
        if a[i] != b[i]:
            j = i
            while j < n and a[j] != b[j]:
                j += 1
            runs.append((i, j))
            i = j
        else:
            i += 1
    for start, end in runs[:40]:
        print("  offset 0x%x, %d byte(s), %s: %s against %s" % (
            start, end - start, where(start, known), a[start:min(end, start + 8)].hex(),
            b[start:min(end, start + 8)].hex()))
    if len(runs) > 40:
        print("  ... %d runs of differing bytes in all" % len(runs))
    return 1 if runs or len(a) != len(b) else 0


if __name__ == "__main__":
    sys.exit(main())
