"""The installed type information: the stub agrees with the built module, and
a type checker run outside the checkout finds it and the codec module's types."""
import re
import subprocess
import sys
import textwrap

import pytest

pytest.importorskip("mypy")

USER_CODE = textwrap.dedent(
    """
    import numpy as np
    import corvane
    import corvane_numcodecs

    opts = corvane.CorvnCompressionOptions("db4", scale=12)
    restored = corvane.decompress_signal(corvane.compress_signal(np.zeros(8), opts))
    reveal_type(restored)
    reveal_type(corvane_numcodecs.compress_within(restored, 0.1))
    reveal_type(corvane_numcodecs.CorvaneZarrCodec(scale=9).scale)
    corvane.decompress_signal(bytearray(b"CRVN"))
    """
)


def _run(*args, cwd):
    return subprocess.run(
        [sys.executable, "-m", *args], cwd=cwd, capture_output=True, text=True, check=False
    )


@pytest.fixture
def outside(tmp_path, cache, request):
    """A folder away from the checkout, with a mypy configuration whose cache
    outlives the run: a cold check of numpy's stubs takes several seconds.
    Each test has its own cache, since a change of options invalidates one."""
    cache_dir = cache.mkdir(f"mypy-{request.node.name}")
    (tmp_path / "mypy.ini").write_text(f"[mypy]\ncache_dir = {cache_dir}\n")
    return tmp_path


@pytest.mark.parametrize("module", ["corvane", "_corvane_bounded"])
def test_stub_matches_the_built_module(outside, module):
    run = _run("mypy.stubtest", "--mypy-config-file", "mypy.ini", module, cwd=outside)
    assert run.returncode == 0, run.stdout + run.stderr


def test_codec_module_checks_clean_under_strict(outside):
    run = _run("mypy", "--strict", "-p", "corvane_numcodecs", cwd=outside)
    assert run.returncode == 0, run.stdout + run.stderr


def test_type_checker_finds_the_installed_types(outside):
    (outside / "user.py").write_text(USER_CODE)
    run = _run("mypy", "--strict", "user.py", cwd=outside)
    expected = [
        r'user.py:8: note: Revealed type is "numpy\.ndarray\[.*numpy\.floating\[.*32Bit\]\]\]"',
        r'user.py:9: note: Revealed type is "corvane_numcodecs\.bounded\.BoundedContainer"',
        r'user.py:10: note: Revealed type is "(builtins\.)?int"',
        r'user.py:11: error: Argument 1 to "decompress_signal" has incompatible type "bytearray"; '
        r'expected "bytes"  \[arg-type\]',
        r"Found 1 error in 1 file \(checked 1 source file\)",
    ]
    lines = run.stdout.splitlines()
    assert len(lines) == len(expected) and all(map(re.fullmatch, expected, lines)), run.stdout
