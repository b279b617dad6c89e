"""Writes a seed corpus: one file per seed in one folder."""
import os


def write_seeds(outdir, seeds):
    """`seeds` maps file names to bytes, or is a list written as seed00, seed01, ..."""
    if not isinstance(seeds, dict):
        seeds = {f"seed{i:02d}": data for i, data in enumerate(seeds)}
    os.makedirs(outdir, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)
