#!/usr/bin/env python3
"""Draws Dravik's icon (a pedestal on a blue tile) at the sizes Windows asks for at 100 to 200 % scaling."""
import struct
import sys

SIZES = (16, 20, 24, 32, 40, 48, 64)
TILE = (0x1F, 0x5F, 0xB0)     # blue, in RGB
STONE = (0xF2, 0xF2, 0xF2)    # the pedestal
SHADE = (0x9A, 0xB8, 0xE0)    # the serial line carved into it


def pixel(x, y, n):
    """RGBA of one pixel of an n×n icon; fractions keep the drawing the same at every size."""
    u, v = (x + 0.5) / n, (y + 0.5) / n
    r = 0.18  # corner radius of the tile
    cx, cy = min(max(u, r), 1 - r), min(max(v, r), 1 - r)
    if (u - cx) ** 2 + (v - cy) ** 2 > r * r:
        return (0, 0, 0, 0)
    # Three stacked blocks, widest at the bottom.
    for left, top, right, bottom in ((0.30, 0.20, 0.70, 0.42), (0.22, 0.42, 0.78, 0.64), (0.14, 0.64, 0.86, 0.82)):
        if left <= u < right and top <= v < bottom:
            if 0.25 <= u < 0.75 and 0.50 <= v < 0.56:
                return SHADE + (255,)
            return STONE + (255,)
    return TILE + (255,)


def image(n):
    rows = []
    for y in reversed(range(n)):  # DIBs are stored bottom-up
        row = bytearray()
        for x in range(n):
            red, green, blue, alpha = pixel(x, y, n)
            row += bytes((blue, green, red, alpha))
        rows.append(bytes(row))
    mask_row = bytes(((n + 31) // 32) * 4)  # the alpha channel decides; the AND mask stays clear
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + mask_row * n


def main():
    images = [image(n) for n in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
