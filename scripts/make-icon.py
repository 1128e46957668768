#!/usr/bin/env python3
"""Writes resources/zvwebsetup.ico: one 48 x 48 image, PNG-compressed RGBA.

The picture (a turtle seen from above, on a transparent ground) is drawn
here so the icon can be made again byte for byte.
"""
import struct
import sys
import zlib

SIZE = 48
PALETTE = [(0, 0, 0), (40, 110, 40), (90, 170, 60), (200, 170, 90), (20, 60, 20)]


def pixel(x, y):
    """Palette index for a pixel, or None where the icon is transparent."""
    cx, cy = x - 23.5, y - 25.5
    shell = (cx / 17.0) ** 2 + (cy / 14.0) ** 2
    if shell <= 1.0:
        if abs(cx) < 1.0 or abs(cy) < 1.0 or abs(shell - 0.45) < 0.06:
            return 4
        return 1 if shell > 0.8 else 2
    head = (cx / 5.0) ** 2 + ((cy + 17.0) / 5.0) ** 2
    legs = [(-14, -11), (14, -11), (-14, 12), (14, 12)]
    if head <= 1.0 or any(((cx - lx) / 4.0) ** 2 + ((cy - ly) / 4.0) ** 2 <= 1.0 for lx, ly in legs):
        return 3
    return None


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def main(path):
    # A PNG image, which Windows reads in icons from Vista on: a tenth of
    # the bytes of the same picture as a DIB with its mask.
    rows = b""
    for y in range(SIZE):  # top-down, as in a PNG
        rows += b"\0"  # no filter
        for x in range(SIZE):
            p = pixel(x, y)
            rows += b"\0\0\0\0" if p is None else bytes(PALETTE[p]) + b"\xff"
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    image = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
             + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))
    icon = struct.pack("<HHH", 0, 1, 1)
    icon += struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    with open(path, "wb") as out:
        out.write(icon + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/zvwebsetup.ico")
