#!/usr/bin/env python3
"""The least drive time a block reader needs to reach a count on a damaged medium.

A reference reader, not a rescue program: it reads the disc once in aligned
16-sector blocks, then reads the failed blocks again, each once a round, until
`--goal` sectors are in. With `--known-dead PROFILE` it is told in advance which
blocks never read (the profile's `bad` lines) and never tries them again, so
it pays only for the flaky blocks' failed tries: a reader that learns the disc
by reading it does not get there sooner. Without it, it retries every failed
block alike, as a reader must that cannot tell a dead block from a flaky one
after a failure. Run it under the harness:

  measure.py --virtual --profile P ... 'python3 block_bound.py {disc} {out} --goal N [--known-dead P]'

and read the drive time from the summary line.
"""
import argparse, os

BLOCK, SECTOR = 16, 2048


def dead_blocks(profile):
    dead = set()
    for line in open(profile):
        w = line.split('#')[0].split()
        if len(w) == 2 and w[0] == 'bad':
            first, _, last = w[1].partition('-')
            first, last = int(first), int(last or first)
            dead.update(range(first // BLOCK, last // BLOCK + 1))
    return dead


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('disc')
    ap.add_argument('out')
    ap.add_argument('--goal', type=int, required=True)
    ap.add_argument('--known-dead', metavar='PROFILE')
    ap.add_argument('--rounds', type=int, default=64)
    a = ap.parse_args()
    skip = dead_blocks(a.known_dead) if a.known_dead else set()
    src = os.open(a.disc, os.O_RDONLY)
    blocks = os.fstat(src).st_size // (BLOCK * SECTOR)
    have = 0
    with open(a.out, 'wb') as out:
        def read(b):
            nonlocal have
            try:
                data = os.pread(src, BLOCK * SECTOR, b * BLOCK * SECTOR)
            except OSError:
                return False
            out.seek(b * BLOCK * SECTOR)
            out.write(data)
            have += len(data) // SECTOR
            return True

        failed = [b for b in range(blocks) if not read(b) and b not in skip]
        for _ in range(a.rounds):
            if have >= a.goal or not failed:
                break
            failed = [b for b in failed if have >= a.goal or not read(b)]
    print(f'{have} sectors read')


if __name__ == '__main__':
    main()
