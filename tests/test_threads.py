"""Calls from several Python threads at once give exactly the single-threaded
results. The functions keep the interpreter lock for the whole call, so on a
regular interpreter the calls interleave between, not within, calls; under a
free-threaded interpreter (where the module declares it needs no lock) they
truly overlap, and this test then exercises the shared engine state too."""

import sys
import threading

import numpy as np

from corvane import CorvnCompressionOptions as Options, compress_signal, decompress_signal

THREADS = 8
ROUNDS = 5


def jobs():
    rng = np.random.default_rng(3)
    methods = ("cdf53", "cdf97", "db4", "sym4")
    coders = ("deflate", "arans", None)
    out = []
    for k in range(12):
        n = (5, 300, 5000)[k % 3]
        signal = np.cumsum(rng.standard_normal(n)).astype(np.float64 if k % 4 == 1 else np.float32)
        options = Options(methods[k % 4], 6 + k % 7, ("low", "medium", "high")[k % 3], coders[k % 3])
        out.append((signal, options))
    return out


def test_threads_reproduce_single_threaded_containers_and_samples():
    work = jobs()
    expected = []
    for signal, options in work:
        blob = compress_signal(signal, options)
        expected.append((blob, decompress_signal(blob)))
    corrupt = expected[0][0][:-1]
    corrupt_message = None
    try:
        decompress_signal(corrupt)
    except ValueError as e:
        corrupt_message = str(e)
    assert corrupt_message is not None

    faults = []
    start = threading.Barrier(THREADS)

    def run(t):
        start.wait()
        for _ in range(ROUNDS):
            for i in range(len(work)):
                k = (i + 5 * t) % len(work)
                signal, options = work[k]
                blob = compress_signal(signal, options)
                if blob != expected[k][0]:
                    faults.append((t, k, "container"))
                    continue
                out = decompress_signal(blob)
                if out.tobytes() != expected[k][1].tobytes():
                    faults.append((t, k, "samples"))
                try:
                    decompress_signal(corrupt)
                    faults.append((t, k, "corrupt container decoded"))
                except ValueError as e:
                    if str(e) != corrupt_message:
                        faults.append((t, k, str(e)))

    previous = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)  # switch threads as often as the interpreter allows
    try:
        threads = [threading.Thread(target=run, args=(t,)) for t in range(THREADS)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    finally:
        sys.setswitchinterval(previous)
    assert faults == []
