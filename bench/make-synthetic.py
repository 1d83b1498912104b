#!/usr/bin/env python3
"""Writes six files of the shipped suite's sizes (933,888 / 933,888 / 942,080 / 917,504 / 3,125,248 /
1,200,128 bytes, 8,052,736 in all) under the catalogue's names, for a build with ZV_PAYLOAD_DIR.
The content is deterministic pseudo-random bytes (it does not compress and is the same every run).

Usage: make-synthetic.py <folder>
"""
import os
import random
import sys

SIZES = [("zvmain", 933888), ("zvmix", 933888), ("zvtune", 942080), ("zvlock", 917504),
         ("zvaux", 3125248), ("zvchat", 1200128)]


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for index, (name, size) in enumerate(SIZES):
        path = os.path.join(folder, name + ".exe")
        if os.path.exists(path) and os.path.getsize(path) == size:
            continue
        data = random.Random(index + 1).randbytes(size)
        with open(path, "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
