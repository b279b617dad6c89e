"""Every Python block of the README runs verbatim, as a script in an empty
folder, once what it imports is installed; a block whose packages are
missing is skipped and says which."""
import ast
import importlib.util
import pathlib
import re
import subprocess
import sys

import pytest

README = pathlib.Path(__file__).resolve().parent.parent / "README.md"
BLOCKS = re.findall(r"^```python\n(.*?)^```", README.read_text(), flags=re.MULTILINE | re.DOTALL)


def _imported_packages(source):
    packages = set()
    for node in ast.walk(ast.parse(source)):
        if isinstance(node, ast.Import):
            packages.update(alias.name.split(".")[0] for alias in node.names)
        elif isinstance(node, ast.ImportFrom) and node.module:
            packages.add(node.module.split(".")[0])
    return packages


def _label(block):
    """The block's first line that is not an import, to tell the blocks apart."""
    lines = [line for line in block.splitlines() if line and not line.startswith(("import ", "from "))]
    return lines[0][:50] if lines else block.splitlines()[0]


def test_the_readme_has_its_examples():
    assert len(BLOCKS) >= 8


@pytest.mark.parametrize("block", BLOCKS, ids=[_label(block) for block in BLOCKS])
def test_readme_block_runs(block, tmp_path):
    missing = sorted(p for p in _imported_packages(block) if importlib.util.find_spec(p) is None)
    if missing:
        pytest.skip(f"needs {', '.join(missing)} (an extra that is not installed)")
    (tmp_path / "example.py").write_text(block)
    run = subprocess.run(
        [sys.executable, "example.py"], cwd=tmp_path, capture_output=True, text=True, timeout=600, check=False
    )
    assert run.returncode == 0, run.stdout + run.stderr
