"""Containers from disk or network are untrusted: whatever a small container's
header claims (2^31 - 1 samples, 2^28 rANS pairs, 10 levels), decoding it must
end in a proper ValueError or a legitimate result, and must not make the
process much bigger than what the few bytes could really decode to.

Memory is measured in a child process: the peak resident size during each
call, over the resident size just before it, after numpy and corvane were
imported and a tiny warm-up call was made. The child fixes glibc's mmap
threshold so that large buffers go back to the system when freed and every
call starts from an honest baseline, and caps its address space 512 MiB above
the baseline so that reservations which are never touched count too.
"""

import json
import os
import pickle
import struct
import subprocess
import sys
import textwrap
import zlib

import numpy as np
import pytest

from corvane import CorvnCompressionOptions as Options, compress_signal

HEADER = struct.Struct("<4sBB2s4sBBBBIfffI16s")
assert HEADER.size == 52

MIB = 1024 * 1024
EXTRA_RSS_BOUND = 64 * MIB
SMALL = 4096  # every crafted container is smaller than this

TAGS = {"cdf53": b"cf53", "cdf97": b"cf97", "db4": b"db04", "sym4": b"sym4"}
# (claimed sample count, levels)
HUGE_CLAIMS = ((2**31 - 1, 1), (2**31 - 1, 10), (2**28, 10))
DEFLATE, ARANS = 0, 1
FAILED = "Can't decompress data, reason: "


def container(method, levels, coder, samples, payload, payload_len=None, scale=11):
    header = HEADER.pack(
        b"CRVN", 1, 1, b"f3", TAGS[method], levels, scale, coder, 0, samples,
        -1.0, 1.0, 0.0, len(payload) if payload_len is None else payload_len, bytes(16),
    )
    return header + payload


def leb128(value):
    out = bytearray()
    while value >= 0x80:
        out.append(value & 0x7F | 0x80)
        value >>= 7
    out.append(value)
    return bytes(out)


def read_leb128(data, at):
    value = shift = 0
    while True:
        byte = data[at]
        at += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if not byte & 0x80:
            return value, at


def payload_of(blob):
    (length,) = struct.unpack_from("<I", blob, 32)
    return blob[52:52 + length]


def zero_signal_container(samples, coder):
    return compress_signal(np.zeros(samples, np.float32), Options(coder=coder))


def largest_zero_container(coder):
    """The longest all-zero signal whose container stays under 4 KiB: a
    legitimate container whose sample count is as large as a small container
    can truthfully carry."""
    probe = 1_000_000
    size = len(zero_signal_container(probe, coder))
    samples = int(probe * (SMALL - 200) / size)
    while True:
        blob = zero_signal_container(samples, coder)
        if len(blob) < SMALL:
            return blob
        samples = samples * 9 // 10


def forged_arans_streams():
    """rANS payloads whose stream headers lie about their sizes."""
    # The planes of a long run of zero coefficients: the most bytes a code
    # byte can yield. A probability never passes 4081/4096, so a zero byte
    # costs at least 8 * log2(4096/4081) bits: at most about 190 bytes per
    # code byte.
    stream = payload_of(largest_zero_container("arans"))
    odd, context_bits = stream[0], stream[1]
    _, at = read_leb128(stream, 2)
    length0, planes_at = read_leb128(stream, at)
    planes = stream[planes_at:]
    state = b"\xff\xff\xff\xff"
    return {
        "arans 2^28 pairs, zero-run planes": bytes([odd, context_bits]) + leb128(2**28)
        + leb128(length0) + planes,
        "arans 2^28 pairs, bare states": b"\x00\x03" + leb128(2**28) + leb128(4) + state + state,
        "arans 2^28 pairs, 8 context bits, one word each": b"\x00\x08" + leb128(2**28) + leb128(6)
        + state + b"\xff\xff" + state + b"\xff\xff",
        "arans 2^28+1 pairs": b"\x00\x03" + leb128(2**28 + 1) + leb128(4) + state + state,
        "arans 9 context bits": b"\x00\x09" + leb128(1000) + leb128(4) + state + state,
        "arans plane-0 length past the end": b"\x00\x03" + leb128(2**28) + leb128(2**62) + state,
        "arans ten-byte length": b"\x00\x03" + b"\xff" * 10 + state,
        "arans pair count cut short": b"\x00\x03\xff\xff\xff\xff",
        "arans empty": b"",
        "arans short form": b"\x01\x02\x03\x04\x05",
        "arans garbage": bytes(np.random.default_rng(1).integers(0, 256, 3000, dtype=np.uint8)),
    }


def forged_deflate_streams():
    def zero_run(size):
        zeros = zlib.compressobj(9, zlib.DEFLATED, -15)
        return zeros.compress(bytes(size)) + zeros.flush()

    run = zero_run(8 * MIB)
    stored = b"\x01\xff\xff\x00\x00" + bytes(100)  # a final stored block that ends early
    return {
        "deflate zero run, cut short": run[: SMALL - 100],
        "deflate zero run, whole (1 MiB)": zero_run(MIB),
        "deflate stored block cut short": stored,
        "deflate empty": b"",
        "deflate garbage": bytes(np.random.default_rng(2).integers(0, 256, 3000, dtype=np.uint8)),
        "deflate fixed-Huffman junk": b"\x03\x00" + b"\xff" * 200,
    }


CHILD = textwrap.dedent(
    """
    import gc, json, pickle, re, resource, sys
    import numpy as np
    import corvane

    def status(field):
        with open("/proc/self/status") as f:
            return int(re.search(field + r":\\s+(\\d+)", f.read()).group(1)) * 1024

    def reset_peak():
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")

    corvane.decompress_signal(corvane.compress_signal(np.arange(100, dtype=np.float32)))
    with open(sys.argv[1], "rb") as f:
        cases = pickle.load(f)
    # Address space too: a huge reservation that is never touched costs no
    # resident memory, but it is still an allocation sized by the header.
    limit = status("VmSize") + int(sys.argv[2])
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    results = {}
    for name, blob in cases:
        gc.collect()
        reset_peak()
        base = status("VmRSS")
        try:
            out = corvane.decompress_signal(blob)
            outcome = ["ok", int(out.shape[0]), float(out[:1000].min()), float(out[:1000].max())]
            del out
        except ValueError as e:
            outcome = ["ValueError", str(e)]
        except BaseException as e:
            outcome = [type(e).__name__, str(e)]
        results[name] = {"outcome": outcome, "extra": status("VmHWM") - base}
    print(json.dumps(results))
    """
)


def measure(cases, tmp_path, address_space=512 * MIB):
    """Decodes every (name, blob) in one fresh child whose address space may
    grow by `address_space` bytes; per name the outcome and the peak extra
    resident bytes."""
    path = tmp_path / "cases.pickle"
    with open(path, "wb") as f:
        pickle.dump(list(cases), f)
    env = dict(os.environ, MALLOC_MMAP_THRESHOLD_="65536", MALLOC_TRIM_THRESHOLD_="65536")
    done = subprocess.run(
        [sys.executable, "-c", CHILD, str(path), str(address_space)],
        capture_output=True, text=True, env=env, timeout=300,
    )
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


def hostile_cases():
    """Per payload kind: every method with every huge claim."""
    kinds = {}
    for coder, streams in ((ARANS, forged_arans_streams()), (DEFLATE, forged_deflate_streams())):
        for kind, payload in streams.items():
            cases = []
            for method in TAGS:
                for samples, levels in HUGE_CLAIMS:
                    blob = container(method, levels, coder, samples, payload)
                    assert len(blob) < SMALL
                    cases.append((f"{kind} {method} n={samples} levels={levels}", blob))
            kinds[kind] = cases
    return kinds


@pytest.fixture(scope="module")
def hostile_results(tmp_path_factory):
    kinds = hostile_cases()
    results = measure([case for cases in kinds.values() for case in cases], tmp_path_factory.mktemp("hostile"))
    return kinds, results


# What each forged payload must end in, whatever the method, sample count and
# levels: the decoder's own error, or the bands finding too few coefficients.
TOO_FEW = FAILED + "Payload holds "
EXPECTED = {
    "arans 2^28 pairs, zero-run planes": FAILED + "Stream truncated",
    "arans 2^28 pairs, bare states": FAILED + "Stream truncated",
    "arans 2^28 pairs, 8 context bits, one word each": FAILED + "Stream truncated",
    "arans 2^28+1 pairs": FAILED + "Inconsistent or oversized length in stream",
    "arans 9 context bits": FAILED + "Inconsistent or oversized length in stream",
    "arans plane-0 length past the end": FAILED + "Stream truncated",
    "arans ten-byte length": FAILED + "Inconsistent or oversized length in stream",
    "arans pair count cut short": FAILED + "Stream truncated",
    "arans empty": TOO_FEW + "0 coefficients",
    "arans short form": TOO_FEW + "2 coefficients",
    "arans garbage": FAILED,
    "deflate zero run, cut short": TOO_FEW,
    "deflate zero run, whole (1 MiB)": TOO_FEW + "524288 coefficients",
    "deflate stored block cut short": TOO_FEW + "50 coefficients",
    "deflate empty": TOO_FEW + "0 coefficients",
    "deflate garbage": FAILED,
    "deflate fixed-Huffman junk": FAILED,
}


@pytest.mark.parametrize("kind", list(EXPECTED))
def test_small_container_with_huge_claims_fails_within_the_memory_bound(hostile_results, kind):
    kinds, results = hostile_results
    worst = 0
    for name, _ in kinds[kind]:
        outcome, extra = results[name]["outcome"], results[name]["extra"]
        assert outcome[0] == "ValueError", (name, outcome)
        assert outcome[1].startswith(EXPECTED[kind]), (name, outcome[1])
        worst = max(worst, extra)
        assert extra < EXTRA_RSS_BOUND, (name, extra / MIB)
    print(f"{kind}: worst peak extra RSS {worst / MIB:.1f} MiB")


def test_payload_length_beyond_the_container_is_reported_before_any_decoding(tmp_path):
    cases = [
        (f"{method} coder {coder}", container(method, 10, coder, 2**31 - 1, b"\x00" * 100, 2**32 - 1))
        for method in TAGS
        for coder in (DEFLATE, ARANS)
    ]
    for name, outcome in measure(cases, tmp_path).items():
        assert outcome["outcome"] == [
            "ValueError",
            FAILED + f"Minimum data size is {2**32 - 1 + 52}, but it was 152",
        ], name
        assert outcome["extra"] < EXTRA_RSS_BOUND


@pytest.mark.parametrize("coder", ["arans", "deflate"])
def test_largest_small_all_zero_container_decodes_within_the_bound(coder, tmp_path):
    # The most samples a container under 4 KiB can truly hold: a run of zero
    # coefficients (about 370 thousand samples with rANS, whose bytes cost at
    # least 0.042 bits each, and 2 million with DEFLATE, which expands at most
    # 1032 times). A larger claimed count can never be honest in so few
    # bytes. It is valid and must decode to its constant, also with the
    # levels byte raised to 10 (still consistent: all bands are zero whatever
    # their split).
    blob = largest_zero_container(coder)
    (samples,) = struct.unpack_from("<I", blob, 16)
    deeper = blob[:12] + b"\x0a" + blob[13:]
    results = measure([("as written", blob), ("10 levels", deeper)], tmp_path)
    for name, result in results.items():
        assert result["outcome"] == ["ok", samples, 0.0, 0.0], name
        assert result["extra"] < EXTRA_RSS_BOUND, (name, result["extra"] / MIB)
        print(f"{coder} {samples} zero samples, {name}: peak extra RSS {result['extra'] / MIB:.1f} MiB")


# Multi-megabyte containers of a long compressible signal (2^25 samples: a
# slow sine with a spike every 64 samples or so; about 7 MB with either
# coder). Their coefficient strings are 64 MiB, so a decoder that stored the
# whole string before looking at the bands would exceed the bound below when
# the header's count is forged down.
LONG = 2**25


def forged_count(blob, samples):
    return blob[:16] + struct.pack("<I", samples) + blob[20:]


@pytest.fixture(scope="module")
def long_containers():
    x = np.sin(np.arange(LONG, dtype=np.float32) * np.float32(1e-4))
    x[np.random.default_rng(0).integers(0, LONG, LONG // 64)] += 0.3
    return {coder: compress_signal(x, Options(coder=coder)) for coder in ("arans", "deflate")}


@pytest.mark.parametrize("coder", ["arans", "deflate"])
def test_memory_follows_the_output_not_the_payload(long_containers, coder, tmp_path):
    # Peak memory of a decompression stays within 3 times the output array
    # plus 64 MiB, whatever the payload holds beyond what the bands need: a
    # count forged down decodes the whole payload (a damaged stream would
    # still be reported) but keeps only the coefficients of its bands. A
    # count forged up fails once the payload runs out, within the bound of
    # what it really holds.
    blob = long_containers[coder]
    assert len(blob) > 4 * MIB
    cases = {
        "forged to 10000": (forged_count(blob, 10_000), 10_000),
        "honest": (blob, LONG),
        "forged to 4x": (forged_count(blob, 4 * LONG), LONG),
    }
    results = measure([(name, case[0]) for name, case in cases.items()], tmp_path, 2048 * MIB)
    for name, (_, backed) in cases.items():
        outcome, extra = results[name]["outcome"], results[name]["extra"]
        if name == "forged to 4x":
            assert outcome[0] == "ValueError" and TOO_FEW in outcome[1], (name, outcome)
        else:
            assert outcome[:2] == ["ok", backed], (name, outcome)
        bound = 3 * 4 * backed + EXTRA_RSS_BOUND
        print(f"{coder} {name}: peak extra RSS {extra / MIB:.1f} MiB (bound {bound / MIB:.0f})")
        assert extra < bound, (name, extra / MIB)
