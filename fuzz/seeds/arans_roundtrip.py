"""Seeds for arans_roundtrip_fuzz: raw inputs around the short forms, odd and
even lengths, skewed and coefficient-like bytes. Usage: arans_roundtrip.py OUTDIR"""
import random
import struct
import sys

from seedfiles import write_seeds


def coefficients(count, rng):
    values = [0 if rng.random() < 0.6 else int(rng.expovariate(0.2)) * rng.choice((-1, 1))
              for _ in range(count)]
    return struct.pack(f"<{count}h", *values)


def main(outdir):
    rng = random.Random(1)
    seeds = [b"", b"a", b"abcde", b"abcdef", b"abcdefg"]
    seeds += [bytes(64), b"\xff" * 65, bytes(rng.randrange(256) for _ in range(301))]
    seeds += [coefficients(n, rng) for n in (3, 50, 700)]
    write_seeds(outdir, seeds)


if __name__ == "__main__":
    main(sys.argv[1])
