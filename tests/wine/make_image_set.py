#!/usr/bin/env python3
"""Writes a partly rescued image set for the tests: a flag file whose header
holds SECTORS (and the read count), with the sectors of the --missing ranges
flagged missing, and optionally the image with those sectors zeroed.

    make_image_set.py FLAGFILE SECTORS [--missing A-B]... [--image DISC ISO]
                      [--bad-checksum] [--sector-size N]"""
import struct
import sys


def main(argv):
    flag, sectors = argv[1], int(argv[2])
    missing, image, bad, size = [], None, False, 2048
    rest = argv[3:]
    while rest:
        opt = rest.pop(0)
        if opt == "--missing":
            a, b = rest.pop(0).split("-")
            missing.append((int(a), int(b)))
        elif opt == "--image":
            image = (rest.pop(0), rest.pop(0))
        elif opt == "--bad-checksum":
            bad = True
        elif opt == "--sector-size":
            size = int(rest.pop(0))
    is_missing = lambda lba: any(a <= lba <= b for a, b in missing)
    bits = bytearray(b"\xff" * (sectors // 8 + 16))
    read = 0
    for lba in range(sectors):
        if not is_missing(lba):
            bits[lba // 8] &= ~(1 << (lba % 8)) & 0xFF
            read += 1
    words = [sectors, size, read, 0, 0, 0, 0, 0, 0, 0, 0]
    check = (-sum(words)) % 2**32
    if bad:
        check = (check + 1) % 2**32
    with open(flag, "wb") as f:
        f.write(struct.pack("<12I", *(words + [check])) + bits)
    if image:
        disc = bytearray(open(image[0], "rb").read())
        for a, b in missing:
            disc[a * 2048:(b + 1) * 2048] = bytes((b + 1 - a) * 2048)
        open(image[1], "wb").write(disc)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
