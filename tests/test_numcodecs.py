import json
import pathlib
import pickle

import numpy as np
import pytest

import corvane

numcodecs = pytest.importorskip("numcodecs")
zarr = pytest.importorskip("zarr")
da = pytest.importorskip("dask.array")

from corvane_numcodecs import CorvaneCodec, CorvaneZarrCodec  # noqa: E402

DATA = pathlib.Path(__file__).resolve().parent.parent / "data"


@pytest.fixture(scope="module")
def ecg():
    return np.load(DATA / "scipy_ecg.npy")


@pytest.mark.parametrize(
    "kwargs",
    [{}, {"method": "sym4", "scale": 8, "cutoff": "high", "coder": "deflate"}, {"coder": "arans"}],
    ids=["defaults", "every-option", "arans"],
)
def test_config_round_trips_through_json(kwargs):
    codec = CorvaneCodec(**kwargs)
    config = json.loads(json.dumps(codec.get_config()))
    assert config["id"] == "corvane"
    again = numcodecs.get_codec(config)
    assert type(again) is CorvaneCodec
    assert again == codec
    assert again.get_config() == config


@pytest.mark.parametrize("codec_class", [CorvaneCodec, CorvaneZarrCodec])
def test_codecs_pickle_for_worker_processes(codec_class):
    codec = codec_class(method="cdf53", scale=7)
    assert pickle.loads(pickle.dumps(codec)) == codec


def test_absent_coder_is_configured_as_auto():
    assert CorvaneCodec() == CorvaneCodec(coder="auto")
    assert CorvaneCodec().get_config()["coder"] == "auto"


def test_options_are_checked_with_the_module_messages():
    with pytest.raises(ValueError, match=r"^Only scaled 6\.\.12 is supported, but it was 13$"):
        CorvaneCodec(scale=13)
    with pytest.raises(ValueError, match=r"^Unknown method \"DB4\""):
        CorvaneZarrCodec(method="DB4")


def test_entry_points_resolve_both_codecs():
    assert numcodecs.get_codec({"id": "corvane", "scale": 9}) == CorvaneCodec(scale=9)
    from zarr.registry import get_codec_class

    assert get_codec_class("numcodecs.corvane") is CorvaneZarrCodec


def test_encode_flattens_and_downcasts_like_compress_signal():
    values = np.linspace(-3, 5, 600).astype(np.float32)  # exact in float32 and float64
    codec = CorvaneCodec(method="db4", scale=10)
    expected = corvane.compress_signal(values, corvane.CorvnCompressionOptions("db4", 10))
    assert codec.encode(values.astype(np.float64).reshape(20, 30)) == expected
    assert codec.encode(values.astype(">f4")) == expected
    assert codec.encode(memoryview(values)) == expected


@pytest.mark.parametrize("dtype", ["int16", "float16", "complex64", "uint8"])
def test_encode_rejects_other_dtypes(dtype):
    with pytest.raises(ValueError, match=rf"^corvane compresses float32 or float64 samples, not {dtype}$"):
        CorvaneCodec().encode(np.zeros(16, dtype=dtype))


def test_decode_returns_float32_or_fills_out(ecg):
    codec = CorvaneCodec()
    blob = codec.encode(ecg[:5000])
    expected = corvane.decompress_signal(blob)
    decoded = codec.decode(np.frombuffer(blob, dtype=np.uint8))
    assert decoded.dtype == np.float32
    np.testing.assert_array_equal(decoded, expected)

    for dtype in (np.float32, np.float64):
        out = np.empty((50, 100), dtype=dtype)
        assert codec.decode(blob, out=out) is out
        np.testing.assert_array_equal(out.reshape(-1), expected)
    raw = bytearray(expected.nbytes)
    codec.decode(blob, out=raw)
    np.testing.assert_array_equal(np.frombuffer(raw, dtype=np.float32), expected)

    with pytest.raises(ValueError, match=r"^output buffer holds 4999 values but the container 5000$"):
        codec.decode(blob, out=np.empty(4999, dtype=np.float64))


def _write(store, x, zarr_format, dtype):
    if zarr_format == 3:
        codecs = {"serializer": CorvaneZarrCodec(), "compressors": None}
    else:
        codecs = {"compressors": CorvaneCodec()}
    array = zarr.create_array(
        store, shape=x.shape, chunks=(10_000,), dtype=dtype, zarr_format=zarr_format, **codecs
    )
    array[:] = x
    return array


@pytest.mark.parametrize(
    "zarr_format, dtype", [(3, "float32"), (3, "float64"), (2, "float32")],
    ids=["zarr3-float32", "zarr3-float64", "zarr2-float32"],
)
def test_zarr_array_reads_back_within_the_codec_error(tmp_path, ecg, zarr_format, dtype):
    # 108,000 samples in chunks of 10,000: the last chunk is partial.
    _write(tmp_path / "ecg.zarr", ecg, zarr_format, dtype)
    array = zarr.open_array(tmp_path / "ecg.zarr", mode="r")  # codec found from stored metadata
    restored = array[:]
    assert restored.dtype == np.dtype(dtype)
    # Default options keep each chunk within a fraction of a percent of its range.
    span = np.ptp(ecg)
    assert np.max(np.abs(restored - ecg)) < 0.005 * span
    # A chunk read alone decodes exactly what the codec itself gives for it.
    chunk = ecg[20_000:30_000].astype(np.float32)
    np.testing.assert_array_equal(
        array[20_000:30_000], corvane.decompress_signal(corvane.compress_signal(chunk))
    )


def test_zarr_float64_array_holds_the_float32_reconstruction(tmp_path, ecg):
    wide = _write(tmp_path / "f64.zarr", ecg, 3, "float64")[:]
    narrow = _write(tmp_path / "f32.zarr", ecg, 3, "float32")[:]
    np.testing.assert_array_equal(wide, narrow.astype(np.float64))


def test_zarr_rejects_non_float_arrays(tmp_path):
    with pytest.raises(ValueError, match=r"^corvane compresses float32 or float64 arrays, not int32$"):
        zarr.create_array(
            tmp_path / "ints.zarr", shape=(100,), dtype="int32",
            serializer=CorvaneZarrCodec(), compressors=None,
        )


def test_dask_writes_and_reduces_a_zarr_store(tmp_path, ecg):
    signal = np.tile(ecg, 10)  # 1,080,000 samples, 108 chunks
    target = zarr.create_array(
        tmp_path / "big.zarr", shape=signal.shape, chunks=(10_000,), dtype="float32",
        serializer=CorvaneZarrCodec(scale=10), compressors=None,
    )
    # Chunks are compressed concurrently by dask's threads.
    da.to_zarr(da.from_array(signal, chunks=100_000), target, compute=True)

    lazy = da.from_zarr(str(tmp_path / "big.zarr"))
    decoded = zarr.open_array(tmp_path / "big.zarr", mode="r")[:]
    assert lazy.max().compute(scheduler="threads") == decoded.max()
    total = lazy.astype(np.float64).sum().compute(scheduler="threads")
    assert total == pytest.approx(decoded.astype(np.float64).sum(), rel=1e-12)


# -- options that arrays store ---------------------------------------------------


@pytest.mark.parametrize("axis", [None, 0, -1])
def test_axis_round_trips_through_numcodecs_and_zarr_metadata(tmp_path, axis):
    codec = CorvaneCodec(scale=9, axis=axis)
    config = json.loads(json.dumps(codec.get_config()))
    assert ("axis" in config) == (axis is not None)
    assert numcodecs.get_codec(config) == codec

    array = zarr.create_array(
        tmp_path / "a.zarr", shape=(600, 2) if axis == 0 else (2, 600), dtype="float32",
        serializer=CorvaneZarrCodec(axis=axis), compressors=None,
    )
    stored = json.loads((tmp_path / "a.zarr" / "zarr.json").read_text())["codecs"][0]["configuration"]
    assert ("axis" in stored) == (axis is not None)
    assert zarr.open_array(tmp_path / "a.zarr").metadata.codecs[0] == array.metadata.codecs[0]


@pytest.mark.parametrize("axis", [True, "0", 1.0])
def test_axis_must_be_an_integer(axis):
    with pytest.raises(TypeError):
        CorvaneCodec(axis=axis)


def test_zarr_refuses_short_lanes_when_the_array_is_created(tmp_path):
    with pytest.raises(ValueError, match=r"^lanes along axis 0 of a chunk of shape \(100, 2\) hold 100 samples"):
        zarr.create_array(
            tmp_path / "short.zarr", shape=(10_000, 2), chunks=(100, 2), dtype="float32",
            serializer=CorvaneZarrCodec(axis=0), compressors=None,
        )


# -- arrays as they are written -------------------------------------------------------


def _nan_array(store, x, chunks=(10_000,), **kwargs):
    return zarr.create_array(
        store, shape=x.shape, chunks=chunks, dtype=x.dtype, fill_value=np.nan,
        serializer=CorvaneZarrCodec(**kwargs), compressors=None,
    )


def _alone(samples):
    """What the codec gives for these samples as one signal."""
    samples = np.ascontiguousarray(samples)
    return corvane.decompress_signal(corvane.compress_signal(samples)).astype(samples.dtype)


def test_unwritten_samples_read_back_as_nan_and_written_ones_as_if_alone(tmp_path, ecg):
    x = ecg.astype(np.float32)
    array = _nan_array(tmp_path / "partial.zarr", x)
    array[:4_000] = x[:4_000]          # the rest of chunk 0 is never written
    array[13_000:20_000] = x[13_000:20_000]  # chunk 1 from its middle to its end
    restored = array[:]
    written = np.zeros(x.size, dtype=bool)
    written[:4_000] = written[13_000:20_000] = True
    assert np.isnan(restored[~written]).all()
    # The fill-valued borders are not compressed: each written stretch is
    # stored exactly as the codec stores it alone.
    np.testing.assert_array_equal(restored[:4_000], _alone(x[:4_000]))
    np.testing.assert_array_equal(restored[13_000:20_000], _alone(x[13_000:20_000]))


@pytest.mark.parametrize("fill", [0.0, np.nan])
def test_the_padded_last_chunk_is_as_accurate_as_the_others(tmp_path, ecg, fill):
    # Far from the fill: 0 padding used to stretch the last chunk's range
    # from about 3 to 1000 and its error with it.
    x = 1000 + ecg  # 108,000 samples: the last chunk holds 8,000
    array = zarr.create_array(
        tmp_path / "offset.zarr", shape=x.shape, chunks=(10_000,), dtype="float64",
        fill_value=fill, serializer=CorvaneZarrCodec(), compressors=None,
    )
    array[:] = x
    restored = array[:]
    np.testing.assert_array_equal(restored[100_000:], _alone(x[100_000:].astype(np.float32)))
    errors = np.abs(restored - x).reshape(-1, 4_000).max(axis=1)
    assert errors[-2:].max() <= errors[:-2].max()


def test_gaps_inside_chunks_come_back_and_leave_the_rest_as_accurate(tmp_path, ecg):
    x = ecg.astype(np.float32)
    gappy = x.copy()
    gappy[12_345:12_400] = np.nan       # inside a chunk
    gappy[29_990:30_020] = np.nan       # across a chunk boundary
    gappy[55_555] = np.inf
    gappy[70_000:80_000] = np.nan       # a whole chunk
    _nan_array(tmp_path / "gaps.zarr", gappy)[:] = gappy
    restored = zarr.open_array(tmp_path / "gaps.zarr", mode="r")[:]
    special = ~np.isfinite(gappy)
    np.testing.assert_array_equal(restored[special].view(np.uint32), gappy[special].view(np.uint32))
    whole = _nan_array(tmp_path / "whole.zarr", x)
    whole[:] = x
    reference_error = np.abs(whole[:] - x)
    gap_error = np.abs(restored - x)
    for chunk in (slice(10_000, 20_000), slice(20_000, 30_000), slice(30_000, 40_000), slice(50_000, 60_000)):
        # The filled gaps move the chunk's error by a fraction of a percent.
        assert np.nanmax(gap_error[chunk][~special[chunk]]) <= 1.05 * reference_error[chunk].max()


@pytest.mark.parametrize("layout", ["samples-by-channel", "channel-by-samples"])
def test_each_channel_keeps_the_error_it_has_alone(tmp_path, ecg, layout):
    channels = [ecg, 3 * ecg[::-1] + 40]  # different offsets and ranges
    if layout == "samples-by-channel":
        x, chunks, axis = np.stack(channels, axis=1).astype(np.float32), (10_000, 2), 0
    else:
        x, chunks, axis = np.stack(channels, axis=0).astype(np.float32), (2, 10_000), -1
    array = zarr.create_array(
        tmp_path / "channels.zarr", shape=x.shape, chunks=chunks, dtype="float32",
        serializer=CorvaneZarrCodec(axis=axis), compressors=None,
    )
    array[:] = x
    restored = zarr.open_array(tmp_path / "channels.zarr", mode="r")[:]
    channel_first = (lambda a: a.T) if layout == "samples-by-channel" else (lambda a: a)
    for lane, back in zip(channel_first(x), channel_first(restored)):
        for start in range(0, lane.size, 10_000):
            piece = slice(start, start + 10_000)
            np.testing.assert_array_equal(back[piece], _alone(lane[piece]))


def test_zarr2_keeps_nan_and_lanes_through_the_numcodecs_codec(tmp_path, ecg):
    x = np.stack([ecg, ecg * 2 + 5], axis=1).astype(np.float32)
    x[500:900, 1] = np.nan
    for order in ("C", "F"):
        array = zarr.create_array(
            tmp_path / f"v2{order}.zarr", shape=x.shape, chunks=(10_000, 2), dtype="float32",
            zarr_format=2, compressors=CorvaneCodec(axis=0), fill_value=np.nan, order=order,
        )
        array[:] = x
        restored = zarr.open_array(tmp_path / f"v2{order}.zarr", mode="r")[:]
        np.testing.assert_array_equal(np.isnan(restored), np.isnan(x))
        np.testing.assert_array_equal(restored[:10_000, 0], _alone(x[:10_000, 0]))


def test_a_stored_array_reads_as_it_did_when_written(tmp_path):
    import shutil

    legacy = pathlib.Path(__file__).resolve().parent / "fixtures" / "legacy"
    shutil.copytree(legacy / "array.zarr", tmp_path / "array.zarr")
    array = zarr.open_array(tmp_path / "array.zarr", mode="r")
    assert array.metadata.codecs[0] == CorvaneZarrCodec(method="sym4", scale=10)
    restored = array[:]
    for chunk in range(3):
        stored = (legacy / "array.zarr" / "c" / str(chunk)).read_bytes()
        expected = corvane.decompress_signal(stored).astype(np.float64)
        np.testing.assert_array_equal(restored[chunk * 1000:(chunk + 1) * 1000], expected[: min(1000, 2500 - chunk * 1000)])
