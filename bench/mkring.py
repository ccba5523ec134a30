#!/usr/bin/env python3
"""Write a damage profile of a ring: weak blocks among dead ones on a 100,000-sector disc.

  python3 bench/mkring.py SEED OUT.txt

A ring-shaped defect (a circular scratch, or dye gone at one radius) crosses
every turn of the spiral over a stretch of tracks: in LBA terms one stretch of
the disc, here about 8 % of it from near its middle, in which the damage comes in bursts.
A burst is a run of 1 to 4 dead 16-sector blocks, and between two bursts lie 1
to 4 blocks that read now and then (each a chance of 0.1 to 0.2 per try) and
now and then a block that reads. The layout follows from SEED alone
(random.Random(SEED)), so a profile is made again exactly from its seed; the
profile's own `seed` line, which draws the weak blocks' tries, is SEED too.
Costs as the harness's DVD profiles: 3 s per failed read, 100 us per sector.
"""
import random, sys

N, BLK = 100_000, 16
COSTS = """ecc_block 16             # 16-sector ECC blocks at multiples of 16 fail as a unit
good_us_per_sector 100   # 16x DVD: about 10,000 sectors/s
bad_ms 3000              # a failed read: the drive's own retries
cmd_us 0
seek_ms 0
"""


def ring(seed):
    rnd = random.Random(seed)
    first = rnd.randrange(int(N * 0.44) // BLK, int(N * 0.46) // BLK)
    end = rnd.randrange(int(N * 0.52) // BLK, int(N * 0.54) // BLK)
    dead, weak = [], []
    b = first
    while b < end:
        for _ in range(rnd.randint(1, 4)):
            dead.append(b)
            b += 1
        for _ in range(rnd.randint(1, 4)):
            if rnd.random() < 0.2:
                b += 1  # a block the defect left alone
                continue
            weak.append((b, round(rnd.uniform(0.1, 0.2), 3)))
            b += 1
    dead = [d for d in dead if d < end]
    weak = [(w, p) for w, p in weak if w < end]
    readable = N - len(dead) * BLK
    head = (f"# ring of weak blocks among dead ones, made by bench/mkring.py {seed}\n"
            f"# blocks {first}-{end - 1} (LBA {first * BLK}-{end * BLK - 1}): {len(dead)} dead, "
            f"{len(weak)} weak (p 0.1-0.2)\n"
            f"# readable: {readable} sectors, {len(weak) * BLK} of them weak\n")
    lines = [head, COSTS, f"seed {seed}\n"]
    lines += [f"bad {d * BLK}-{d * BLK + BLK - 1}\n" for d in dead]
    lines += [f"flaky {w * BLK}-{w * BLK + BLK - 1} {p}\n" for w, p in weak]
    return ''.join(lines)


if __name__ == '__main__':
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    with open(sys.argv[2], 'w') as f:
        f.write(ring(int(sys.argv[1])))
