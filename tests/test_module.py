import subprocess
import sys

import corvane


def test_module_has_empty_docstring():
    assert corvane.__doc__ == ""


def test_options_class_is_registered():
    assert isinstance(corvane.CorvnCompressionOptions, type)


def test_reimport_shares_the_options_class():
    # A second import of the extension runs the exec step again; instances from
    # either module object must still be recognised as options.
    code = (
        "import sys, corvane\n"
        "first = corvane.CorvnCompressionOptions\n"
        "del sys.modules['corvane']\n"
        "import corvane as again\n"
        "assert again is not corvane\n"
        "assert again.CorvnCompressionOptions is first\n"
    )
    subprocess.run([sys.executable, "-c", code], check=True)
