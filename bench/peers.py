"""corvane side by side with what its users would otherwise pick, in one run.

On 1,000,000 samples of the MIT-BIH ECG (data/scipy_ecg.npy extended by
circularly shifted copies), the same ECG with noise, and synthetic signals, in
this one process: compress_signal / decompress_signal against zfpy in
fixed-accuracy mode at the tolerance that gives the same maximum error,
against SZ3 (pysz) with its absolute error bound set to our maximum error and
again at the bound that gives our RMS error, and against pcodec (lossless) as
a reference; zlib level 6 raw DEFLATE on the codec's own coefficient string,
PyWavelets wavedec + waverec, and a NumPy copy as the memory-bandwidth
ceiling. The C++-only figures (the rANS coder against its earlier loops and
zlib, from corvane_coder_bench; every transform through the factories the
codec uses, from corvane_bench) come from subprocesses on the same data
within the same run. Peak memory is measured in fresh subprocesses.

Prints medians, sizes, peak memory and every target with its ratio and
PASS/FAIL. Usually run through `bash bench/run.sh`, which builds everything
in Release into a separate venv:

    python bench/peers.py [--bench build/bench/bench/corvane_bench]
                          [--coder-bench build/bench/bench/corvane_coder_bench]
                          [--repeat 7] [--big]

--big adds the 100,000,000-sample scale check (400 MB of float32 input; a
few minutes).
"""
import argparse
import json
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time
import zlib

from importlib import metadata

import numpy as np
import pcodec
import pysz
import pywt
import zfpy
from pcodec import standalone as pco

import corvane

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from codec import real_signal  # noqa: E402  (same ECG extension as bench/codec.py)

ROOT = pathlib.Path(__file__).resolve().parent.parent
N = 1_000_000
LEVELS = 8
HEADER = 52
DEFAULT = corvane.CorvnCompressionOptions()
DEFLATE = corvane.CorvnCompressionOptions(coder="deflate")


def cpu_model():
    """The model name with its family and model numbers (a virtual machine's
    name alone can hide which processor it is)."""
    fields = {}
    try:
        for line in open("/proc/cpuinfo"):
            key, _, value = line.partition(":")
            fields.setdefault(key.strip(), value.strip())
            if not line.strip():
                break
    except OSError:
        return "unknown CPU"
    return (f"{fields.get('model name', 'unknown CPU')} "
            f"(family {fields.get('cpu family', '?')}, model {fields.get('model', '?')})")


def seconds(fn, repeat, min_batch=0.02):
    """Median seconds per call over `repeat` batches (one call per batch for
    slow calls, enough calls to last `min_batch` for fast ones)."""
    fn()
    start = time.perf_counter()
    fn()
    once = time.perf_counter() - start
    calls = max(1, int(min_batch / max(once, 1e-9)))
    batches = []
    for _ in range(repeat):
        start = time.perf_counter()
        for _ in range(calls):
            fn()
        batches.append((time.perf_counter() - start) / calls)
    return statistics.median(batches)


def interleaved_seconds(fns, repeat, min_batch=0.02):
    """Median seconds per call of each function, their batches run in turn so
    that a slow spell of a shared machine falls on all of them alike (for
    calls so short that one batch is a few milliseconds)."""
    calls = []
    for fn in fns:
        fn()
        start = time.perf_counter()
        fn()
        calls.append(max(1, int(min_batch / max(time.perf_counter() - start, 1e-9))))
    batches = [[] for _ in fns]
    for _ in range(repeat):
        for k, fn in enumerate(fns):
            start = time.perf_counter()
            for _ in range(calls[k]):
                fn()
            batches[k].append((time.perf_counter() - start) / calls[k])
    return [statistics.median(b) for b in batches]


def synthetic_signals(n=N):
    rng = np.random.default_rng(2024)
    t = np.arange(n, dtype=np.float64)
    sines = np.sin(t * 0.001) + 0.3 * np.sin(t * 0.037) + 0.01 * rng.standard_normal(n)
    walk = np.cumsum(rng.standard_normal(n)) * 0.01
    return {"sines+noise": sines.astype(np.float32), "random walk": walk.astype(np.float32)}


def noisy(x, fraction_of_range=0.02):
    """x with white Gaussian noise of a fraction of its range added (the
    noisy string of corvane_coder_bench is made the same way)."""
    rng = np.random.default_rng(2024)
    spread = float(x.max() - x.min())
    return (x + fraction_of_range * spread * rng.standard_normal(x.size)).astype(np.float32)


def rms(a, b):
    return float(np.sqrt(np.mean((a.astype(np.float64) - b) ** 2)))


# A codec's row: its sizes and errors, and its compress and decompress calls,
# which time_rows times with the other rows of the same signal in turn.


def zfp_matching(x, max_error):
    """The largest zfp tolerance whose maximum error stays within ours, found
    by bisection on a log scale (zfp's error moves in steps)."""
    lo, hi = max_error / 256, max_error * 4
    best = None
    for _ in range(18):
        mid = (lo * hi) ** 0.5
        blob = zfpy.compress_numpy(x, tolerance=mid)
        err = float(np.abs(zfpy.decompress_numpy(blob) - x).max())
        if err <= max_error:
            best, lo = (mid, blob, err), mid
        else:
            hi = mid
    tol, blob, err = best
    return {"tolerance": tol, "bytes": len(blob), "max_error": err,
            "rms": rms(zfpy.decompress_numpy(blob), x),
            "compress": lambda: zfpy.compress_numpy(x, tolerance=tol),
            "decompress": lambda: zfpy.decompress_numpy(blob)}


def sz3_config(x, bound):
    config = pysz.szConfig(x.shape)
    config.errorBoundMode = pysz.szErrorBoundMode.ABS
    config.absErrorBound = bound
    return config


def sz3_row(x, bound):
    """SZ3 (its default algorithm) with an absolute error bound."""
    config = sz3_config(x, bound)
    blob, _ = pysz.sz.compress(x, config)
    y, _ = pysz.sz.decompress(blob, np.float32, x.shape)
    return {"bound": bound, "bytes": blob.size, "max_error": float(np.abs(y - x).max()),
            "rms": rms(y, x),
            "compress": lambda: pysz.sz.compress(x, config),
            "decompress": lambda: pysz.sz.decompress(blob, np.float32, x.shape)}


def sz3_equal_rms(x, target_rms, max_error):
    """SZ3 at the largest absolute bound whose RMS error stays within
    target_rms, by bisection on a log scale."""
    lo, hi = max_error / 64, max_error * 16
    best = lo
    for _ in range(20):
        mid = (lo * hi) ** 0.5
        blob, _ = pysz.sz.compress(x, sz3_config(x, mid))
        y, _ = pysz.sz.decompress(blob, np.float32, x.shape)
        if rms(y, x) <= target_rms:
            best, lo = mid, mid
        else:
            hi = mid
    return sz3_row(x, best)


def pcodec_row(x):
    """pcodec, lossless, at its default level: a reference for speed."""
    config = pcodec.ChunkConfig()
    blob = pco.simple_compress(x, config)
    assert np.array_equal(pco.simple_decompress(blob), x)
    return {"bytes": len(blob), "max_error": 0.0, "rms": 0.0,
            "compress": lambda: pco.simple_compress(x, config),
            "decompress": lambda: pco.simple_decompress(blob)}


def corvane_row(x, options):
    blob = corvane.compress_signal(x, options)
    y = corvane.decompress_signal(blob)
    return {"bytes": len(blob), "max_error": float(np.abs(y - x).max()), "rms": rms(y, x),
            "blob": blob,
            "compress": lambda: corvane.compress_signal(x, options),
            "decompress": lambda: corvane.decompress_signal(blob)}


def time_rows(rows, repeat):
    """Adds each row's median seconds per call ("comp", "dec"), the rows'
    batches run in turn so that a slow spell of a shared machine falls on
    every codec alike."""
    comp = interleaved_seconds([r["compress"] for r in rows], repeat)
    dec = interleaved_seconds([r["decompress"] for r in rows], repeat)
    for r, c, d in zip(rows, comp, dec):
        r["comp"], r["dec"] = c, d
    return rows


def corvane_figures(x, options, repeat):
    return time_rows([corvane_row(x, options)], repeat)[0]


# glibc told to keep freed memory: shows what the engine costs without the
# first-touch page faults of its freshly allocated result bands.
KEEP_FREED = "glibc.malloc.trim_threshold=4000000000:glibc.malloc.mmap_threshold=4000000000"


def run_cpp(bench, signal_path, coefficients_path, repeat,
            pattern="^codec_transform/", extra_env=None):
    """Median real ms (and label) of the factory-transform benchmarks."""
    env = dict(os.environ, CORVANE_BENCH_SIGNAL=str(signal_path),
               CORVANE_BENCH_COEFFICIENTS=str(coefficients_path), **(extra_env or {}))
    cmd = [str(bench), f"--benchmark_filter={pattern}",
           "--benchmark_format=json", f"--benchmark_repetitions={max(3, repeat // 2)}",
           "--benchmark_report_aggregates_only=true", "--benchmark_min_time=0.3",
           # Repetitions of the rows in random order: a slow spell of a shared
           # machine then falls on every row alike.
           "--benchmark_enable_random_interleaving=true"]
    out = subprocess.run(cmd, capture_output=True, text=True, check=True, env=env).stdout
    figures = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") != "median" or b.get("error_occurred"):
            continue
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
        figures[b["run_name"]] = (b["real_time"] * scale, b.get("label", ""))
    return figures


def run_coder_bench(bench, coefficients_path, repeat):
    """corvane_coder_bench's medians: seconds per call of every row, per
    coefficient string (its own ECG and noisy strings, and ours as "file")."""
    env = dict(os.environ, CORVANE_BENCH_COEFFICIENTS=str(coefficients_path))
    out = subprocess.run([str(bench), "--json", "--repeat", str(max(9, 2 * repeat))],
                         capture_output=True, text=True, check=True, env=env).stdout
    return json.loads(out)["strings"]


MEMORY_PROBE = r"""
import sys, numpy as np, corvane
kind, path = sys.argv[1], sys.argv[2]
def status(key):
    for line in open("/proc/self/status"):
        if line.startswith(key + ":"):
            return int(line.split()[1]) * 1024
data = np.load(path) if path.endswith(".npy") else open(path, "rb").read()
# A tiny call first loads NumPy's C API and the executors without leaving
# freed blocks of the real call's size for the measured call to reuse.
tiny = np.linspace(0, 1, 256, dtype=np.float32)
corvane.decompress_signal(corvane.compress_signal(tiny))
call = {"compress": lambda: corvane.compress_signal(data),
        "decompress": lambda: corvane.decompress_signal(data)}[kind]
before = status("VmRSS")
with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # restart the peak (VmHWM) from the current size
out = call()
print(status("VmHWM") - before)
"""


def peak_extra_bytes(kind, path):
    done = subprocess.run([sys.executable, "-c", MEMORY_PROBE, kind, str(path)],
                          capture_output=True, text=True, check=True)
    return int(done.stdout.split()[-1])


class Targets:
    def __init__(self):
        self.rows = []

    def add(self, label, ratio, goal, higher_is_better=True, note=""):
        ok = ratio >= goal if higher_is_better else ratio <= goal
        sign = ">=" if higher_is_better else "<="
        self.rows.append((label, f"{ratio:.2f}x", f"{sign} {goal}x", "PASS" if ok else "FAIL", note))

    def print(self):
        print(f"{'target':<66}{'measured':>10}{'goal':>10}  verdict")
        for label, measured, goal, verdict, note in self.rows:
            print(f"{label:<66}{measured:>10}{goal:>10}  {verdict}{('  ' + note) if note else ''}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bench", type=pathlib.Path,
                        default=ROOT / "build" / "bench" / "bench" / "corvane_bench")
    parser.add_argument("--coder-bench", type=pathlib.Path,
                        default=ROOT / "build" / "bench" / "bench" / "corvane_coder_bench")
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--big", action="store_true", help="also run the 100M-sample scale check")
    args = parser.parse_args()
    repeat = args.repeat
    targets = Targets()

    x = real_signal(N)
    print(f"CPU: {cpu_model()}; Python {sys.version.split()[0]}, NumPy {np.__version__}, "
          f"PyWavelets {metadata.version('PyWavelets')}, zfpy {metadata.version('zfpy')}, "
          f"pysz (SZ3) {metadata.version('pysz')}, pcodec {metadata.version('pcodec')}, "
          f"zlib {zlib.ZLIB_RUNTIME_VERSION}")
    print(f"{N:,} float32 samples; medians of {repeat} runs, the codecs of a signal in turn; "
          "MS/s = million samples per second (x 4 for MB/s of float32)")
    print()

    # -------------------------------------------------- whole codec vs zfp, SZ3, pcodec
    copy_s = seconds(lambda: x.copy(), repeat)
    print(f"NumPy copy of the input (memory-bandwidth ceiling): {copy_s * 1e3:.2f} ms, "
          f"{N / copy_s / 1e6:.0f} MS/s")
    print()
    print(f"{'signal / codec':<40}{'bytes':>11}{'ratio':>7}{'max error':>11}{'rms error':>11}"
          f"{'comp MS/s':>11}{'dec MS/s':>10}")
    ecg = None
    signals = [("ECG", x), ("ECG+2% noise", noisy(x))] + list(synthetic_signals().items())
    for name, signal in signals:
        ours = corvane_row(signal, DEFAULT)
        zfp = zfp_matching(signal, ours["max_error"])
        sz3 = sz3_row(signal, ours["max_error"])
        sz3_rms = sz3_equal_rms(signal, ours["rms"], ours["max_error"])
        pco_row = pcodec_row(signal)
        time_rows([ours, zfp, sz3, sz3_rms, pco_row], repeat)
        for label, f in ((f"{name}: corvane cdf97 arans", ours),
                         (f"{name}: zfpy tol {zfp['tolerance']:.3g}", zfp),
                         (f"{name}: SZ3 abs {sz3['bound']:.3g} (= max)", sz3),
                         (f"{name}: SZ3 abs {sz3_rms['bound']:.3g} (= rms)", sz3_rms),
                         (f"{name}: pcodec lossless", pco_row)):
            print(f"{label:<40}{f['bytes']:>11,}{signal.nbytes / f['bytes']:>7.2f}"
                  f"{f['max_error']:>11.3g}{f['rms']:>11.3g}"
                  f"{N / f['comp'] / 1e6:>11.2f}{N / f['dec'] / 1e6:>10.2f}")
        if ecg is None:
            ecg = (ours, zfp, sz3, sz3_rms)
    ours, zfp, sz3, sz3_rms = ecg
    print()
    targets.add("2  decompress_signal vs zfpy decompress (ECG)", zfp["dec"] / ours["dec"], 0.3)
    targets.add("2  compress_signal vs zfpy compress (ECG)", zfp["comp"] / ours["comp"], 0.25)
    targets.add("2  container size, zfp bytes / corvane bytes at equal max error",
                zfp["bytes"] / ours["bytes"], 1.6, note="(expected about 1.6x)")
    targets.add("8  decompress_signal vs zfpy decompress (ECG)", zfp["dec"] / ours["dec"], 0.8)
    targets.add("8  compress_signal vs zfpy compress (ECG)", zfp["comp"] / ours["comp"], 0.6)
    for label, f in (("SZ3 at our max error", sz3), ("SZ3 at our rms error", sz3_rms)):
        print(f"ECG, corvane / {label}: decompression speed {f['dec'] / ours['dec']:.2f}x, "
              f"compression speed {f['comp'] / ours['comp']:.2f}x, "
              f"size {f['bytes'] / ours['bytes']:.2f}x theirs/ours")

    # -------------------------------------------------- DEFLATE path overhead
    deflated = corvane_figures(x, DEFLATE, repeat)
    payload = deflated["blob"][HEADER:]
    coefficients = zlib.decompress(payload, -15)

    def zlib_compress():
        c = zlib.compressobj(6, zlib.DEFLATED, -15)
        return c.compress(coefficients) + c.flush()

    assert zlib_compress() == payload, "the deflate payload is zlib-6 raw DEFLATE of the coefficients"
    z_c = seconds(zlib_compress, repeat)
    z_d = seconds(lambda: zlib.decompress(payload, -15), repeat)
    print(f"coefficient string: {len(coefficients):,} bytes; zlib-6 raw DEFLATE "
          f"{len(payload):,} bytes in {z_c * 1e3:.1f} ms, inflated in {z_d * 1e3:.2f} ms")
    print(f"compress_signal deflate {deflated['comp'] * 1e3:.1f} ms, "
          f"decompress_signal deflate {deflated['dec'] * 1e3:.2f} ms")
    targets.add("3  compress_signal(deflate) vs zlib-6 on the coefficient string",
                z_c / deflated["comp"], 0.9)
    targets.add("3  decompress_signal(deflate) vs inflating the coefficient string",
                z_d / deflated["dec"], 0.7)
    targets.add("8  decompress_signal(deflate) vs inflating the coefficient string",
                z_d / deflated["dec"], 0.8)

    # -------------------------------------------------- C++: coder and transforms
    cpp, kept, coder = {}, {}, {}
    with tempfile.TemporaryDirectory() as tmp:
        signal_path = pathlib.Path(tmp) / "signal.f32"
        coefficients_path = pathlib.Path(tmp) / "coefficients.bin"
        x.tofile(signal_path)
        coefficients_path.write_bytes(coefficients)
        if args.coder_bench.exists():
            coder = run_coder_bench(args.coder_bench, coefficients_path, repeat)
        else:
            print(f"{args.coder_bench} not found: coder figures skipped (bash bench/run.sh builds it)")
        if args.bench.exists():
            cpp = run_cpp(args.bench, signal_path, coefficients_path, repeat)
            kept = run_cpp(args.bench, signal_path, coefficients_path, repeat,
                           pattern="^codec_transform/", extra_env={"GLIBC_TUNABLES": KEEP_FREED})
        else:
            print(f"{args.bench} not found: transform figures skipped (bash bench/run.sh builds it)")
    if coder:
        print()
        print("C++ coder (corvane_coder_bench, rounds interleaved): MB/s of the coefficient string")
        print(f"  {'string':<8}{'bytes':>11}{'arans':>10}{'zlib-6':>10}"
              f"{'enc new':>9}{'enc ref':>9}{'enc zlib':>9}{'dec new':>9}{'dec ref':>9}{'dec zlib':>9}")
        for name, f in coder.items():
            mb = f["bytes"] / 1e6
            speeds = [mb / f[k] for k in ("encode new", "encode reference", "encode zlib-6",
                                          "decode new", "decode reference", "decode zlib-6")]
            print(f"  {name:<8}{f['bytes']:>11,}{f['arans_bytes']:>10,}{f['zlib_bytes']:>10,}"
                  + "".join(f"{v:>9.1f}" for v in speeds))
        ours_string = coder.get("file", coder.get("ECG"))
        enc, ref_enc, zc = (ours_string[k] for k in ("encode new", "encode reference", "encode zlib-6"))
        dec, ref_dec = ours_string["decode new"], ours_string["decode reference"]
        targets.add("1  encode_stream vs zlib-6 compress, same string (C++)", zc / enc, 1.8)
        targets.add("9  decode_stream vs the reference decoder, ECG string (C++)", ref_dec / dec, 1.5)
        targets.add("9  encode_stream vs the reference encoder, ECG string (C++)", ref_enc / enc, 2.0)
    if cpp:
        def pywt_round_trip(wavelet, mode):
            def run():
                coeffs = pywt.wavedec(x, wavelet, mode=mode, level=LEVELS)
                return pywt.waverec(coeffs, wavelet, mode=mode)
            return seconds(run, repeat) * 1e3

        print()
        print(f"transforms, {LEVELS} levels forward + inverse (multi_dwt + multi_idwt), ms; "
              "'kept' = glibc keeps freed memory (no first-touch faults):")
        for method, wavelet, mode, goal in (("cdf97", "bior4.4", "periodization", 3),
                                            ("db4", "db4", "periodic", 3),
                                            ("cdf53", "bior2.2", "periodization", None),
                                            ("sym4", "sym4", "periodic", None)):
            ms, path = cpp[f"codec_transform/{method}/{N}"]
            kept_ms = kept[f"codec_transform/{method}/{N}"][0]
            theirs = pywt_round_trip(wavelet, mode)
            print(f"  corvane {method:5} ({path:8}) {ms:7.2f}  kept {kept_ms:6.2f}   "
                  f"PyWavelets {wavelet:7} {mode:13} {theirs:7.2f}   "
                  f"ratio {theirs / ms:.2f}x, kept {theirs / kept_ms:.2f}x")
            if goal:
                targets.add(f"4  {method} ({path}) multi_dwt+multi_idwt vs PyWavelets {wavelet}",
                            theirs / ms, goal)

    # -------------------------------------------------- float64 input
    x64 = x.astype(np.float64)
    assert corvane.compress_signal(x64) == ours["blob"], "float64 input converts exactly"
    # Both dtypes in turn, as the ratio is close to 1 and the runs are long.
    t64, t32 = interleaved_seconds([lambda: corvane.compress_signal(x64),
                                    lambda: corvane.compress_signal(x)], repeat)
    print()
    print(f"compress_signal float64 {t64 * 1e3:.1f} ms, float32 {t32 * 1e3:.1f} ms")
    targets.add("5  float64 compress speed / float32 compress speed", t32 / t64, 0.95)

    # -------------------------------------------------- peak memory
    with tempfile.TemporaryDirectory() as tmp:
        signal_path = pathlib.Path(tmp) / "signal.npy"
        blob_path = pathlib.Path(tmp) / "blob.bin"
        np.save(signal_path, x)
        blob_path.write_bytes(ours["blob"])
        c_peak = peak_extra_bytes("compress", signal_path)
        d_peak = peak_extra_bytes("decompress", blob_path)
    print(f"peak extra memory: compress_signal {c_peak / 1e6:.1f} MB, "
          f"decompress_signal {d_peak / 1e6:.1f} MB (input/output {x.nbytes / 1e6:.1f} MB)")
    targets.add("6  compress_signal peak extra memory / float32 input size",
                c_peak / x.nbytes, 8, higher_is_better=False)
    targets.add("6  decompress_signal peak extra memory / output size",
                d_peak / x.nbytes, 6, higher_is_better=False)

    # -------------------------------------------------- scale
    small = x[:64].copy()
    blob64 = corvane.compress_signal(small)
    zblob64 = zfpy.compress_numpy(small, tolerance=zfp["tolerance"])
    c64, zc64, d64, zd64 = interleaved_seconds(
        [lambda: corvane.compress_signal(small),
         lambda: zfpy.compress_numpy(small, tolerance=zfp["tolerance"]),
         lambda: corvane.decompress_signal(blob64),
         lambda: zfpy.decompress_numpy(zblob64)], 3 * repeat)
    print(f"64 samples, per call: corvane compress {c64 * 1e6:.1f} us, decompress {d64 * 1e6:.1f} us; "
          f"zfpy compress {zc64 * 1e6:.1f} us, decompress {zd64 * 1e6:.1f} us")
    targets.add("7  per-call time on 64 samples, compress, corvane / zfpy", c64 / zc64, 3,
                higher_is_better=False)
    targets.add("7  per-call time on 64 samples, decompress, corvane / zfpy", d64 / zd64, 3,
                higher_is_better=False)
    targets.add("8  per-call time on 64 samples, compress, corvane / zfpy", c64 / zc64, 2,
                higher_is_better=False)
    targets.add("8  per-call time on 64 samples, decompress, corvane / zfpy", d64 / zd64, 2,
                higher_is_better=False)
    if args.big:
        big_n = 100_000_000
        big = real_signal(big_n)
        big_blob = corvane.compress_signal(big)
        tc = seconds(lambda: corvane.compress_signal(big), 3)
        td = seconds(lambda: corvane.decompress_signal(big_blob), 3)
        del big, big_blob
        print(f"{big_n:,} samples: compress {tc:.2f} s, decompress {td:.2f} s")
        per_small = (ours["comp"] + ours["dec"]) / N
        per_big = (tc + td) / big_n
        targets.add("7  time per sample at 100M / at 1M (compress + decompress)",
                    per_big / per_small, 1.3, higher_is_better=False)

    print()
    targets.print()


if __name__ == "__main__":
    main()
