"""Arguments, results and errors of compress_signal and decompress_signal."""
import gc
import inspect
import struct
import sys
import tracemalloc

import numpy as np
import pytest

import corvane
from corvane import CorvnCompressionOptions as Options, compress_signal, decompress_signal

NOT_A_SIGNAL = "expected a 1-D float32 or float64 NumPy array"
NOT_CONTIGUOUS = "The given array is not contiguous or is misaligned."


def ramp(n=1000, dtype=np.float32):
    return (np.sin(np.arange(n) * 0.05) * 3 + 1).astype(dtype)


def test_text_signatures_and_docstrings():
    assert str(inspect.signature(compress_signal)) == "(data, options=None)"
    assert str(inspect.signature(decompress_signal)) == "(data)"
    assert compress_signal.__doc__ == (
        "Compress a 1-D float32 **or** float64 NumPy array into Corvane `bytes`.\n\n"
        "float64 input is downcast to float32 before compression (the codec works in\n"
        "f32 internally and always reconstructs f32 on decompress).\n\n"
        "A numpy.ma.MaskedArray is compressed with the hidden values under its mask;\n"
        "pass array.filled(value) or the unmasked samples instead."
    )
    assert decompress_signal.__doc__ == "Decompress a Corvane bytes object into a 1-D float32 NumPy array."


def test_module_surface_in_registration_order():
    public = [name for name in vars(corvane) if not name.startswith("__")]
    assert public == ["CorvnCompressionOptions", "compress_signal", "decompress_signal"]


@pytest.mark.parametrize(
    "data",
    [
        pytest.param([1.0, 2.0, 3.0], id="list"),
        pytest.param(np.zeros((4, 4), np.float32), id="2-D"),
        pytest.param(np.float32(1.0), id="0-D scalar"),
        pytest.param(np.arange(10, dtype=np.int32), id="int32"),
        pytest.param(np.arange(10, dtype=np.float16), id="float16"),
        pytest.param(np.arange(10, dtype=">f4"), id="byte-swapped f32"),
        pytest.param(np.arange(10, dtype=">f8"), id="byte-swapped f64"),
        pytest.param(np.arange(10, dtype=np.complex64), id="complex"),
        pytest.param(b"abc", id="bytes"),
    ],
)
def test_data_that_is_not_a_float_vector(data):
    with pytest.raises(ValueError) as info:
        compress_signal(data)
    assert str(info.value) == NOT_A_SIGNAL


def test_strided_view_is_refused_and_its_copy_compresses():
    base = ramp(200)
    with pytest.raises(TypeError) as info:
        compress_signal(base[::2])
    assert str(info.value) == NOT_CONTIGUOUS
    assert compress_signal(np.ascontiguousarray(base[::2]))


def test_misaligned_array_is_refused():
    raw = np.zeros(4 * 100 + 1, np.uint8)
    misaligned = raw[1:].view(np.float32)
    assert not misaligned.flags.aligned
    with pytest.raises(TypeError) as info:
        compress_signal(misaligned)
    assert str(info.value) == NOT_CONTIGUOUS


def test_empty_array_skips_the_layout_test_and_reports_the_codec_error():
    empty_strided = np.zeros(0, np.float32)[::2]
    for data in (np.zeros(0, np.float32), np.zeros(0, np.float64), empty_strided):
        with pytest.raises(ValueError) as info:
            compress_signal(data)
        assert str(info.value) == "Unsupported compression configuration 'Can't compress empty data'"


def test_options_are_checked_before_data():
    with pytest.raises(TypeError) as info:
        compress_signal([1, 2], "cdf97")
    assert str(info.value) == (
        "argument 'options': 'str' object cannot be converted to 'CorvnCompressionOptions'"
    )
    with pytest.raises(TypeError) as info:
        compress_signal(ramp(), options=np.zeros(3))
    assert "'ndarray' object cannot be converted" in str(info.value)


@pytest.mark.parametrize(
    "call",
    [
        pytest.param(lambda: compress_signal(), id="missing data"),
        pytest.param(lambda: compress_signal(ramp(), None, 3), id="surplus"),
        pytest.param(lambda: compress_signal(ramp(), opts=None), id="unknown keyword"),
        pytest.param(lambda: decompress_signal(), id="decompress missing"),
    ],
)
def test_standard_argument_errors(call):
    with pytest.raises(TypeError):
        call()


def test_none_and_default_options_give_equal_bytes():
    x = ramp()
    assert compress_signal(x) == compress_signal(x, None) == compress_signal(x, Options())
    assert compress_signal(data=x, options=Options()) == compress_signal(x)


def test_float64_exactly_representable_gives_identical_bytes():
    x = ramp(777)
    assert compress_signal(x.astype(np.float64)) == compress_signal(x)


@pytest.mark.parametrize("method", ["cdf97", "db4"])
@pytest.mark.parametrize("coder", ["arans", "deflate"])
def test_float64_gives_the_bytes_of_its_float32_rounding(method, coder):
    # Rounding happens while the codec copies the samples; it must be the
    # ordinary round-to-nearest, overflow to infinity and NaN kept as NaN.
    rng = np.random.default_rng(64)
    x = rng.standard_normal(5000) * 1e3 + np.linspace(0, 1, 5000) * np.pi
    x[::97] = np.nan
    x[13::131] = 3.4028235677973366e38  # rounds up past the float range
    x[29::151] = -1e300
    x[41::173] = 1e-46  # below the smallest float subnormal
    options = Options(method=method, coder=coder)
    with np.errstate(over="ignore"):
        rounded = x.astype(np.float32)
    assert compress_signal(x, options) == compress_signal(rounded, options)


def test_float64_beyond_float32_range_becomes_infinity_then_sanitised():
    x = np.array([0.5, 1e300, -1e300, 0.25] * 10, np.float64)
    blob = compress_signal(x)
    lo, hi = struct.unpack_from("<ff", blob, 20)
    assert (lo, hi) == (0.0, 1.0)


def test_read_only_input_is_accepted_and_input_is_not_modified():
    x = ramp()
    keep = x.copy()
    x.setflags(write=False)
    compress_signal(x)
    np.testing.assert_array_equal(x, keep)


@pytest.mark.parametrize("n", [10, 11, 100, 4097])
def test_decompressed_array_is_a_fresh_writeable_float32_vector(n):
    out = decompress_signal(compress_signal(ramp(n)))
    assert out.dtype == np.float32 and out.ndim == 1 and out.shape == (n,)
    assert out.flags.writeable and out.flags.c_contiguous
    out[:] = 0  # really writeable
    assert out.base is not None  # the decoded buffer is owned, not copied


def test_decompress_accepts_only_bytes():
    blob = compress_signal(ramp())

    class Blob(bytes):
        pass

    assert decompress_signal(Blob(blob)).shape == (1000,)
    for other, name in ((bytearray(blob), "bytearray"), (memoryview(blob), "memoryview"), ("x", "str")):
        with pytest.raises(TypeError) as info:
            decompress_signal(other)
        assert str(info.value) == f"argument 'data': '{name}' object cannot be converted to 'PyBytes'"


@pytest.mark.parametrize(
    "mutate, message",
    [
        (lambda b: b"", "Header is invalid"),
        (lambda b: b[:51], "Header is invalid"),
        (lambda b: b"XXXX" + b[4:], "Magic should be 'CRVN' but it was 'XXXX'"),
        (lambda b: b[:12] + b"\x00" + b[13:], "Can't decompress data, reason: Min supported level is 1 but it was 0"),
        (lambda b: b[:13] + b"\x05" + b[14:], "Only scaled 6..12 is supported, but it was 5"),
        (lambda b: b[:-1], None),
    ],
    ids=["empty", "51 bytes", "magic", "levels 0", "scale", "short payload"],
)
def test_codec_errors_become_value_errors(mutate, message):
    blob = compress_signal(ramp())
    bad = mutate(blob)
    if message is None:
        payload = len(blob) - 52
        message = f"Can't decompress data, reason: Minimum data size is {payload + 52}, but it was {payload + 51}"
    with pytest.raises(ValueError) as info:
        decompress_signal(bad)
    assert str(info.value) == message


def test_no_reference_or_memory_leaks():
    x = ramp(5000)
    opts = Options(method="db4", coder="deflate")
    blob = compress_signal(x, opts)
    refs = (sys.getrefcount(x), sys.getrefcount(opts), sys.getrefcount(blob))

    def churn():
        for _ in range(200):
            out = decompress_signal(compress_signal(x, opts))
            del out
            for bad in (b"", blob[:60]):
                try:
                    decompress_signal(bad)
                except ValueError:
                    pass
            try:
                compress_signal(x, "bad")
            except TypeError:
                pass

    churn()
    gc.collect()
    tracemalloc.start()
    before = tracemalloc.take_snapshot()
    churn()
    gc.collect()
    after = tracemalloc.take_snapshot()
    tracemalloc.stop()
    growth = sum(stat.size_diff for stat in after.compare_to(before, "lineno"))
    assert growth < 64 * 1024
    assert (sys.getrefcount(x), sys.getrefcount(opts), sys.getrefcount(blob)) == refs


def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


def test_decoded_buffer_is_released_with_the_array():
    # The decoded samples live in a C++ buffer that tracemalloc cannot see;
    # decoding 4 MB arrays 60 times would grow the process by 240 MB if the
    # owner did not free them.
    blob = compress_signal(ramp(1_000_000))
    decompress_signal(blob)
    start = rss_bytes()
    for _ in range(60):
        out = decompress_signal(blob)
        del out
    assert rss_bytes() - start < 40 * 1024 * 1024
