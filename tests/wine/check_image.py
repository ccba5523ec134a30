#!/usr/bin/env python3
"""Compares a rescued image with the disc's content for every sector that the
flag file marks read (bit clear), and prints how many sectors are read.

    check_image.py IMAGE FLAGFILE DISCFILE [--missing A-B] [--min-read N]

Fails when a read sector differs, when a sector of a --missing range is marked
read, or when fewer than N sectors are read."""
import struct
import sys

SECTOR = 2048
HEADER = 48


def main(argv):
    image, flags, disc = argv[1:4]
    missing, min_read = [], 0
    rest = argv[4:]
    while rest:
        opt, val = rest[0], rest[1]
        rest = rest[2:]
        if opt == "--missing":
            a, b = val.split("-")
            missing.append((int(a), int(b)))
        elif opt == "--min-read":
            min_read = int(val)
    raw = open(flags, "rb").read()
    words = struct.unpack("<12I", raw[:HEADER])
    if sum(words) % 2**32 != 0:
        print("flag file header checksum does not add up")
        return 1
    count = words[0]
    bits = raw[HEADER:]
    img = open(image, "rb").read()
    src = open(disc, "rb").read()
    read = 0
    for lba in range(count):
        if bits[lba // 8] >> (lba % 8) & 1:
            continue  # still missing
        read += 1
        a = img[lba * SECTOR:(lba + 1) * SECTOR]
        b = src[lba * SECTOR:(lba + 1) * SECTOR]
        if a != b:
            print("sector %d is marked read but differs from the disc" % lba)
            return 1
        for lo, hi in missing:
            if lo <= lba <= hi:
                print("sector %d of an unreadable range is marked read" % lba)
                return 1
    print("%d of %d sectors read and equal to the disc" % (read, count))
    if words[2] != read:
        print("header says %d sectors read, the flags %d" % (words[2], read))
        return 1
    return 0 if read >= min_read else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
