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
