#!/usr/bin/env python3
"""Draws the program icon (gleanor.ico): a silver disc with a blue band of
rescued sectors and one red bad spot, at 32x32 and 16x16, 32 bits per pixel."""
import math
import struct
import sys


def pixel(x, y, n):
    c = (n - 1) / 2.0
    dx, dy = (x - c) / c, (y - c) / c
    r = math.hypot(dx, dy)
    if r > 1.0:
        return (0, 0, 0, 0)
    if r < 0.18:
        return (0, 0, 0, 0)  # the centre hole
    if r < 0.30:
        return (150, 150, 150, 255)
    angle = math.degrees(math.atan2(-dy, dx)) % 360
    if 0.40 < r < 0.95 and 20 < angle < 200:
        return (40, 40, 200, 255) if not (0.55 < r < 0.75 and 95 < angle < 125) else (230, 20, 20, 255)
    shade = int(200 + 40 * dx * dy)
    return (shade, shade, min(255, shade + 15), 255)


def image(n):
    rows = []
    for y in reversed(range(n)):  # bottom-up rows
        for x in range(n):
            r, g, b, a = pixel(x, y, n)
            rows.append(struct.pack("<BBBB", b, g, r, a))
    xor = b"".join(rows)
    mask_row = ((n + 31) // 32) * 4
    mask = b"\0" * (mask_row * n)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + mask


def main(path):
    sizes = [32, 16]
    images = [image(n) for n in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for n, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n, n, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "gleanor.ico")
