"""The stored form of a chunk: plain containers where nothing needs a frame,
frames that keep special values bit for bit, lanes, cropped fill-valued
borders, and frames that are damaged."""
import pathlib
import tracemalloc

import numpy as np
import pytest

import corvane

pytest.importorskip("numcodecs")
hypothesis = pytest.importorskip("hypothesis")
from hypothesis import given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

from corvane_numcodecs import MIN_LANE_SAMPLES, CorvaneCodec  # noqa: E402
from corvane_numcodecs.frames import decode_chunk, encode_chunk  # noqa: E402

DATA = pathlib.Path(__file__).resolve().parent.parent / "data"
LEGACY = pathlib.Path(__file__).resolve().parent / "fixtures" / "legacy"
OPTIONS = corvane.CorvnCompressionOptions()
NAN_WITH_PAYLOAD_F32 = np.array([0x7FC0_1234, 0xFFC0_0001], dtype=np.uint32).view(np.float32)
NAN_WITH_PAYLOAD_F64 = np.array([0x7FF8_0000_0000_BEEF], dtype=np.uint64).view(np.float64)


def _round_trip(samples, **kwargs):
    return decode_chunk(encode_chunk(samples, OPTIONS, **kwargs), samples.dtype)


def _bits(values):
    return values.view(np.uint32 if values.dtype.itemsize == 4 else np.uint64)


def _smooth(n, seed=0):
    rng = np.random.default_rng(seed)
    t = np.arange(n)
    return (np.sin(t / 17.0) + 0.3 * np.sin(t / 3.1) + 0.05 * rng.standard_normal(n)) * 40 + 900


@pytest.mark.parametrize("dtype", [np.float32, np.float64])
def test_a_chunk_without_special_values_is_the_plain_container(dtype):
    values = _smooth(3000).astype(dtype).reshape(30, 100)
    assert encode_chunk(values, OPTIONS) == corvane.compress_signal(values.reshape(-1), OPTIONS)
    # One lane is the whole chunk: the same container.
    column = values.reshape(3000, 1)
    assert encode_chunk(column, OPTIONS, axis=0) == corvane.compress_signal(values.reshape(-1), OPTIONS)
    # A fill that only occurs inside the data crops nothing.
    inside = values.reshape(-1).copy()
    inside[1000] = 0.0
    assert encode_chunk(inside, OPTIONS, fill=dtype(0.0)) == corvane.compress_signal(inside, OPTIONS)


@pytest.mark.parametrize("dtype, specials", [
    (np.float32, [np.nan, np.inf, -np.inf, *NAN_WITH_PAYLOAD_F32]),
    (np.float64, [np.nan, np.inf, -np.inf, 1e300, -3e39, *NAN_WITH_PAYLOAD_F64]),
], ids=["float32", "float64"])
def test_special_values_come_back_bit_for_bit(dtype, specials):
    values = _smooth(4000).astype(dtype)
    where = [0, 1, 2, 500, 1000, 1001, 3998, 3999]
    values[where[:4]] = specials[:4]
    values[where[4:]] = np.resize(np.array(specials[4:] or specials[:1], dtype=dtype), 4)
    values[2000:2300] = specials[0]
    restored = _round_trip(values)
    with np.errstate(over="ignore"):
        special = ~np.isfinite(values.astype(np.float32))
    np.testing.assert_array_equal(_bits(restored)[special], _bits(values)[special])
    # The rest keeps the error it has without them: the filling neither
    # stretches the range nor adds an edge.
    clean = values.copy()
    clean[special] = np.interp(np.flatnonzero(special), np.flatnonzero(~special), values[~special])
    plain = corvane.decompress_signal(corvane.compress_signal(clean, OPTIONS))
    np.testing.assert_array_equal(restored[~special], plain[~special].astype(dtype))


def test_float64_specials_read_as_float32_are_converted():
    values = _smooth(1000)
    values[[5, 6, 7]] = [1e300, -np.inf, NAN_WITH_PAYLOAD_F64[0]]
    narrow = decode_chunk(encode_chunk(values, OPTIONS), np.float32)
    assert narrow.dtype == np.float32
    assert narrow[5] == np.inf and narrow[6] == -np.inf and np.isnan(narrow[7])


@pytest.mark.parametrize("dtype", [np.float32, np.float64])
def test_a_chunk_of_nothing_but_nan_is_a_few_bytes_and_exact(dtype):
    values = np.full((100, 300), np.nan, dtype=dtype)
    stored = encode_chunk(values, OPTIONS, axis=1)
    assert len(stored) < 60
    restored = decode_chunk(stored, dtype)
    assert restored.shape == (100, 300)
    np.testing.assert_array_equal(_bits(restored), _bits(values))


@pytest.mark.parametrize("shape, axis", [((3000, 3), 0), ((3, 3000), -1), ((2, 400, 3), 1)])
def test_each_lane_is_its_own_signal(shape, axis):
    rng = np.random.default_rng(7)
    # Channels of very different offsets and ranges.
    values = np.cumsum(rng.standard_normal(shape), axis=axis) * rng.uniform(0.1, 50, size=(1,) * len(shape))
    values += np.arange(np.prod(shape)).reshape(shape) % 3 * 1000
    values = values.astype(np.float32)
    restored = _round_trip(values, axis=axis)
    assert restored.shape == shape
    lanes = np.moveaxis(values, axis, -1).reshape(-1, shape[axis])
    got = np.moveaxis(restored, axis, -1).reshape(-1, shape[axis])
    for lane, back in zip(lanes, got):
        alone = corvane.compress_signal(np.ascontiguousarray(lane), OPTIONS)
        np.testing.assert_array_equal(back, corvane.decompress_signal(alone))


@pytest.mark.parametrize("shape, axis, message", [
    ((255, 4), 0, "lanes along axis 0 of a chunk of shape (255, 4) hold 255 samples; corvane compresses "
                  "each lane as its own signal and needs at least 256 (use longer chunks along that axis, "
                  "or no axis)"),
    ((4, 1000), 2, "axis 2 is out of range for a chunk of shape (4, 1000)"),
    ((4, 1000), -3, "axis -3 is out of range for a chunk of shape (4, 1000)"),
])
def test_lanes_too_short_or_axis_out_of_range_are_refused(shape, axis, message):
    with pytest.raises(ValueError) as raised:
        encode_chunk(np.zeros(shape, dtype=np.float32), OPTIONS, axis=axis)
    assert str(raised.value) == message
    assert MIN_LANE_SAMPLES == 256


def test_a_chunk_of_more_dimensions_than_a_frame_holds_is_refused():
    with pytest.raises(ValueError, match=r"^a chunk of shape \(1, 1, .*\) is more than a corvane frame holds "
                                         r"\(2147483647 samples, 32 dimensions\)$"):
        encode_chunk(np.full((1,) * 33, np.nan, dtype=np.float32), OPTIONS)


@pytest.mark.parametrize("fill", [0.0, -999.0, np.nan])
def test_the_fill_valued_border_is_cropped_and_restored(fill):
    values = np.full((1000, 4), fill, dtype=np.float64)
    data = (1000 + _smooth(700 * 3)).reshape(700, 3)
    values[200:900, :3] = data
    stored = encode_chunk(values, OPTIONS, axis=0, fill=np.float64(fill))
    restored = decode_chunk(stored, np.float64)
    np.testing.assert_array_equal(_bits(restored[:200]), _bits(values[:200]))
    np.testing.assert_array_equal(_bits(restored[:, 3]), _bits(values[:, 3]))
    for lane in range(3):
        alone = corvane.decompress_signal(corvane.compress_signal(np.ascontiguousarray(data[:, lane]), OPTIONS))
        np.testing.assert_array_equal(restored[200:900, lane], alone)


def test_a_chunk_that_is_all_fill_is_exact():
    values = np.full(5000, -1.5, dtype=np.float32)
    stored = encode_chunk(values, OPTIONS, fill=np.float32(-1.5))
    np.testing.assert_array_equal(decode_chunk(stored), values)


finite = st.floats(-1e6, 1e6, width=32)
special = st.sampled_from([np.nan, np.inf, -np.inf, float(NAN_WITH_PAYLOAD_F32[0])])


@settings(max_examples=60, deadline=None)
@given(
    lanes=st.integers(1, 3),
    length=st.integers(MIN_LANE_SAMPLES, MIN_LANE_SAMPLES + 40),
    axis=st.sampled_from([None, 0, -1]),
    data=st.data(),
)
def test_any_pattern_of_special_values_round_trips(lanes, length, axis, data):
    shape = (length, lanes) if axis == 0 else (lanes, length)
    base = np.linspace(-1, 1, length * lanes, dtype=np.float32).reshape(shape)
    positions = data.draw(st.lists(st.integers(0, base.size - 1), max_size=base.size // 2))
    values = base.copy().reshape(-1)
    for position in positions:
        values[position] = data.draw(st.one_of(special, finite))
    values = values.reshape(shape)
    # A plain container (no special value, one lane) decodes as one signal.
    restored = _round_trip(values, axis=axis).reshape(shape)
    is_special = ~np.isfinite(values)
    np.testing.assert_array_equal(_bits(restored)[is_special], _bits(values)[is_special])
    assert np.isfinite(restored[~is_special]).all()


# -- damaged frames -------------------------------------------------------------


def _frames():
    """A few valid frames covering every field."""
    values = _smooth(600).astype(np.float32)
    values[10:20] = np.nan
    values[300] = np.inf
    two = np.stack([values, values[::-1]], axis=1)
    wide = _smooth(700)
    wide[:50] = 0.0
    wide[600] = 1e300
    return [
        encode_chunk(values, OPTIONS),
        encode_chunk(two, OPTIONS, axis=0),
        encode_chunk(wide, OPTIONS, fill=np.float64(0.0)),
        encode_chunk(np.full(300, np.nan, dtype=np.float32), OPTIONS),
    ]


FRAMES = _frames()


def _decodes_or_refuses(data):
    try:
        restored = decode_chunk(data)
    except ValueError:
        return None
    assert restored.dtype == np.float32
    return restored


@pytest.mark.parametrize("frame", FRAMES, ids=["nan-inf", "lanes", "box-float64", "all-nan"])
def test_every_truncated_frame_is_refused(frame):
    for end in range(len(frame)):
        with pytest.raises(ValueError):
            decode_chunk(frame[:end])


@pytest.mark.parametrize("frame", FRAMES, ids=["nan-inf", "lanes", "box-float64", "all-nan"])
def test_every_single_byte_change_decodes_or_raises_value_error(frame):
    # Header and records are the first bytes; container payloads are fuzzed
    # by the native harnesses.
    for position in range(min(len(frame), 120)):
        for value in {0x00, 0x01, 0x7F, 0x80, 0xFF, frame[position] ^ 0x04}:
            _decodes_or_refuses(frame[:position] + bytes([value]) + frame[position + 1:])


@settings(max_examples=300, deadline=None)
@given(
    frame=st.sampled_from(FRAMES),
    edits=st.lists(st.tuples(st.integers(0, 2000), st.binary(min_size=0, max_size=12), st.integers(0, 12)),
                   min_size=1, max_size=4),
)
def test_damaged_frames_never_allocate_beyond_their_declared_chunk(frame, edits):
    data = frame
    for position, insert, remove in edits:
        position %= len(data) + 1
        data = data[:position] + insert + data[position + remove:]
    tracemalloc.start()
    try:
        restored = _decodes_or_refuses(data)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    # The output, the box's lanes and one lane's decoded samples, at up to
    # 8 bytes a sample: a few times what the frame declares, never more.
    declared = 0 if restored is None else restored.size * 8
    assert peak < 4 * declared + 256 * 1024


@pytest.mark.parametrize("shape_varint, tail, reason", [
    # A chunk of 2**31 - 1 samples with nothing behind its header.
    (b"\xff\xff\xff\xff\x07", b"", "truncated"),
    # A box past the end of the chunk.
    (b"\x10", b"\x0c\x08", "box at (12,) of shape (8,) outside the chunk (16,)"),
], ids=["huge-and-empty", "box-outside"])
def test_frame_fields_are_checked_before_the_chunk_is_allocated(shape_varint, tail, reason):
    frame = b"CRVF\x01\x04\x01\xff" + shape_varint + (tail or b"\x00" + shape_varint)
    tracemalloc.start()
    try:
        with pytest.raises(ValueError) as raised:
            decode_chunk(frame)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert str(raised.value) == f"corvane frame is damaged: {reason}"
    assert peak < 64 * 1024


def test_an_unknown_frame_version_is_named():
    with pytest.raises(ValueError, match=r"^corvane frame version 2 is not supported \(this reader knows 1\)$"):
        decode_chunk(b"CRVF\x02" + FRAMES[0][5:])


# -- containers written before frames existed -------------------------------------


@pytest.mark.parametrize("name", ["cdf97_default", "db4_s9_medium_deflate", "nan_replaced"])
def test_stored_containers_decode_as_before(name):
    stored = (LEGACY / f"{name}.crvn").read_bytes()
    np.testing.assert_array_equal(CorvaneCodec().decode(stored), corvane.decompress_signal(stored))


@pytest.mark.parametrize("name, codec", [
    ("cdf97_default", CorvaneCodec()),
    ("db4_s9_medium_deflate", CorvaneCodec("db4", 9, "medium", "deflate")),
])
def test_finite_chunks_still_encode_to_the_stored_bytes(name, codec):
    signal = np.load(LEGACY / "signal.npy")
    assert codec.encode(signal) == (LEGACY / f"{name}.crvn").read_bytes()
