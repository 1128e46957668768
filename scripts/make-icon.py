#!/usr/bin/env python3
"""Writes resources/zvwebsetup.ico: one 48 x 48 image, 8 bits per pixel.

The picture (a turtle seen from above, on a transparent ground) is drawn
here so the icon can be made again byte for byte.
"""
import struct
import sys

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


def main(path):
    xor_rows, and_rows = [], []
    for y in range(SIZE - 1, -1, -1):  # bottom-up, as in a DIB
        row = [pixel(x, y) for x in range(SIZE)]
        xor_rows.append(bytes(0 if p is None else p for p in row))
        bits = 0
        mask = bytearray()
        for x, p in enumerate(row):
            bits = (bits << 1) | (1 if p is None else 0)
            if x % 8 == 7:
                mask.append(bits)
                bits = 0
        and_rows.append(bytes(mask) + b"\0" * ((4 - len(mask) % 4) % 4))
    # Only the colours used (biClrUsed): 256 entries would add 1 KB of
    # zeros to the image.
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 8, 0, 0, 0, 0, len(PALETTE), 0)
    image = header + palette + b"".join(xor_rows) + b"".join(and_rows)
    icon = struct.pack("<HHH", 0, 1, 1)
    icon += struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 8, len(image), 6 + 16)
    with open(path, "wb") as out:
        out.write(icon + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/zvwebsetup.ico")
