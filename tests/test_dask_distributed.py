"""Writing a Zarr array through the codec from a distributed Dask cluster
whose workers are separate processes: the codec and its options travel to
them, and what they store reads back as the codec stores each chunk."""
import pathlib

import numpy as np
import pytest

import corvane

zarr = pytest.importorskip("zarr")
dask = pytest.importorskip("dask")
da = pytest.importorskip("dask.array")
distributed = pytest.importorskip("distributed")

from corvane_numcodecs import CorvaneZarrCodec  # noqa: E402

DATA = pathlib.Path(__file__).resolve().parent.parent / "data"


def test_two_worker_processes_write_what_reads_back_within_the_codec_error(tmp_path):
    signal = np.tile(np.load(DATA / "scipy_ecg.npy"), 5).astype(np.float32)  # 540,000 samples
    signal[123_456:123_999] = np.nan
    target = zarr.create_array(
        tmp_path / "ecg.zarr", shape=signal.shape, chunks=(10_000,), dtype="float32",
        fill_value=np.nan, serializer=CorvaneZarrCodec(scale=10), compressors=None,
    )
    with distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
    ) as cluster, distributed.Client(cluster) as client:
        # to_zarr regroups into Dask's automatic chunk size before writing:
        # six tasks of 90,000 samples instead of one.
        with distributed.get_task_stream(client) as tasks, dask.config.set({"array.chunk-size": "360KiB"}):
            da.to_zarr(da.from_array(signal, chunks=100_000), target)
        writers = {task["worker"] for task in tasks.data if "store-map" in str(task["key"])}
        assert len(writers) == 2

    restored = zarr.open_array(tmp_path / "ecg.zarr", mode="r")[:]
    np.testing.assert_array_equal(np.isnan(restored), np.isnan(signal))
    options = corvane.CorvnCompressionOptions(scale=10)
    for start in range(0, signal.size, 10_000):
        chunk = signal[start:start + 10_000]
        if np.isnan(chunk).any():
            continue
        expected = corvane.decompress_signal(corvane.compress_signal(chunk, options))
        np.testing.assert_array_equal(restored[start:start + 10_000], expected)
    # Scale 10 keeps every chunk within a few tenths of a percent of its range.
    assert np.nanmax(np.abs(restored - signal)) < 0.004 * np.nanmax(np.ptp(signal.reshape(-1, 10_000), axis=1))
