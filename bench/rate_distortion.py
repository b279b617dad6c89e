"""Rate-distortion of corvane on the real signals in data/: compression ratio
against RMS error for every method and coder over scales 6..12 (cutoff "low"),
with zfp's fixed-accuracy mode and zlib's lossless ratio as references.
Writes docs/rate_distortion.png and prints the README's option tables.

    pip install -r bench/requirements.txt
    python bench/rate_distortion.py [--out docs/rate_distortion.png]
"""
import argparse
import pathlib
import zlib

import numpy as np

import corvane

ROOT = pathlib.Path(__file__).resolve().parent.parent
SIGNALS = {
    "MIT-BIH ECG, record 208 (108,000 samples)": "scipy_ecg.npy",
    "short ECG (1,024 samples)": "pywt_ecg.npy",
    "Niño 3 SST (264 samples)": "pywt_nino_sst.npy",
}
METHODS = ("cdf97", "cdf53", "db4", "sym4")
CODERS = ("arans", "deflate")
SCALES = range(6, 13)


def measure(x, options):
    """(ratio, RMS error / range, max error / range) of one round trip."""
    blob = corvane.compress_signal(x, options)
    y = corvane.decompress_signal(blob).astype(np.float64)
    diff = y - x.astype(np.float64)
    span = float(np.ptp(x))
    return x.nbytes / len(blob), float(np.sqrt(np.mean(diff**2))) / span, float(np.max(np.abs(diff))) / span


def zfp_curve(x):
    import zfpy

    span = float(np.ptp(x))
    points = []
    for tolerance in span * np.logspace(-0.5, -4.5, 17):
        blob = zfpy.compress_numpy(x, tolerance=tolerance)
        y = zfpy.decompress_numpy(blob).astype(np.float64)
        rms = float(np.sqrt(np.mean((y - x) ** 2))) / span
        points.append((x.nbytes / len(blob), rms))
    return points


def zlib_ratio(x):
    packer = zlib.compressobj(6, zlib.DEFLATED, -15)
    return x.nbytes / len(packer.compress(x.tobytes()) + packer.flush())


def plot(out):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.ticker import FormatStrFormatter

    colours = dict(zip(METHODS, ("tab:blue", "tab:orange", "tab:green", "tab:red")))
    fig, axes = plt.subplots(1, len(SIGNALS), figsize=(13, 5.2), constrained_layout=True)
    for ax, (label, name) in zip(axes, SIGNALS.items()):
        x = np.load(ROOT / "data" / name).astype(np.float32)
        errors = []
        for method in METHODS:
            for coder in CODERS:
                points = [measure(x, corvane.CorvnCompressionOptions(method, s, "low", coder)) for s in SCALES]
                errors += [p[1] * 100 for p in points]
                ax.plot(
                    [p[1] * 100 for p in points], [p[0] for p in points],
                    color=colours[method], linestyle="-" if coder == "arans" else "--",
                    marker="o" if coder == "arans" else "x", markersize=3.5, linewidth=1.2,
                    label=f"{method} {coder}",
                )
        zfp = zfp_curve(x)
        ax.plot([p[1] * 100 for p in zfp], [p[0] for p in zfp], color="black", linestyle=":",
                marker="s", markersize=2.5, linewidth=1.2, label="zfp fixed accuracy")
        ax.axhline(zlib_ratio(x), color="grey", linewidth=1, label="zlib-6, lossless")
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.set_xlim(min(errors) / 4, max(errors) * 4)
        ax.yaxis.set_major_formatter(FormatStrFormatter("%g"))
        ax.yaxis.set_minor_formatter(FormatStrFormatter("%g"))
        ax.tick_params(axis="y", which="minor", labelsize=7)
        ax.set_title(label, fontsize=10)
        ax.set_xlabel("RMS error, % of the signal's range")
        ax.grid(True, which="both", linewidth=0.3, alpha=0.6)
    axes[0].set_ylabel("compression ratio (float32 bytes / compressed)")
    handles, labels = axes[0].get_legend_handles_labels()
    fig.legend(handles, labels, loc="outside lower center", ncol=5, fontsize=8, frameon=False)
    fig.suptitle(
        "corvane at scales 12 (left end of each curve) to 6 (right end), cutoff \"low\"; "
        "solid: rANS coder, dashed: DEFLATE", fontsize=10,
    )
    out.parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(out, dpi=90)
    print(f"wrote {out.relative_to(ROOT)} ({out.stat().st_size // 1024} KB)")


def tables():
    """Markdown tables of what each option trades, on the long ECG."""
    x = np.load(ROOT / "data" / "scipy_ecg.npy").astype(np.float32)

    def row(label, options):
        ratio, rms, peak = measure(x, options)
        return f"| {label} | {ratio:.1f} | {rms * 100:.3f} | {peak * 100:.2f} |"

    head = "| {} | ratio | RMS error, % of range | max error, % of range |\n|---|---|---|---|"
    print("\nScale (cdf97, cutoff low, rANS):\n" + head.format("scale"))
    for s in SCALES:
        print(row(str(s), corvane.CorvnCompressionOptions("cdf97", s)))
    print("\nMethod (scale 11, cutoff low, rANS):\n" + head.format("method"))
    for method in METHODS:
        print(row(method, corvane.CorvnCompressionOptions(method, 11)))
    print("\nCutoff (cdf97, rANS):\n" + head.format("scale, cutoff"))
    for s in (8, 10, 12):
        for cutoff in ("low", "medium", "high"):
            print(row(f"{s}, {cutoff}", corvane.CorvnCompressionOptions("cdf97", s, cutoff)))
    print("\nCoder (cdf97, cutoff low):\n" + head.format("scale, coder"))
    for s in (8, 11):
        for coder in CODERS:
            print(row(f"{s}, {coder}", corvane.CorvnCompressionOptions("cdf97", s, "low", coder)))
    print(f"\nzlib-6 on the raw float32 bytes (lossless): ratio {zlib_ratio(x):.2f}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", type=pathlib.Path, default=ROOT / "docs" / "rate_distortion.png")
    args = parser.parse_args()
    plot(args.out.resolve())
    tables()


if __name__ == "__main__":
    main()
