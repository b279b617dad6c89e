"""compress_signal / decompress_signal speed on 1,000,000 float32 samples of a
real ECG, for every method and both coders, beside zlib level 6 on the raw
float32 bytes, measured in the same run.

    python bench/codec.py [--repeat N]
"""
import argparse
import pathlib
import platform
import statistics
import time
import zlib

import numpy as np

import corvane

ROOT = pathlib.Path(__file__).resolve().parent.parent
N = 1_000_000


def cpu_model():
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def real_signal(n=N):
    """The MIT-BIH ECG extended to n samples by concatenating circularly
    shifted copies (plain tiling would repeat byte patterns that flatter
    DEFLATE)."""
    ecg = np.load(ROOT / "data" / "scipy_ecg.npy").astype(np.float32)
    parts = []
    shift = 0
    while sum(p.size for p in parts) < n:
        parts.append(np.roll(ecg, shift))
        shift += 7919
    return np.concatenate(parts)[:n].copy()


def median_time(fn, repeat):
    times = []
    result = None
    for _ in range(repeat):
        start = time.perf_counter()
        result = fn()
        times.append(time.perf_counter() - start)
    return statistics.median(times), result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=7)
    args = parser.parse_args()
    x = real_signal()
    raw = x.tobytes()
    print(f"CPU: {cpu_model()}; {N:,} float32 samples of ECG; medians of {args.repeat} runs")

    def zlib_compress():
        c = zlib.compressobj(6, zlib.DEFLATED, -15)
        return c.compress(raw) + c.flush()

    t_zc, zblob = median_time(zlib_compress, args.repeat)
    t_zd, _ = median_time(lambda: zlib.decompress(zblob, -15), args.repeat)
    rows = [("zlib-6 raw float32 (lossless)", t_zc, t_zd, len(zblob))]
    for method in ("cdf97", "cdf53", "db4", "sym4"):
        for coder in ("arans", "deflate"):
            opts = corvane.CorvnCompressionOptions(method=method, coder=coder)
            t_c, blob = median_time(lambda: corvane.compress_signal(x, opts), args.repeat)
            t_d, _ = median_time(lambda: corvane.decompress_signal(blob), args.repeat)
            rows.append((f"corvane {method} {coder}", t_c, t_d, len(blob)))

    print(f"{'':32} {'comp MS/s':>10} {'dec MS/s':>10} {'bytes':>10} {'ratio':>7} {'comp vs zlib':>13} {'dec vs zlib':>12}")
    for name, t_c, t_d, size in rows:
        print(
            f"{name:32} {N / t_c / 1e6:10.2f} {N / t_d / 1e6:10.2f} {size:10,d} "
            f"{x.nbytes / size:7.2f} {t_zc / t_c:12.2f}x {t_zd / t_d:11.2f}x"
        )


if __name__ == "__main__":
    main()
