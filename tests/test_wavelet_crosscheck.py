"""The wavelet engine's Daubechies and Symlet transforms against PyWavelets.

Relation checked here (for signals at least as long as the filter at every
level, so that no border pad is longer than the signal):

* The engine stores each scaling filter h with h[0] first; PyWavelets'
  ``Wavelet(name).dec_lo`` is h reversed and ``dec_hi`` reversed is the
  engine's high-pass filter g[k] = (-1)^k h[L-1-k].
* One forward level of the engine gives (n + L - 1) // 2 approximation and
  details coefficients equal, element by element and to float32 rounding, to
  ``pywt.dwt(x, name, mode=M)`` = (cA, cD), where the border mode maps as
  Wrap -> 'periodic', Zeros -> 'zero', Clamp -> 'constant',
  Reflect -> 'symmetric', Reflect101 -> 'reflect'.
* ``multi_dwt(x, k)`` lists the levels finest first; its deepest approximation
  followed by the details from deepest to finest equal
  ``pywt.wavedec(x, name, mode=M, level=k)``.
* ``multi_idwt`` of those bands equals ``pywt.waverec(coeffs, name, mode=M)``:
  both cut each rebuilt approximation to the next details length, and both
  return one sample more than the signal for odd lengths.

The engine is reached through the test-only ``tessary_probe`` executable in the
build tree (``build/py/tessary/tessary_probe`` or ``build/cxx/...``; the
``TESSARY_PROBE`` environment variable overrides the path).
"""
import os
import pathlib
import subprocess

import numpy as np
import pytest

pywt = pytest.importorskip("pywt")

ROOT = pathlib.Path(__file__).resolve().parent.parent
MODES = {
    "wrap": "periodic",
    "zeros": "zero",
    "clamp": "constant",
    "reflect": "symmetric",
    "reflect101": "reflect",
}
MEMBERS = [("db", k) for k in range(1, 25)] + [("sym", k) for k in range(2, 21)]


def find_probe():
    override = os.environ.get("TESSARY_PROBE")
    candidates = [pathlib.Path(override)] if override else [
        ROOT / "build" / "py" / "tessary" / "tessary_probe",
        ROOT / "build" / "cxx" / "tessary" / "tessary_probe",
    ]
    for path in candidates:
        if path.is_file() and os.access(path, os.X_OK):
            return path
    return None


PROBE = find_probe()
pytestmark = pytest.mark.skipif(
    PROBE is None,
    reason="tessary_probe not built (configure with CORVANE_BUILD_TESTS=ON) "
    "or TESSARY_PROBE does not name an executable",
)


def probe_forward(family, member, mode, levels, x, tmp_path):
    src, dst = tmp_path / "x.f32", tmp_path / "bands.f32"
    x.astype(np.float32).tofile(src)
    done = subprocess.run(
        [str(PROBE), "forward", family, str(member), mode, str(levels), str(src), str(dst)],
        capture_output=True, text=True, check=True,
    )
    lengths = [int(v) for v in done.stdout.split()]
    data = np.fromfile(dst, dtype=np.float32)
    return np.split(data, np.cumsum(lengths)[:-1])


def probe_inverse(family, member, mode, coeffs, tmp_path):
    src, dst = tmp_path / "bands.f32", tmp_path / "y.f32"
    np.concatenate(coeffs).astype(np.float32).tofile(src)
    subprocess.run(
        [str(PROBE), "inverse", family, str(member), mode, str(src), str(dst)]
        + [str(len(c)) for c in coeffs],
        capture_output=True, text=True, check=True,
    )
    return np.fromfile(dst, dtype=np.float32)


# PyWavelets warns that one level of a signal as short as the filter is all border.
@pytest.mark.filterwarnings("ignore:Level value of")
@pytest.mark.parametrize("mode", MODES, ids=list(MODES))
@pytest.mark.parametrize("family,member", MEMBERS, ids=[f"{f}{m}" for f, m in MEMBERS])
def test_bands_and_reconstruction_match_pywavelets(family, member, mode, tmp_path):
    name = f"{family}{member}"
    taps = pywt.Wavelet(name).dec_len
    rng = np.random.default_rng(taps * 7 + len(mode))
    for n, levels in ((taps, 1), (taps + 1, 1), (6 * taps, 2), (6 * taps + 1, 2)):
        x = rng.standard_normal(n).astype(np.float32)
        theirs = pywt.wavedec(x, name, mode=MODES[mode], level=levels)
        ours = probe_forward(family, member, mode, levels, x, tmp_path)
        assert [len(b) for b in ours] == [len(b) for b in theirs], (n, levels)
        for got, want in zip(ours, theirs):
            np.testing.assert_allclose(got, want, rtol=0, atol=3e-5, err_msg=f"n={n}")

        rebuilt = probe_inverse(family, member, mode, theirs, tmp_path)
        expected = pywt.waverec(theirs, name, mode=MODES[mode])
        assert len(rebuilt) == len(expected) == n + n % 2
        np.testing.assert_allclose(rebuilt, expected, rtol=0, atol=3e-5, err_msg=f"n={n}")


def test_probe_reports_engine_errors(tmp_path):
    x = np.zeros(5, dtype=np.float32)
    x.tofile(tmp_path / "x.f32")
    done = subprocess.run(
        [str(PROBE), "forward", "db", "4", "wrap", "1", str(tmp_path / "x.f32"), "-"],
        capture_output=True, text=True,
    )
    assert done.returncode == 1
    assert done.stderr.strip() == "Input size 5 can't be less than 8"
