"""The limits the README states, and its examples for adding integrity,
run as they are printed."""
import pathlib
import re

import numpy as np
import pytest

from corvane import CorvnCompressionOptions as Options, compress_signal, decompress_signal

README = pathlib.Path(__file__).resolve().parent.parent / "README.md"


def readme_example(marker):
    """The one Python block of the README that contains `marker`."""
    blocks = re.findall(r"```python\n(.*?)```", README.read_text(), re.S)
    found = [b for b in blocks if marker in b]
    assert len(found) == 1, f"{len(found)} README examples contain {marker!r}"
    # Blocks inside a list item are indented; dedent by the first line's.
    lines = found[0].splitlines()
    indent = len(lines[0]) - len(lines[0].lstrip())
    return "\n".join(line[indent:] for line in lines)


def ecg_like(n=20_000):
    t = np.arange(n)
    return (np.sin(t / 40) + 0.3 * (t % 300 < 8) + 0.01 * np.cos(t * 1.7)).astype(np.float32)


@pytest.mark.parametrize("coder", ["arans", "deflate"])
def test_crc_beside_the_bytes_catches_flips_the_decoder_lets_through(coder):
    example = {}
    exec(readme_example("zlib.crc32"), example)
    blob, crc = example["compress_with_crc"](ecg_like(), Options(coder=coder))
    reference = example["decompress_checked"](blob, crc)
    silent = 0
    rng = np.random.default_rng(5)
    for bit in rng.choice((len(blob) - 52) * 8, 200, replace=False):
        damaged = bytearray(blob)
        damaged[52 + bit // 8] ^= 1 << (bit % 8)
        damaged = bytes(damaged)
        try:
            silent += not np.array_equal(decompress_signal(damaged), reference)
        except ValueError:
            pass
        with pytest.raises(ValueError, match="CRC-32 mismatch"):
            example["decompress_checked"](damaged, crc)
    assert silent > 0  # the reason for the checksum


def test_zarr_crc32c_after_corvane_refuses_a_damaged_chunk(tmp_path, monkeypatch):
    pytest.importorskip("zarr")
    monkeypatch.chdir(tmp_path)
    exec(readme_example("Crc32cCodec"), {})
    import zarr

    written = zarr.open_array("signals.zarr")[:]
    chunk = tmp_path / "signals.zarr" / "c" / "3"
    damaged = bytearray(chunk.read_bytes())
    damaged[len(damaged) // 2] ^= 0x10
    chunk.write_bytes(bytes(damaged))
    signals = zarr.open_array("signals.zarr")
    np.testing.assert_array_equal(signals[:30_000], written[:30_000])  # other chunks read
    with pytest.raises(ValueError, match="checksum do not match"):
        signals[30_000:40_000]


def test_masked_array_is_compressed_with_its_hidden_values():
    x = ecg_like(5000)
    masked = np.ma.masked_array(x, mask=np.zeros(x.size, bool))
    masked[1000:1100] = np.ma.masked
    masked.data[1000:1100] = 1e30  # the filler beneath the mask
    blob = compress_signal(masked)
    assert blob == compress_signal(masked.data)
    assert decompress_signal(blob).max() > 1e29
    filled = compress_signal(masked.filled(float(x.mean())))
    assert np.abs(decompress_signal(filled)[:1000] - x[:1000]).max() < 1e-2 * np.ptp(x)


@pytest.mark.parametrize("offset, amplitude", [(0.0, 1e-6), (0.0, 1e-9), (1.0, 4e-6)])
def test_tiny_ranges_keep_their_shape(offset, amplitude):
    x = (offset + amplitude * np.sin(np.arange(1000) / 20)).astype(np.float32)
    out = decompress_signal(compress_signal(x))
    spread = float(np.ptp(x))
    # The usual error relative to the range, plus the spacing of float32
    # samples of this magnitude.
    assert np.abs(out - x).max() <= 0.02 * spread + np.spacing(np.float32(abs(offset) + amplitude))
    assert np.unique(out).size > np.unique(x).size // 2
