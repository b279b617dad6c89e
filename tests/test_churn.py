"""Ten thousand round trips mixed with failing calls of every kind: the process
must not grow and no object may gain or lose a reference. A leak in an error
path (a buffer not released before raising, an argument reference kept) shows
up here, where a single call would hide it."""

import ctypes
import ctypes.util
import gc
import struct
import sys

import numpy as np
import pytest

from corvane import CorvnCompressionOptions as Options, compress_signal, decompress_signal

ROUND_TRIPS = 10_000
WARM_UP = 2_000


def rss_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


class _MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
        "fordblks", "keepcost")]


def malloc_in_use_bytes():
    """Bytes the C allocator has handed out and not had back (glibc), or None.
    Exact where RSS is not: a leak can fill holes that earlier frees left in
    the heap without making the process any bigger."""
    try:
        libc = ctypes.CDLL(ctypes.util.find_library("c"))
        mallinfo2 = libc.mallinfo2
    except (OSError, AttributeError, TypeError):
        return None
    mallinfo2.restype = _MallInfo2
    info = mallinfo2()
    return info.uordblks + info.hblkhd


def with_byte(blob, at, value):
    return blob[:at] + bytes([value]) + blob[at + 1:]


def with_u32(blob, at, value):
    return blob[:at] + struct.pack("<I", value) + blob[at + 4:]


def corrupt_containers(deflate_blob, arans_blob, cdf97_blob):
    """One container per way decoding can fail."""
    return [
        b"",
        deflate_blob[:51],
        b"XXXX" + arans_blob[4:],
        with_byte(arans_blob, 4, 2),
        arans_blob[:6] + b"f4" + arans_blob[8:],
        arans_blob[:8] + b"cf99" + arans_blob[12:],
        with_byte(arans_blob, 13, 13),
        with_byte(arans_blob, 14, 2),
        arans_blob[:20] + struct.pack("<f", float("nan")) + arans_blob[24:],
        with_u32(arans_blob, 16, 2**31),
        with_byte(arans_blob, 12, 11),
        with_byte(arans_blob, 12, 0),
        arans_blob[:-1],
        deflate_blob[:-1],
        with_u32(deflate_blob, 52, 0xFFFFFFFF),  # corrupt deflate stream
        with_u32(arans_blob, 16, 100_000),  # too few coefficients
        with_byte(arans_blob, 53, 9),  # 9 rANS context bits
        with_u32(arans_blob[:64], 32, 12),  # rANS planes cut off
        with_u32(cdf97_blob, 16, 0),  # bands the inverse transform refuses
    ]


def failing_calls(signal, options, deflate_blob, arans_blob, cdf97_blob):
    """Calls that must raise, with the exception type each raises."""
    calls = [
        (lambda: compress_signal(signal.astype(np.int32)), ValueError),
        (lambda: compress_signal(signal.astype(">f4")), ValueError),
        (lambda: compress_signal(signal.reshape(8, -1)), ValueError),
        (lambda: compress_signal(list(signal[:4])), ValueError),
        (lambda: compress_signal(signal[::2]), TypeError),
        (lambda: compress_signal(np.zeros(0, np.float32)), ValueError),
        (lambda: compress_signal(signal, "cdf97"), TypeError),
        (lambda: compress_signal(signal, options, 1), TypeError),
        (lambda: compress_signal(), TypeError),
        (lambda: compress_signal(data=signal, extra=1), TypeError),
        (lambda: Options(method="haar"), ValueError),
        (lambda: Options(cutoff="none"), ValueError),
        (lambda: Options(scale=13), ValueError),
        (lambda: Options(scale=300), OverflowError),
        (lambda: Options(scale="11"), TypeError),
        (lambda: Options(coder="AUTO"), ValueError),
        (lambda: Options(coder=1), TypeError),
        (lambda: decompress_signal(bytearray(arans_blob)), TypeError),
        (lambda: decompress_signal(arans_blob, 1), TypeError),
    ]
    for blob in corrupt_containers(deflate_blob, arans_blob, cdf97_blob):
        calls.append(((lambda b=blob: decompress_signal(b)), ValueError))
    return calls


def test_round_trips_and_failures_neither_grow_the_process_nor_leak_references():
    rng = np.random.default_rng(0)
    signals = [rng.standard_normal(n).astype(np.float32) for n in (1, 9, 64, 200)]
    wide = rng.standard_normal(64)
    option_sets = [
        Options(),
        Options("cdf53", 8, "high", "deflate"),
        Options("db4", 12, "medium", "arans"),
        Options("sym4", 6, "low", "deflate"),
    ]
    deflate_blob = compress_signal(signals[2], option_sets[1])
    arans_blob = compress_signal(signals[2], option_sets[2])
    cdf97_blob = compress_signal(signals[2], option_sets[0])
    calls = failing_calls(signals[2], option_sets[2], deflate_blob, arans_blob, cdf97_blob)
    inputs = [*signals, wide, *option_sets, deflate_blob, arans_blob, cdf97_blob]
    refs = [sys.getrefcount(obj) for obj in inputs]

    def churn(start, stop):
        for i in range(start, stop):
            data = wide if i % 7 == 0 else signals[i % len(signals)]
            blob = compress_signal(data, option_sets[i % len(option_sets)])
            out = decompress_signal(blob)
            assert out.shape == data.shape
            call, error = calls[i % len(calls)]
            with pytest.raises(error):
                call()

    churn(0, WARM_UP)
    gc.collect()
    warm = rss_bytes()
    warm_heap = malloc_in_use_bytes()
    churn(WARM_UP, ROUND_TRIPS)
    gc.collect()
    assert rss_bytes() - warm < 1024 * 1024
    if warm_heap is not None:
        # Round trips leaking 8 bytes each, or one kind of failing call
        # leaking 300 bytes each, would pass 64 KiB over these 8,000 rounds.
        assert malloc_in_use_bytes() - warm_heap < 64 * 1024
    assert [sys.getrefcount(obj) for obj in inputs] == refs

    # Fresh results are referenced only by their name (and the call's argument).
    blob = compress_signal(signals[3], option_sets[0])
    out = decompress_signal(blob)
    assert sys.getrefcount(blob) == 2
    assert sys.getrefcount(out) == 2
    base = out.base
    assert base is not None and sys.getrefcount(base) == 3  # `base` and the array
    del base
