"""The native candidate evaluator behind compress_within: it must see what a
compress_signal + decompress_signal round trip gives, bit for bit, and size
containers as compress_signal makes them."""
import pathlib

import numpy as np
import pytest

import _corvane_bounded
import corvane

pytest.importorskip("numcodecs")
from corvane_numcodecs.bounded import NativeEvaluator, RoundTripEvaluator, candidates  # noqa: E402

DATA = pathlib.Path(__file__).resolve().parent.parent / "data"


def _signals():
    rng = np.random.default_rng(3)
    t = np.arange(6000)
    holes = np.sin(t[:700] / 9.0)
    holes[[5, 300]] = np.nan
    holes[400], holes[401] = np.inf, -np.inf
    return {
        "scipy_ecg float64": np.load(DATA / "scipy_ecg.npy")[:20_000],
        "scipy_ecg float32": np.load(DATA / "scipy_ecg.npy")[20_000:32_001].astype(np.float32),
        "pywt_nino_sst": np.load(DATA / "pywt_nino_sst.npy"),
        "sines + noise": np.sin(t / 50) + 0.05 * rng.standard_normal(t.size),
        "far from zero (clips)": (1000 + np.sin(t / 300)).astype(np.float32),
        "3 samples (padded)": np.array([1.0, -2.0, 0.5]),
        "9 samples (padded)": np.linspace(0, 1, 9, dtype=np.float32),
        "flat": np.full(500, 7.25, dtype=np.float32),
        "non-finite (sanitised)": holes,
    }


SIGNALS = _signals()


def _lane_sum_of_squares(difference):
    """The evaluator's summation: four lanes (sample i in lane i % 4), each in
    index order (cumsum adds sequentially), then (0 + 1) + (2 + 3)."""
    lanes = [np.cumsum(difference[j::4] ** 2)[-1] if difference[j::4].size else 0.0 for j in range(4)]
    return (lanes[0] + lanes[1]) + (lanes[2] + lanes[3])


@pytest.mark.parametrize("name", SIGNALS)
def test_errors_and_decoded_samples_are_the_round_trips_bit_for_bit(name):
    x = SIGNALS[name]
    evaluator = _corvane_bounded.Evaluator(x)
    reference = x.astype(np.float64)
    for candidate in candidates():
        decoded = corvane.decompress_signal(corvane.compress_signal(x, corvane.CorvnCompressionOptions(*candidate)))
        mine = evaluator.decoded(*candidate)
        assert mine.dtype == np.float32
        np.testing.assert_array_equal(mine.view(np.uint32), decoded.view(np.uint32), err_msg=str(candidate))

        difference = decoded.astype(np.float64) - reference
        max_abs, squares = evaluator.errors(*candidate)
        np.testing.assert_equal(max_abs, np.max(np.abs(difference)), err_msg=str(candidate))
        np.testing.assert_equal(squares, _lane_sum_of_squares(difference), err_msg=str(candidate))


@pytest.mark.parametrize("name", ["scipy_ecg float64", "scipy_ecg float32", "sines + noise", "9 samples (padded)"])
def test_the_python_evaluators_agree(name):
    x = SIGNALS[name]
    samples = x if x.dtype == np.float32 else x.astype(np.float64)
    native = NativeEvaluator(samples)
    reference = RoundTripEvaluator(samples, samples.astype(np.float64))
    for candidate in candidates()[::5]:
        mine, theirs = native.evaluate(candidate), reference.evaluate(candidate)
        assert mine.max_abs_error == theirs.max_abs_error
        assert mine.rms_error == pytest.approx(theirs.rms_error, rel=1e-12)
        assert native.size(candidate) == theirs.size


@pytest.mark.parametrize("name", ["scipy_ecg float64", "sines + noise", "far from zero (clips)", "flat",
                                  "3 samples (padded)", "non-finite (sanitised)"])
def test_sizes_are_exact_and_their_bounds_hold(name):
    x = SIGNALS[name]
    evaluator = _corvane_bounded.Evaluator(x)
    for candidate in candidates():
        for coder in ("arans", "deflate"):
            exact = len(corvane.compress_signal(x, corvane.CorvnCompressionOptions(*candidate, coder)))
            assert evaluator.size(*candidate, coder) == exact, (candidate, coder)
            lowest, highest = evaluator.size_range(*candidate, coder)
            assert lowest <= exact <= highest, (candidate, coder)
            if coder == "deflate":
                assert lowest == highest
            elif exact > 10_000:
                # The bound of every decision's worst case (see stream_length.cpp).
                assert highest - lowest < 0.03 * exact, candidate


def test_one_method_at_a_time_in_any_order():
    x = SIGNALS["sines + noise"]
    evaluator = _corvane_bounded.Evaluator(x)
    order = candidates()
    first = {c: evaluator.errors(*c) for c in order}
    again = {c: evaluator.errors(*c) for c in reversed(order)}
    assert first == again


def test_the_samples_are_copied():
    x = np.sin(np.arange(3000) / 20.0)
    evaluator = _corvane_bounded.Evaluator(x)
    before = evaluator.errors("cdf97", 10, "low")
    x[:] = 0.0
    assert evaluator.errors("cdf97", 10, "low") == before


@pytest.mark.parametrize(
    "options", [("haar", 10, "low"), ("cdf97", 13, "low"), ("cdf97", 10, "highest"), ("cdf97", 10, "low", "zstd")],
    ids=["method", "scale", "cutoff", "coder"],
)
def test_unknown_options_get_the_messages_of_compress_signal(options):
    with pytest.raises(ValueError) as expected:
        corvane.CorvnCompressionOptions(*options)
    evaluator = _corvane_bounded.Evaluator(np.ones(100))
    for method in (evaluator.size, evaluator.size_range) + ((evaluator.errors, evaluator.decoded)
                                                            if len(options) == 3 else ()):
        with pytest.raises(ValueError) as raised:
            method(*options)
        assert str(raised.value) == str(expected.value)


@pytest.mark.parametrize(
    "options, error, message",
    [
        (("cdf97", "10", "low"), TypeError, "argument 'scale': 'str' object cannot be interpreted as an integer"),
        (("cdf97", 300, "low"), OverflowError, "argument 'scale': integer out of range 0..255"),
        ((b"cdf97", 10, "low"), TypeError, "argument 'method': 'bytes' object cannot be converted to 'PyString'"),
    ],
    ids=["scale-type", "scale-range", "method-type"],
)
def test_arguments_are_converted_as_for_the_options(options, error, message):
    evaluator = _corvane_bounded.Evaluator(np.ones(100))
    with pytest.raises(error) as raised:
        evaluator.errors(*options)
    assert str(raised.value) == message


@pytest.mark.parametrize(
    "data, error, message",
    [
        (np.zeros(0), ValueError, "Unsupported compression configuration 'Can't compress empty data'"),
        (np.array([-3e38, 3e38], dtype=np.float32), ValueError,
         "Unsupported compression configuration 'Signal range max - min is not finite in float32, "
         "can't normalise it'"),
        (np.arange(10), ValueError, "expected a 1-D float32 or float64 NumPy array"),
        (np.ones((2, 5)), ValueError, "expected a 1-D float32 or float64 NumPy array"),
        (np.ones(20)[::2], TypeError, "The given array is not contiguous or is misaligned."),
    ],
    ids=["empty", "range-overflow", "integers", "2-d", "strided"],
)
def test_signals_compress_signal_refuses_are_refused(data, error, message):
    with pytest.raises(error) as raised:
        _corvane_bounded.Evaluator(data)
    assert str(raised.value) == message
    if data.ndim == 1 and data.dtype.kind == "f" and data.flags.c_contiguous:
        with pytest.raises(error) as expected:
            corvane.compress_signal(data)
        assert str(expected.value) == message


def test_the_helper_holds_only_the_evaluator():
    assert [n for n in vars(_corvane_bounded) if not n.startswith("__")] == ["Evaluator"]
