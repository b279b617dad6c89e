"""Compresses the real recorded signals in data/ with every method and coder
at a few scales, checks each round trip, and prints ratio, error and speed."""
import pathlib
import sys
import time

import numpy as np

import corvane

DATA = pathlib.Path(__file__).resolve().parent.parent / "data"
SIGNALS = {
    "MIT-BIH ECG 208 (108,000 samples)": "scipy_ecg.npy",
    "short ECG (1,024 samples)": "pywt_ecg.npy",
    "Nino 3 SST (264 samples)": "pywt_nino_sst.npy",
}
METHODS = ["cdf97", "cdf53", "db4", "sym4"]
CODERS = ["arans", "deflate"]
SCALES = [8, 10, 12]


def best_time(fn, budget=0.2):
    """Smallest wall time of repeated calls within about `budget` seconds."""
    best = float("inf")
    spent = 0.0
    runs = 0
    while runs < 3 or (spent < budget and runs < 200):
        start = time.perf_counter()
        result = fn()
        elapsed = time.perf_counter() - start
        best = min(best, elapsed)
        spent += elapsed
        runs += 1
    return best, result


def main():
    failures = 0
    header = (
        f"{'signal':36} {'method':6} {'coder':7} {'scale':>5} {'ratio':>7} "
        f"{'max err':>9} {'rms err':>9} {'comp MS/s':>9} {'dec MS/s':>9}"
    )
    print("Errors are relative to the signal's range; ratio is float32 bytes / container bytes.")
    print(header)
    print("-" * len(header))
    for label, name in SIGNALS.items():
        signal = np.load(DATA / name).astype(np.float32)
        span = float(signal.max() - signal.min())
        for method in METHODS:
            for coder in CODERS:
                for scale in SCALES:
                    opts = corvane.CorvnCompressionOptions(method=method, scale=scale, coder=coder)
                    t_comp, blob = best_time(lambda: corvane.compress_signal(signal, opts))
                    t_dec, out = best_time(lambda: corvane.decompress_signal(blob))
                    ok = out.dtype == np.float32 and out.shape == signal.shape
                    err = np.abs(out.astype(np.float64) - signal) / span if ok else np.array([np.inf])
                    max_err = float(err.max())
                    rms_err = float(np.sqrt(np.mean(err**2)))
                    # Truncation to 2^-scale steps in normalised units, spread
                    # by the transform, stays well under this bound.
                    ok = ok and max_err < 64 * 2.0**-scale
                    failures += not ok
                    print(
                        f"{label:36} {method:6} {coder:7} {scale:5d} "
                        f"{signal.nbytes / len(blob):7.2f} {max_err:9.2e} {rms_err:9.2e} "
                        f"{signal.size / t_comp / 1e6:9.2f} {signal.size / t_dec / 1e6:9.2f}"
                        + ("" if ok else "  ROUND TRIP FAILED")
                    )
    print()
    print("all round trips passed" if failures == 0 else f"{failures} round trips FAILED")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
