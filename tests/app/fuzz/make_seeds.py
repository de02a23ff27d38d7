#!/usr/bin/env python3
"""Writes small well-formed starting inputs for the reader fuzzers.

    tests/app/fuzz/make_seeds.py OUT_DIR
makes OUT_DIR/bmp (bitmaps of every bit depth, both row orders) and
OUT_DIR/csv (grids with and without an origin).
"""
import os
import struct
import sys


def bmp(bits, width, height):
    table = b"".join(struct.pack("<4B", i, 255 - i, i ^ 0x5A, 0) for i in range(1 << bits)) if bits < 16 else b""
    row = ((width * bits + 31) // 32) * 4
    pixels = bytes((i * 37) & 0xFF for i in range(row * abs(height)))
    off = 54 + len(table)
    head = b"BM" + struct.pack("<IHHI", off + len(pixels), 0, 0, off)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(pixels), 0, 0, 0, 0)
    return head + info + table + pixels


def main():
    out = sys.argv[1]
    os.makedirs(os.path.join(out, "bmp"), exist_ok=True)
    os.makedirs(os.path.join(out, "csv"), exist_ok=True)
    for bits in (1, 4, 8, 16, 24, 32):
        for height in (3, -3):
            with open(os.path.join(out, "bmp", f"b{bits}_{height}.bmp"), "wb") as f:
                f.write(bmp(bits, 5, height))
    grids = {
        "plain.csv": "originX=0,oY=0\nwidth=3,hh=2\ncaption\n1,2,3\n-1,260,\n",
        "origin.csv": "originX=10,oY=20\nwidth=2,hh=2\ncaption\n10,20\n30,41\n",
        "crlf.csv": "originX=600,oY=0\r\nwidth=2,hh=1\r\ncaption\r\n0,201\r\n",
    }
    for name, text in grids.items():
        with open(os.path.join(out, "csv", name), "w", newline="") as f:
            f.write(text)


if __name__ == "__main__":
    main()
