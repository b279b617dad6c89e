"""The 8-tap filter banks (portable, SSE, AVX) against PyWavelets, in one run.

Runs the Google Benchmark binary (corvane_bench, filtered to the 8-tap bank)
in a subprocess for multi-level forward plus inverse on 1,000,000 float32
samples (8 levels, periodic border) on each processor path, times
pywt.wavedec + pywt.waverec with 'db4', mode 'periodic', on the same data in
this process, and prints them side by side with their ratios.

Each transform allocates its result bands, about 16 MB of fresh memory per
forward plus inverse here. In the benchmark process glibc hands freed blocks
of that size back to the kernel, so every iteration pays some 4,000
first-touch page faults again; inside a Python process (PyWavelets here, or
this module) it keeps them and no page is faulted. The rows marked "kept"
run the binary with glibc told to keep freed memory, which is the fair
comparison with PyWavelets; the other rows show the page-fault regime.
Times are process CPU time (user and system), so that other work on the
machine does not inflate them.

    python bench/filter_banks.py [path/to/corvane_bench]

Build the binary with -DCORVANE_BUILD_BENCH=ON (default path build/bench).
"""
import json
import os
import pathlib
import platform
import subprocess
import sys
import time
import timeit
from importlib import metadata

import numpy as np
import pywt

ROOT = pathlib.Path(__file__).resolve().parent.parent
N, LEVELS = 1_000_000, 8


def cpu_model():
    try:
        for line in subprocess.run(["lscpu"], capture_output=True, text=True).stdout.splitlines():
            if line.startswith("Model name:"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def signal():
    # The same samples the C++ benchmark transforms.
    t = np.arange(N, dtype=np.float64)
    return (np.sin(t * 0.01) + 0.3 * np.sin(t * 0.37) + 0.05 * np.cos(t * 2.1)).astype(np.float32)


KEEP_FREED = "glibc.malloc.trim_threshold=4000000000:glibc.malloc.mmap_threshold=4000000000"


def engine_ms(binary, env=None):
    """Median milliseconds of each path's row (None where this processor lacks
    it). The paths run in one process with their repetitions interleaved in
    random order, so that a slow spell of the machine falls on all of them
    alike instead of on whichever ran then."""
    done = subprocess.run(
        [str(binary), f"--benchmark_filter=BM_FilterBankDb4/(Portable|Sse|Avx)/{N}/{LEVELS}$",
         "--benchmark_format=json", "--benchmark_repetitions=15",
         "--benchmark_enable_random_interleaving=true",
         "--benchmark_report_aggregates_only=true"],
        capture_output=True, text=True, check=True, env=env,
    )
    found = {}
    for b in json.loads(done.stdout)["benchmarks"]:
        path = b["name"].split("/")[1]
        if b.get("error_occurred"):
            found[path] = None
        elif b.get("aggregate_name") == "median":
            scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
            found[path] = b["cpu_time"] * scale
    return found


def pywt_ms(x):
    def run():
        coeffs = pywt.wavedec(x, "db4", mode="periodic", level=LEVELS)
        return pywt.waverec(coeffs, "db4", mode="periodic")

    y = run()
    assert y.dtype == np.float32 and np.abs(y[:N] - x).max() < 1e-4
    times = timeit.repeat(run, number=1, repeat=7, timer=time.process_time)
    return sorted(times)[len(times) // 2] * 1e3


def main():
    binary = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "build" / "bench" / "bench" / "corvane_bench"
    kept = dict(os.environ, GLIBC_TUNABLES=KEEP_FREED)
    engine = engine_ms(binary, kept)
    engine.update({path + " faulting": ms for path, ms in engine_ms(binary).items()})
    theirs = pywt_ms(signal())
    print(f"CPU: {cpu_model()}")
    print(f"db4, {N} float32 samples, {LEVELS} levels, periodic border; forward + inverse, median CPU time")
    print(f"{'implementation':<40}{'ms':>9}{'Msamples/s':>12}{'PyWavelets/this':>17}{'portable/this':>15}")
    # pywt.__version__ of the 1.9.0 wheel still reads 1.8.0; the installed
    # distribution's metadata names the release.
    rows = [(f"PyWavelets {metadata.version('PyWavelets')}", theirs, engine["Portable"])]
    for path in ("Portable", "Sse", "Avx"):
        rows.append((f"tessary {path}, malloc keeps memory", engine[path], engine["Portable"]))
    for path in ("Portable", "Sse", "Avx"):
        rows.append((f"tessary {path}, pages faulted again", engine[path + " faulting"],
                     engine["Portable faulting"]))
    for name, ms, portable in rows:
        if ms is None:
            print(f"{name:<40}{'(this processor lacks it)':>53}")
            continue
        print(f"{name:<40}{ms:>9.2f}{N / ms / 1e3:>12.1f}{theirs / ms:>16.2f}x{portable / ms:>14.2f}x")


if __name__ == "__main__":
    main()
