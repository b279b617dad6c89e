"""Write throughput of a Zarr array through CorvaneZarrCodec from a
dask.distributed LocalCluster of one and of two worker processes (one
thread each), the runs of both cluster sizes interleaved so that machine
noise falls on both alike. The data are the MIT-BIH ECG extended to the
given length (as in peers.py), chunks of 100,000 samples, default options.

    python bench/dask_write.py [--samples N] [--repeat R]
"""
import argparse
import logging
import statistics
import tempfile
import time

import dask
import dask.array as da
import numpy as np
import zarr
from codec import cpu_model, real_signal
from dask.distributed import Client, LocalCluster

from corvane_numcodecs import CorvaneZarrCodec

CHUNK = 100_000


def timed_write(client, signal, folder, run):
    target = zarr.create_array(
        f"{folder}/run{run}.zarr", shape=signal.shape, chunks=(CHUNK,), dtype="float32",
        serializer=CorvaneZarrCodec(), compressors=None,
    )
    # The input lives on the workers before the clock starts: the figure is
    # compression and storage, not shipping the samples.
    source = client.persist(da.from_array(signal, chunks=CHUNK * 10))
    distributed_wait(source)
    start = time.perf_counter()
    # to_zarr rechunks what it writes to Dask's automatic chunk size (128 MiB
    # by default, a single task for this input); 8 MiB gives every worker
    # tasks of 2,000,000 samples.
    with client.as_current(), dask.config.set({"array.chunk-size": "8MiB"}):
        da.to_zarr(source, target)
    return time.perf_counter() - start


def distributed_wait(collection):
    from dask.distributed import wait

    wait(collection)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--samples", type=int, default=20_000_000)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    signal = real_signal(args.samples)
    clusters = {
        workers: LocalCluster(
            n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None,
            silence_logs=logging.WARNING,
        )
        for workers in (1, 2)
    }
    clients = {workers: Client(cluster) for workers, cluster in clusters.items()}
    times = {workers: [] for workers in clusters}
    try:
        with tempfile.TemporaryDirectory() as folder:
            for workers, client in clients.items():  # warm-up: imports on the workers
                timed_write(client, signal[: CHUNK * 4], folder, f"warm{workers}")
            for run in range(args.repeat):
                for workers, client in clients.items():
                    times[workers].append(timed_write(client, signal, folder, f"{run}-{workers}"))
    finally:
        for client in clients.values():
            client.close()
        for cluster in clusters.values():
            cluster.close()
    print(f"CPU: {cpu_model()}; {args.samples:,} float32 samples of ECG, chunks of {CHUNK:,}; "
          f"medians of {args.repeat} interleaved runs")
    medians = {workers: statistics.median(t) for workers, t in times.items()}
    for workers, median in medians.items():
        print(f"{workers} worker process(es): {median:.2f} s, {args.samples / median / 1e6:.1f} Msamples/s "
              f"(runs {', '.join(f'{t:.2f}' for t in times[workers])})")
    print(f"two workers / one worker throughput: {medians[1] / medians[2]:.2f}x")


if __name__ == "__main__":
    main()
