#!/usr/bin/env python3
"""Draws the program's 48 x 48, 32-bit icon (a channel arc on a blue disc) and
writes it as an .ico file: make_icon.py OUT.ico"""
import math
import struct
import sys

SIZE = 48


def pixel(x, y):
    cx = cy = (SIZE - 1) / 2
    d = math.hypot(x - cx, y - cy)
    if d > 23.5:
        return (0, 0, 0, 0)
    edge = max(0.0, min(1.0, 23.5 - d))  # soft rim
    angle = math.degrees(math.atan2(y - cy, x - cx))
    # a thick "C": a ring open to the right, and a dot travelling through it
    if 9.5 <= d <= 15.5 and not (-40 <= angle <= 40):
        return (255, 255, 255, int(255 * edge))
    if math.hypot(x - (cx + 9), y - cy) <= 4:
        return (80, 230, 140, 255)
    shade = int(150 + 60 * (1 - y / SIZE))
    return (shade // 3, shade // 2 + 40, shade + 30 if shade + 30 < 256 else 255, int(255 * edge))


def main(out):
    rows = []
    for y in range(SIZE - 1, -1, -1):  # bottom-up BMP rows, BGRA
        row = bytearray()
        for x in range(SIZE):
            r, g, b, a = pixel(x, y)
            row += bytes((b, g, r, a))
        rows.append(bytes(row))
    xor = b"".join(rows)
    and_mask = bytes(((SIZE + 31) // 32) * 4 * SIZE)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    image = header + xor + and_mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    with open(out, "wb") as f:
        f.write(icondir + entry + image)


if __name__ == "__main__":
    main(sys.argv[1])
