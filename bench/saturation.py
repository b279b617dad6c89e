"""Where the deepest approximation band saturates: the maximum error, as a
fraction of the signal's range, at scales 10, 11 and 12 for every method on
signals with a one-sided excursion and on 10,000-sample chunks of the real ECG
(the chunking a Zarr array would use). Prints the README's table.

    python bench/saturation.py
"""
import pathlib

import numpy as np

import corvane

ROOT = pathlib.Path(__file__).resolve().parent.parent
METHODS = ("cdf97", "cdf53", "db4", "sym4")
SCALES = (10, 11, 12)


def max_error(x, method, scale):
    y = corvane.decompress_signal(corvane.compress_signal(x, corvane.CorvnCompressionOptions(method, scale)))
    return float(np.max(np.abs(y.astype(np.float64) - x)) / np.ptp(x))


def pulse(fraction, n=100_000):
    """0 everywhere except a plateau at 1 over `fraction` of the samples: the
    plateau sits (1 - fraction) of the range above the mean."""
    x = np.zeros(n, dtype=np.float32)
    x[: int(n * fraction)] = 1.0
    return x


def main():
    ecg = np.load(ROOT / "data" / "scipy_ecg.npy").astype(np.float32)
    chunks = [ecg[i : i + 10_000] for i in range(0, ecg.size - 9_999, 10_000)]
    cases = {f"pulse {f:.0%}": [pulse(f)] for f in (0.5, 0.3, 0.1, 0.02)}
    cases[f"ECG chunks (worst of {len(chunks)})"] = chunks

    print("Maximum error as a fraction of the range. pulse p%: 100,000 samples, 0 except")
    print("a plateau at 1 over p% of them. ECG chunks: record 208 cut into 10,000 samples.\n")
    print("| method | scale | " + " | ".join(cases) + " |")
    print("|---|---" + "|---" * len(cases) + "|")
    for method in METHODS:
        for scale in SCALES:
            cells = [f"{max(max_error(x, method, scale) for x in xs):.0e}" for xs in cases.values()]
            print(f"| {method} | {scale} | " + " | ".join(cells) + " |")


if __name__ == "__main__":
    main()
