"""Seeds for decompress_fuzz: valid containers of every method and coder,
short, flat and non-finite signals, and truncated or altered copies.
Usage: decompress.py OUTDIR [SEED_WRITER]
SEED_WRITER defaults to build/fuzz/fuzz/seed_writer (built with the harnesses)."""
import math
import os
import random
import struct
import subprocess
import sys

from seedfiles import write_seeds

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def signals():
    rng = random.Random(7)
    yield "sine200", [math.sin(i / 7.0) * 3.0 for i in range(200)]
    yield "noise64", [rng.gauss(0.0, 1.0) for _ in range(64)]
    yield "short3", [1.0, -2.0, 0.5]
    yield "one", [4.25]
    yield "flat40", [2.0] * 40
    yield "steps1000", [float((i // 50) % 3) for i in range(1000)]
    yield "nonfinite20", [float("nan"), float("inf"), -float("inf")] + [i * 0.1 for i in range(17)]


CONFIGS = [
    ("cdf97", 11, "low", "arans"),
    ("cdf97", 11, "low", "deflate"),
    ("cdf53", 8, "medium", "arans"),
    ("cdf53", 12, "low", "deflate"),
    ("db4", 6, "high", "arans"),
    ("db4", 11, "low", "deflate"),
    ("sym4", 10, "medium", "auto"),
    ("sym4", 11, "high", "deflate"),
]


def main(outdir, writer):
    seeds = {}
    for i, (name, samples) in enumerate(signals()):
        raw = struct.pack(f"<{len(samples)}f", *samples)
        # Every signal with two configurations, the long one with all of them.
        configs = CONFIGS if name == "sine200" else [CONFIGS[i % len(CONFIGS)],
                                                     CONFIGS[(i + 3) % len(CONFIGS)]]
        for method, scale, cutoff, coder in configs:
            run = subprocess.run([writer, method, str(scale), cutoff, coder], input=raw,
                                 stdout=subprocess.PIPE, check=True)
            seeds[f"{name}_{method}_{coder}_{scale}"] = run.stdout
    base = seeds["sine200_cdf97_arans_11"]
    deflated = seeds["sine200_cdf97_deflate_11"]
    seeds["trunc_header"] = base[:51]
    seeds["trunc_payload_arans"] = base[:len(base) - 5]
    seeds["trunc_payload_deflate"] = deflated[:60]
    seeds["trailing_bytes"] = base + b"\x00" * 7
    # Short payload length in the header: fewer coefficients than the bands need.
    seeds["short_payload_len"] = base[:48] + struct.pack("<I", 20) + base[52:]
    # Levels 10 and 0, a huge count, the coder byte flipped.
    seeds["levels10"] = base[:12] + b"\x0a" + base[13:]
    seeds["levels0"] = base[:12] + b"\x00" + base[13:]
    seeds["count_huge"] = base[:16] + struct.pack("<I", 0x7FFFFFFF) + base[20:]
    seeds["coder_flipped"] = base[:14] + b"\x00" + base[15:]
    write_seeds(outdir, seeds)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else
         os.path.join(ROOT, "build", "fuzz", "fuzz", "seed_writer"))
