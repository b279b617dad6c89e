"""Option names and defaults have one source, the native module's tables: the
installed type stub and the numcodecs package must say what the module says,
as its signatures and its own error messages show."""
import ast
import inspect
import re
from pathlib import Path

import pytest

import corvane

STUB = Path(corvane.__file__).with_name("corvane.pyi")


def _native_defaults(function):
    return {
        name: parameter.default
        for name, parameter in inspect.signature(function).parameters.items()
    }


def _stub_defaults(definition):
    """Parameter name -> default (inspect.Parameter.empty where there is none)
    of a function in the stub, `self`/`cls` left out."""
    arguments = definition.args
    names = [a.arg for a in arguments.posonlyargs + arguments.args]
    padding = [inspect.Parameter.empty] * (len(names) - len(arguments.defaults))
    values = padding + [ast.literal_eval(d) for d in arguments.defaults]
    return {n: v for n, v in zip(names, values) if n not in ("self", "cls")}


def _stub_definitions():
    tree = ast.parse(STUB.read_text())
    found = {}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            found[node.name] = node
        elif isinstance(node, ast.ClassDef):
            for member in node.body:
                if isinstance(member, ast.FunctionDef) and member.name == "__new__":
                    found[node.name] = member
    return found


@pytest.mark.parametrize("name", ["CorvnCompressionOptions", "compress_signal", "decompress_signal"])
def test_stub_signatures_carry_the_native_defaults(name):
    stub = _stub_definitions()[name]
    assert _stub_defaults(stub) == _native_defaults(getattr(corvane, name))


def _expected_names(**bad_option):
    """The names the module lists in its message for an unknown name."""
    with pytest.raises(ValueError) as info:
        corvane.CorvnCompressionOptions(**bad_option)
    return tuple(re.findall(r"'([^']*)'", str(info.value).split(", expected ", 1)[1]))


def _scale_range():
    with pytest.raises(ValueError) as info:
        corvane.CorvnCompressionOptions(scale=0)
    low, high = re.fullmatch(r"Only scaled (\d+)\.\.(\d+) is supported, but it was 0",
                             str(info.value)).groups()
    return range(int(low), int(high) + 1)


def test_every_listed_name_and_scale_is_accepted_and_no_other_scale():
    for method in _expected_names(method="?"):
        corvane.CorvnCompressionOptions(method=method)
    for cutoff in _expected_names(cutoff="?"):
        corvane.CorvnCompressionOptions(cutoff=cutoff)
    for coder in _expected_names(coder="?"):
        corvane.CorvnCompressionOptions(coder=coder)
    scales = _scale_range()
    for scale in scales:
        corvane.CorvnCompressionOptions(scale=scale)
    for scale in (scales.start - 1, scales.stop):
        with pytest.raises(ValueError):
            corvane.CorvnCompressionOptions(scale=scale)


def test_numcodecs_constants_are_what_the_module_accepts():
    package = pytest.importorskip("corvane_numcodecs")
    assert package.METHODS == _expected_names(method="?")
    assert package.CUTOFFS == _expected_names(cutoff="?")
    assert package.SCALES == tuple(_scale_range())


def test_numcodecs_codecs_default_to_the_native_defaults():
    package = pytest.importorskip("corvane_numcodecs")
    native = _native_defaults(corvane.CorvnCompressionOptions)
    codecs = [package.CorvaneCodec] + (
        [package.CorvaneZarrCodec] if hasattr(package, "CorvaneZarrCodec") else []
    )
    for codec in codecs:
        defaults = _native_defaults(codec.__init__)
        del defaults["self"]
        # The codecs' own option: which axis the lanes run along (None: the
        # whole chunk is one signal).
        assert defaults.pop("axis") is None, codec.__name__
        assert defaults == native, codec.__name__
