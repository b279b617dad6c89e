"""Every failure a caller can reach raises an exception and a message that a
row of the README's exceptions table lists, with that row's exception type."""
import pathlib
import re
import struct
import subprocess
import sys
import textwrap
import zlib

import numpy as np
import pytest

from corvane import CorvnCompressionOptions as Options, compress_signal, decompress_signal

README = pathlib.Path(__file__).resolve().parent.parent / "README.md"
HEADER = struct.Struct("<4sBB2s4sBBBBIfffI16s")


def span_pattern(span):
    """A message as the table writes it, with `{}` (or `{type}`) for a value."""
    return re.escape(span).replace(r"\{\}", ".*").replace(r"\{type\}", ".*")


def table():
    """(exception name, [message regexes]) per row of the exceptions table."""
    section = README.read_text().split("### Exceptions", 1)[1]
    rows = []
    for line in section.splitlines():
        if not line.startswith("|"):
            if rows:
                break
            continue
        cells = [cell.strip() for cell in line.strip().strip("|").split("|")]
        if cells[1] in ("Exception", "---"):
            continue
        spans = re.findall(r"`([^`]*)`", cells[2])
        patterns = [span_pattern(span) for span in spans] or [".*"]
        # "`A: {}`, the reason one of `B`, `C`": A with each reason.
        if len(spans) > 1 and spans[0].endswith("{}"):
            head = span_pattern(spans[0][:-2])
            patterns += [head + span_pattern(span) for span in spans[1:]]
        rows.append((cells[1].strip("`"), patterns))
    return rows


def documented(kind, message):
    return any(
        kind == row_kind and any(re.fullmatch(p, message, re.S) for p in patterns)
        for row_kind, patterns in table()
    )


def raised(call):
    with pytest.raises(Exception) as info:
        call()
    return type(info.value).__name__, str(info.value)


def ramp(n=1000):
    return (np.sin(np.arange(n) / 30) * 3 + 1).astype(np.float32)


def forged(blob, **fields):
    """A container with some header fields replaced."""
    names = ["magic", "major", "minor", "kind", "tag", "levels", "scale", "coder", "reserved",
             "samples", "min", "max", "mean", "payload_len", "tail"]
    values = dict(zip(names, HEADER.unpack_from(blob)))
    values.update(fields)
    return HEADER.pack(*(values[name] for name in names)) + blob[52:]


RANS = compress_signal(ramp(), Options(coder="arans"))
DEFLATE = compress_signal(ramp(), Options(coder="deflate"))
ZEROS = zlib.compressobj(6, zlib.DEFLATED, -15)
ZERO_PAYLOAD = ZEROS.compress(bytes(4000)) + ZEROS.flush()

CASES = {
    "method not a str": lambda: Options(method=1),
    "scale not an int": lambda: Options(scale="x"),
    "scale beyond a byte": lambda: Options(scale=300),
    "unknown method": lambda: Options(method="DB4"),
    "unknown cutoff": lambda: Options(cutoff="none"),
    "scale 13": lambda: Options(scale=13),
    "unknown coder": lambda: Options(coder="zstd"),
    "options of another type": lambda: compress_signal(ramp(), "cdf97"),
    "a list": lambda: compress_signal([1.0, 2.0]),
    "strided": lambda: compress_signal(ramp()[::2]),
    "empty": lambda: compress_signal(np.zeros(0, np.float32)),
    "range overflows": lambda: compress_signal(np.array([-3e38, 3e38], np.float32)),
    "not bytes": lambda: decompress_signal(bytearray(RANS)),
    "short header": lambda: decompress_signal(RANS[:40]),
    "magic": lambda: decompress_signal(forged(RANS, magic=b"XXXX")),
    "version": lambda: decompress_signal(forged(RANS, major=2)),
    "kind": lambda: decompress_signal(forged(RANS, kind=b"f4")),
    "method tag": lambda: decompress_signal(forged(RANS, tag=b"db05")),
    "scale byte": lambda: decompress_signal(forged(RANS, scale=5)),
    "coder byte": lambda: decompress_signal(forged(RANS, coder=2)),
    "NaN mean": lambda: decompress_signal(forged(RANS, mean=float("nan"))),
    "sample count 2^31": lambda: decompress_signal(forged(RANS, samples=2**31)),
    "no samples": lambda: decompress_signal(forged(RANS, samples=0)),
    "levels 11": lambda: decompress_signal(forged(RANS, levels=11)),
    "levels 0": lambda: decompress_signal(forged(RANS, levels=0)),
    "cut short": lambda: decompress_signal(RANS[:-1]),
    "rANS stream truncated": lambda: decompress_signal(forged(RANS[:70], payload_len=18)),
    "rANS context bits 9": lambda: decompress_signal(RANS[:53] + b"\x09" + RANS[54:]),
    "corrupt DEFLATE": lambda: decompress_signal(DEFLATE[:52] + b"\xff" + DEFLATE[53:]),
    "too few coefficients": lambda: decompress_signal(forged(DEFLATE, samples=100_000)),
    "too many levels for the count": lambda: decompress_signal(
        forged(DEFLATE[:52], tag=b"cf53", samples=1, levels=3, payload_len=len(ZERO_PAYLOAD))
        + ZERO_PAYLOAD
    ),
}


def test_every_row_parses():
    rows = table()
    assert len(rows) > 20
    assert all(patterns for _, patterns in rows)


@pytest.mark.parametrize("case", list(CASES))
def test_failure_is_a_documented_row(case):
    kind, message = raised(CASES[case])
    assert documented(kind, message), (kind, message)


def test_running_out_of_memory_is_a_documented_row():
    # A container whose bands need far more than the address space allows,
    # decoded in a child with a capped address space.
    child = textwrap.dedent(
        """
        import resource, sys
        import numpy as np
        import corvane
        blob = corvane.compress_signal(np.zeros(50_000_000, np.float32))
        with open("/proc/self/status") as f:
            size = next(int(l.split()[1]) for l in f if l.startswith("VmSize")) * 1024
        resource.setrlimit(resource.RLIMIT_AS, (size + 64 * 2**20, size + 64 * 2**20))
        try:
            corvane.decompress_signal(blob)
        except Exception as e:
            print(type(e).__name__)
            print(e)
        """
    )
    done = subprocess.run([sys.executable, "-c", child], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    kind, message = done.stdout.rstrip("\n").split("\n", 1)
    assert re.fullmatch(r"Out of memory, can't allocate additional \d+", message), message
    assert documented(kind, message)
