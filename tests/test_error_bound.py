import itertools
import pathlib

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import corvane

pytest.importorskip("numcodecs")
from corvane_numcodecs import compress_within  # noqa: E402  (needs numcodecs)
from corvane_numcodecs.bounded import (  # noqa: E402
    CUTOFFS,
    Candidate,
    Evaluation,
    RoundTripEvaluator,
    _bounded,
    _Search,
    candidates,
    measured_errors,
)

DATA = pathlib.Path(__file__).resolve().parent.parent / "data"


def _smallest_by_brute_force(x, bound, rms=False):
    """Every method, scale, cutoff and coder, each decoded."""
    best = None
    for combo in itertools.product(
        ("cdf97", "cdf53", "db4", "sym4"), range(6, 13), ("low", "medium", "high"), ("arans", "deflate")
    ):
        blob = corvane.compress_signal(x, corvane.CorvnCompressionOptions(*combo))
        difference = corvane.decompress_signal(blob).astype(np.float64) - x
        error = np.sqrt(np.mean(difference**2)) if rms else np.max(np.abs(difference))
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
    "data, bounds, message",
    [
        (np.ones(10), {"max_abs_error": -1.0}, "max_abs_error must be finite and non-negative, not -1.0"),
        (np.ones(10), {"max_rel_error": float("nan")}, "max_rel_error must be finite and non-negative, not nan"),
        (np.ones(10), {"max_rms_error": float("inf")}, "max_rms_error must be finite and non-negative, not inf"),
        (np.ones(10), {}, "compress_within needs exactly one of max_abs_error, max_rel_error and "
                          "max_rms_error, got none"),
        (np.ones(10), {"max_abs_error": 0.1, "max_rms_error": 0.1},
         "compress_within needs exactly one of max_abs_error, max_rel_error and max_rms_error, "
         "got max_abs_error and max_rms_error"),
        (np.array([1.0, np.nan, 2.0]), {"max_abs_error": 0.1},
         "compress_within needs finite samples: NaN and infinities are replaced"),
        (np.arange(10), {"max_abs_error": 0.1}, "corvane compresses float32 or float64 samples, not int64"),
    ],
    ids=["negative-bound", "nan-bound", "infinite-bound", "no-bound", "two-bounds", "nan-sample",
         "integer-samples"],
)
def test_rejects_what_no_bound_can_hold(data, bounds, message):
    with pytest.raises(ValueError) as raised:
        compress_within(data, **bounds)
    assert str(raised.value) == message


@pytest.mark.parametrize("kind, value", [("max_rel_error", 0.004), ("max_rms_error", 0.01), ("max_rms_error", 0.1)])
def test_relative_and_rms_bounds_find_the_smallest_container(kind, value):
    x = np.load(DATA / "scipy_ecg.npy")[:3000]
    result = compress_within(x, **{kind: value})
    difference = corvane.decompress_signal(result.container).astype(np.float64) - x
    if kind == "max_rel_error":
        bound = value * np.ptp(x)
        assert result.max_abs_error == np.max(np.abs(difference)) <= bound
        assert len(result.container) == _smallest_by_brute_force(x, bound)
    else:
        assert result.rms_error == pytest.approx(np.sqrt(np.mean(difference**2)), rel=1e-12)
        assert result.rms_error <= value
        assert len(result.container) == _smallest_by_brute_force(x, value, rms=True)


def test_saturating_signals_still_get_the_smallest_container():
    # Mostly 0 with a plateau at 1: at scales 11 and 12 the deepest band of
    # cdf97, db4 and sym4 clips, and the error rises with the scale. There is
    # so little to code that sizes barely grow with the scale: cdf53's rANS
    # container is 277, 279 and 275 bytes at scales 10, 11 and 12 (low), so
    # the smallest one that meets 0.0015 is not the lowest scale that does.
    x = np.zeros(6000, dtype=np.float32)
    x[2900:3100] = 1.0
    for relative in (0.01, 0.0015, 0.0006):
        result = compress_within(x, max_rel_error=relative)
        assert result.container == _exhaustive(x, relative)


def _exhaustive(x, bound, rms=False):
    """The container the search replaced would return: every candidate's rANS
    container, the smallest (then the earliest) that meets the bound, or
    its DEFLATE container when smaller."""
    reference = x.astype(np.float64)
    made = sorted(
        ((len(blob), rank, blob, c) for rank, c in enumerate(candidates())
         for blob in [corvane.compress_signal(x, corvane.CorvnCompressionOptions(*c, "arans"))]),
        key=lambda row: row[:2],
    )
    for _, _, blob, candidate in made:
        max_abs, rms_error = measured_errors(blob, reference)
        if (rms_error if rms else max_abs) <= bound:
            deflated = corvane.compress_signal(x, corvane.CorvnCompressionOptions(*candidate, "deflate"))
            return deflated if len(deflated) < len(blob) else blob
    return None


def _synthetic(n=20_000, seed=1):
    rng = np.random.default_rng(seed)
    t = np.arange(n)
    spikes = np.zeros(n)
    spikes[rng.choice(n, 40, replace=False)] = rng.uniform(-1, 1, 40)
    return {
        "square wave + noise": np.sign(np.sin(t / 300)) + 0.02 * rng.standard_normal(n),
        "sawtooth": ((t % 977) / 977.0).astype(np.float32),
        "sparse spikes": spikes,
        "decaying oscillation": (np.exp(-t / 5000) * np.sin(t / 13)).astype(np.float32),
        "ECG - 500": np.load(DATA / "scipy_ecg.npy")[n: 2 * n] - 500,
    }


SEARCHED = {
    "scipy_ecg": np.load(DATA / "scipy_ecg.npy")[:20_000],
    "pywt_ecg": np.load(DATA / "pywt_ecg.npy").astype(np.float64),
    "pywt_nino_sst": np.load(DATA / "pywt_nino_sst.npy"),
    **_synthetic(),
}


@pytest.mark.parametrize("kind, relative", [("max_abs_error", 0.01), ("max_rel_error", 0.002),
                                            ("max_rms_error", 0.0004)])
@pytest.mark.parametrize("name", SEARCHED)
def test_the_search_returns_the_exhaustive_searchs_container(name, kind, relative):
    x = SEARCHED[name]
    span = float(np.ptp(x.astype(np.float64)))
    bound = relative * span
    expected = _exhaustive(x, bound, rms=kind == "max_rms_error")
    given = relative if kind == "max_rel_error" else bound
    if expected is None:
        with pytest.raises(ValueError, match="^no option combination keeps"):
            compress_within(x, **{kind: given})
        return
    found = compress_within(x, **{kind: given})
    assert found.container == expected
    assert found.sized <= 12


def test_the_repr_is_short_and_holds_no_bytes():
    result = compress_within(np.sin(np.arange(20_000) / 20.0), max_rel_error=0.01)
    text = repr(result)
    assert text.startswith(f"BoundedContainer({result.method}, scale {result.scale}, cutoff {result.cutoff}, ")
    assert "\\x" not in text and len(text) < 200


# -- the search alone, on made-up candidates ---------------------------------------

# The cutoffs' thresholds in quantisation steps at scales 6 to 12.
THRESHOLD = {"low": (0, 0, 1, 1, 2, 2, 3), "medium": (0, 0, 3, 3, 6, 6, 9), "high": (0, 0, 7, 7, 14, 14, 21)}


class MadeUp:
    """Candidates of four made-up methods. The error is a quantisation term
    of the step plus a term of what the cutoff zeroes (truncation toward
    zero already zeroes what is below one step, so a threshold of t zeroes
    what is below max(t, 1) steps: in units of the range that is level from
    scale 9 to 10), each within 3 % of its trend per scale (the largest
    error of a real signal is noisy), and rises again past a saturation
    scale. Sizes grow with the scale and shrink with the cutoff. Counts what
    it is asked. Its evaluations carry their sizes (as the round trip's do) or
    leave them to size and size_range (as the native evaluator's do)."""

    def __init__(self, draw):
        self.table = {}
        for method in ("cdf97", "cdf53", "db4", "sym4"):
            quantisation = draw(st.floats(0.5, 4.0))
            detail = draw(st.floats(0.0, 2.0))
            saturates_at = draw(st.integers(9, 14))
            clipping = draw(st.floats(0.001, 0.5))
            bytes_per_scale = draw(st.floats(1.2, 1.8))
            thinning = draw(st.floats(0.05, 0.3))
            base = draw(st.integers(1000, 2000))
            noise = {scale: draw(st.tuples(st.floats(0.97, 1.03), st.floats(0.97, 1.03))) for scale in range(6, 13)}
            for candidate in candidates():
                _, scale, cutoff = candidate
                kept, zeroed = noise[scale]
                error = (quantisation * kept + detail * zeroed * max(THRESHOLD[cutoff][scale - 6], 1)) * 2.0**-scale
                if scale >= saturates_at:
                    error = max(error, clipping * 2.0 ** (scale - saturates_at))
                size = base * bytes_per_scale ** (scale - 6) * (1 - thinning * CUTOFFS.index(cutoff))
                self.table[candidate] = (error, int(size))

        # Bounds on each size as a model pass would give them: off by up to
        # 3 % either way, and exact sometimes.
        self.ranges = {}
        for candidate, (_, size) in self.table.items():
            below, above = draw(st.tuples(st.floats(0.0, 0.03), st.floats(0.0, 0.03)))
            self.ranges[candidate] = (int(size * (1 - below)), int(size * (1 + above)) + 1)
        self.sizes_free = draw(st.booleans())
        self.asked = 0

    def evaluate(self, candidate):
        self.asked += 1
        error, size = self.table[candidate]
        return Evaluation(error, error / 3, size if self.sizes_free else None)

    def size(self, candidate):
        return self.table[candidate][1]

    def size_range(self, candidate):
        return self.ranges[candidate]


@settings(max_examples=300, deadline=None)
@given(st.data(), st.floats(-13, -4), st.integers(6, 12))
def test_the_search_agrees_with_trying_every_candidate(data, log_bound, guess):
    made_up = MadeUp(data.draw)
    bound = 2.0**log_bound
    search = _Search(made_up, lambda e: e.max_abs_error, bound, guess)
    found = search.run()
    meeting = [(size, rank, c) for rank, (c, (error, size)) in enumerate(made_up.table.items()) if error <= bound]
    assert found == (min(meeting)[2] if meeting else None)
    assert made_up.asked == len(search.evaluations) <= 68
    # Exact sizes only for finalists whose bounds overlap the smallest one's.
    assert search.sized <= 12 and (not made_up.sizes_free or search.sized == 0)


def test_a_misjudged_candidate_is_overruled_by_decoding_it():
    x = np.load(DATA / "scipy_ecg.npy")[:3000]
    bound = 0.003 * np.ptp(x)
    honest = RoundTripEvaluator(x.astype(np.float32), x)
    liar = Candidate("cdf97", 6, "low")

    class Misjudging:
        def evaluate(self, candidate):
            if candidate == liar:
                return Evaluation(0.0, 0.0, 1)  # claims the smallest container meets any bound
            found = honest.evaluate(candidate)
            return Evaluation(found.max_abs_error, found.rms_error)  # sizes and bytes on request only

        def size(self, candidate):
            return honest.size(candidate)

        def size_range(self, candidate):
            return honest.size_range(candidate)

    result = _bounded(x.astype(np.float32), x, Misjudging(), lambda e: e.max_abs_error, bound, "error", 10)
    assert (result.method, result.scale) != ("cdf97", 6)
    assert result.max_abs_error <= bound
    assert len(result.container) == len(compress_within(x, bound).container)
