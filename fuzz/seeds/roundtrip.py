"""Seeds for roundtrip_fuzz: every method, coder and cut-off, float and double
input, each kernel path, on smooth, noisy, short, flat and non-finite
signals. Usage: roundtrip.py OUTDIR

Input layout (see fuzz/roundtrip_fuzz.cpp): byte 0 = method | cutoff << 2 |
coder << 4; byte 1 = scale - 6 | double << 3 | path << 4; byte 2 = which
special values to splice in; then float32 samples."""
import math
import random
import struct
import sys

from seedfiles import write_seeds


def seed(method, cutoff, coder, scale, double, path, specials, samples):
    head = bytes([method | cutoff << 2 | coder << 4, (scale - 6) | double << 3 | path << 4, specials])
    return head + struct.pack(f"<{len(samples)}f", *samples)


def main(outdir):
    rng = random.Random(3)
    signals = [
        [math.sin(i / 5.0) for i in range(150)],
        [rng.uniform(-100.0, 100.0) for _ in range(40)],
        [0.25, -1.0, 3.0],
        [7.0] * 20,
        [float("nan"), float("inf"), -float("inf"), 1.0, 2.0, 3.0, 4.0, 5.0, 6.0],
        [3e38, -3e38, 1.0, 2.0],  # range overflows float
    ]
    seeds = []
    for i, samples in enumerate(signals):
        for method in range(4):
            seeds.append(seed(method, i % 3, (i + method) % 3, 6 + (i + 2 * method) % 7,
                              (i + method) & 1, (method + i) % 3, 0 if i < 4 else 0x3F, samples))
    write_seeds(outdir, seeds)


if __name__ == "__main__":
    main(sys.argv[1])
