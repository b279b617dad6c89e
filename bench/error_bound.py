"""What error-bounded compression costs: corvane_numcodecs.compress_within on
1,000,000 float32 samples of real ECG for a few bounds, beside one default
compress_signal + decompress_signal round trip measured in the same run.

    python bench/error_bound.py
"""
import time

import numpy as np

import corvane
from codec import N, cpu_model, real_signal
from corvane_numcodecs import compress_within


def main():
    x = real_signal()
    span = float(np.ptp(x))
    start = time.perf_counter()
    corvane.decompress_signal(corvane.compress_signal(x))
    round_trip = time.perf_counter() - start
    print(f"CPU: {cpu_model()}; {N:,} float32 samples of ECG (range {span:.3f})")
    print(f"one default round trip: {round_trip:.2f} s\n")
    print("| bound, % of range | options found | ratio | error reached, % of range | decoded | time | time / round trip |")
    print("|---|---|---|---|---|---|---|")
    for relative in (0.01, 0.003, 0.0015):
        start = time.perf_counter()
        found = compress_within(x, relative * span)
        elapsed = time.perf_counter() - start
        print(
            f"| {relative * 100:g} | {found.method}, {found.scale}, {found.cutoff}, {found.coder} | "
            f"{x.nbytes / len(found.container):.1f} | {found.max_abs_error / span * 100:.3f} | "
            f"{found.decoded} | {elapsed:.1f} s | {elapsed / round_trip:.0f}x |"
        )


if __name__ == "__main__":
    main()
