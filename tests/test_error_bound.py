import itertools
import pathlib

import numpy as np
import pytest

import corvane

pytest.importorskip("numcodecs")
from corvane_numcodecs import compress_within  # noqa: E402  (needs numcodecs)

DATA = pathlib.Path(__file__).resolve().parent.parent / "data"


def _smallest_by_brute_force(x, bound):
    """Every method, scale, cutoff and coder, each decoded."""
    best = None
    for combo in itertools.product(
        ("cdf97", "cdf53", "db4", "sym4"), range(6, 13), ("low", "medium", "high"), ("arans", "deflate")
    ):
        blob = corvane.compress_signal(x, corvane.CorvnCompressionOptions(*combo))
        error = np.max(np.abs(corvane.decompress_signal(blob).astype(np.float64) - x))
        if error <= bound and (best is None or len(blob) < best):
            best = len(blob)
    return best


@pytest.mark.parametrize(
    "name, relative_bound",
    [("scipy_ecg", 0.3), ("scipy_ecg", 0.01), ("scipy_ecg", 0.002), ("pywt_nino_sst", 0.01)],
    ids=lambda v: str(v),
)
def test_returns_the_smallest_container_within_the_bound(name, relative_bound):
    x = np.load(DATA / f"{name}.npy")[:3000]  # float64: the downcast counts against the bound
    bound = relative_bound * np.ptp(x)
    result = compress_within(x, bound)

    error = np.max(np.abs(corvane.decompress_signal(result.container).astype(np.float64) - x))
    assert result.max_abs_error == error <= bound
    assert len(result.container) == _smallest_by_brute_force(x, bound)
    options = corvane.CorvnCompressionOptions(result.method, result.scale, result.cutoff, result.coder)
    assert corvane.compress_signal(x, options) == result.container
    assert 1 <= result.evaluated <= 68


def test_unreachable_bound_reports_the_closest_combination():
    x = np.load(DATA / "pywt_ecg.npy").astype(np.float32)
    with pytest.raises(ValueError, match=r"^no option combination keeps the error within 1e-06; "
                       r"the smallest reached was [0-9.e-]+ \((cdf97|cdf53|db4|sym4), scale \d+, cutoff \w+\)$"):
        compress_within(x, 1e-6)


def test_constant_signal_meets_a_zero_bound():
    x = np.full(500, 2.5, dtype=np.float32)
    result = compress_within(x, 0.0)
    assert result.max_abs_error == 0.0
    assert len(result.container) == _smallest_by_brute_force(x, 0.0)


@pytest.mark.parametrize(
    "data, bound, message",
    [
        (np.ones(10), -1.0, "max_abs_error must be finite and non-negative, not -1.0"),
        (np.ones(10), float("nan"), "max_abs_error must be finite and non-negative, not nan"),
        (np.array([1.0, np.nan, 2.0]), 0.1, "compress_within needs finite samples: NaN and infinities are replaced"),
        (np.arange(10), 0.1, "corvane compresses float32 or float64 samples, not int64"),
    ],
    ids=["negative-bound", "nan-bound", "nan-sample", "integer-samples"],
)
def test_rejects_what_no_bound_can_hold(data, bound, message):
    with pytest.raises(ValueError) as raised:
        compress_within(data, bound)
    assert str(raised.value) == message
