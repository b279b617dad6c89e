"""What error-bounded compression costs, and whether its search finds what
trying every candidate finds.

    python bench/error_bound.py            # cost on 1,000,000 samples of ECG
    python bench/error_bound.py --compare  # search vs exhaustive on data/ and synthetic signals

Cost: corvane_numcodecs.compress_within for a few bounds, each beside one
default compress_signal + decompress_signal round trip measured in the same
run (the two interleaved, medians).

Compare: every signal in data/, the 1,000,000-sample ECG and synthetic ones
(sines with noise, a random walk, pulses that saturate the deepest band, a
chirp, an ECG far from zero), under absolute, range-relative and RMS bounds;
the container compress_within returns against the one of the exhaustive
search below (the algorithm compress_within used before it searched).

Both report the candidates whose errors the search measured ("evaluated")
and those whose exact container size it computed ("sized"); the others'
sizes were bounded from the rANS model.
"""
import argparse
import pathlib
import statistics
import time

import numpy as np
from codec import N, cpu_model, real_signal

import corvane
from corvane_numcodecs import compress_within
from corvane_numcodecs.bounded import candidates, measured_errors

DATA = pathlib.Path(__file__).resolve().parent.parent / "data"


def exhaustive_within(x, bound, rms=False):
    """Compresses under all 68 candidates with rANS, decodes them from the
    smallest up until one meets the bound, and keeps the DEFLATE container
    of that candidate when smaller. Returns (container, candidate, coder) or
    None."""
    reference = x.astype(np.float64)
    made = sorted(
        ((corvane.compress_signal(x, corvane.CorvnCompressionOptions(*c, "arans")), c) for c in candidates()),
        key=lambda pair: len(pair[0]),
    )
    for container, candidate in made:
        max_abs, rms_error = measured_errors(container, reference)
        if (rms_error if rms else max_abs) <= bound:
            deflated = corvane.compress_signal(x, corvane.CorvnCompressionOptions(*candidate, "deflate"))
            if len(deflated) < len(container):
                return deflated, candidate, "deflate"
            return container, candidate, "arans"
    return None


def synthetic(n=50_000, seed=1):
    rng = np.random.default_rng(seed)
    t = np.arange(n)
    pulse = np.zeros(n)
    pulse[n // 2 - n // 100 : n // 2 + n // 100] = 1.0
    return {
        "sines + noise": np.sin(t / 50) + 0.5 * np.sin(t / 7) + 0.05 * rng.standard_normal(n),
        "random walk": np.cumsum(rng.standard_normal(n)),
        "pulse 2 % (saturates)": pulse,
        "chirp": np.sin(t * t / 1e6),
        "1000 + ECG": 1000 + np.load(DATA / "scipy_ecg.npy")[:n],
    }


def compare():
    signals = {
        "scipy_ecg (108,000)": np.load(DATA / "scipy_ecg.npy"),
        "pywt_ecg (1,024, int32 as float64)": np.load(DATA / "pywt_ecg.npy").astype(np.float64),
        "pywt_nino_sst (264)": np.load(DATA / "pywt_nino_sst.npy"),
        f"ECG extended ({N:,}, float32)": real_signal(),
        **synthetic(),
    }
    bounds = [("max_rel_error", r) for r in (0.05, 0.01, 0.003, 0.0015, 0.0005)]
    bounds += [("max_abs_error", r) for r in (0.02, 0.002)]  # times the range
    bounds += [("max_rms_error", r) for r in (0.002, 0.0003)]  # times the range
    print(f"CPU: {cpu_model()}")
    print("| signal | bound | exhaustive | compress_within | evaluated | sized | same container |")
    print("|---|---|---|---|---|---|---|")
    same = total = 0
    evaluated, sized = [], []
    for name, x in signals.items():
        x = np.ascontiguousarray(x)
        span = float(np.ptp(x.astype(np.float64)))
        for kind, value in bounds:
            bound = value * span
            reference = exhaustive_within(x, bound, rms=kind == "max_rms_error")
            try:
                found = compress_within(x, **{kind: value if kind == "max_rel_error" else bound})
            except ValueError:
                found = None
            if found is not None:
                evaluated.append(found.evaluated)
                sized.append(found.sized)
            agrees = (reference is None and found is None) or (
                reference is not None and found is not None and reference[0] == found.container
            )
            same += agrees
            total += 1
            described = "none" if reference is None else "{}, {}, {}, {} ({:,} bytes)".format(
                *reference[1], reference[2], len(reference[0])
            )
            mine = "none" if found is None else (
                f"{found.method}, {found.scale}, {found.cutoff}, {found.coder} ({len(found.container):,} bytes)"
            )
            label = f"{kind.split('_')[1]} {value:g}" + (" x range" if kind != "max_rel_error" else "")
            print(f"| {name} | {label} | {described} | {mine} | "
                  f"{found.evaluated if found else '-'} | {found.sized if found else '-'} | "
                  f"{'yes' if agrees else 'NO'} |")
    print(f"\n{same} of {total} the same; candidates evaluated: mean {statistics.mean(evaluated):.1f}, "
          f"min {min(evaluated)}, max {max(evaluated)}; sized exactly: mean {statistics.mean(sized):.2f}, "
          f"max {max(sized)}, none in {sized.count(0)} of {len(sized)}")


def cost(repeat):
    x = real_signal()
    span = float(np.ptp(x))

    def round_trip():
        corvane.decompress_signal(corvane.compress_signal(x))

    print(f"CPU: {cpu_model()}; {N:,} float32 samples of ECG (range {span:.3f}); medians of {repeat} runs, "
          f"each beside a default round trip")
    print("| bound | options found | ratio | error reached | evaluated | sized | time | time / round trip |")
    print("|---|---|---|---|---|---|---|---|")
    for kind, value, label in [
        ("max_rel_error", 0.01, "max 1 % of range"),
        ("max_rel_error", 0.003, "max 0.3 % of range"),
        ("max_rel_error", 0.0015, "max 0.15 % of range"),
        ("max_rms_error", 0.0005 * span, "RMS 0.05 % of range"),
    ]:
        trips, searches = [], []
        for _ in range(repeat):
            start = time.perf_counter()
            round_trip()
            trips.append(time.perf_counter() - start)
            start = time.perf_counter()
            found = compress_within(x, **{kind: value})
            searches.append(time.perf_counter() - start)
        trip, search = statistics.median(trips), statistics.median(searches)
        reached = found.rms_error if kind == "max_rms_error" else found.max_abs_error
        every = ", ".join(f"{s / t:.1f}" for s, t in zip(searches, trips))
        print(
            f"| {label} | {found.method}, {found.scale}, {found.cutoff}, {found.coder} | "
            f"{x.nbytes / len(found.container):.1f} | {reached / span * 100:.3f} % | {found.evaluated} | "
            f"{found.sized} | {search:.2f} s | {search / trip:.1f}x (round trip {trip * 1000:.0f} ms; "
            f"each run {every}) |"
        )


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--compare", action="store_true")
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    if args.compare:
        compare()
    else:
        cost(args.repeat)


if __name__ == "__main__":
    main()
