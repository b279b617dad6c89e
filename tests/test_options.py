import inspect

import numpy as np
import pytest

from corvane import CorvnCompressionOptions as Options

METHOD_TAIL = ", expected 'cdf97' or 'cdf53' or 'db4' or 'sym4'"
CUTOFF_TAIL = ", expected 'low' or 'medium' or 'high'"
CODER_TAIL = ", expected 'auto', 'deflate', 'arans'"


@pytest.mark.parametrize(
    "method, cutoff, coder",
    [
        ("cdf53", "low", None),
        ("cdf97", "medium", "auto"),
        ("db4", "high", "deflate"),
        ("sym4", "low", "arans"),
    ],
)
def test_every_valid_name_builds(method, cutoff, coder):
    Options(method, 9, cutoff, coder)
    Options(coder=coder, cutoff=cutoff, scale=9, method=method)


def test_all_defaults_may_be_spelled_out():
    Options()
    Options("cdf97", 11, "low", None)
    Options(method="cdf97", scale=11, cutoff="low", coder=None)


@pytest.mark.parametrize(
    "scale", [6, 12, np.int64(7), np.uint8(8)], ids=["6", "12", "int64", "uint8"]
)
def test_scale_bounds_and_integer_likes(scale):
    Options(scale=scale)


def bad(id, message, **kwargs):
    return pytest.param(kwargs, message, id=id)


@pytest.mark.parametrize(
    "kwargs, message",
    [
        bad("header tag", 'Unknown method "db04"' + METHOD_TAIL, method="db04"),
        bad("upper case", 'Unknown method "CDF97"' + METHOD_TAIL, method="CDF97"),
        bad("leading blank", 'Unknown method " cdf97"' + METHOD_TAIL, method=" cdf97"),
        bad("empty method", 'Unknown method ""' + METHOD_TAIL, method=""),
        bad("cutoff case", 'Unknown cutoff level "Low"' + CUTOFF_TAIL, cutoff="Low"),
        bad("coder case", 'Unknown coder "AUTO"' + CODER_TAIL, coder="AUTO"),
        bad("scale 5", "Only scaled 6..12 is supported, but it was 5", scale=5),
        bad("scale 13", "Only scaled 6..12 is supported, but it was 13", scale=13),
        bad("scale True", "Only scaled 6..12 is supported, but it was 1", scale=True),
        # Checks run method, cutoff, scale, coder; the first failure wins.
        bad("all bad", 'Unknown method "x"' + METHOD_TAIL, method="x", scale=0, cutoff="y", coder="z"),
        bad("cutoff first", 'Unknown cutoff level "y"' + CUTOFF_TAIL, scale=0, cutoff="y", coder="z"),
        bad("scale first", "Only scaled 6..12 is supported, but it was 0", scale=0, coder="z"),
        # The rejected text is shown debug-quoted.
        bad("quote backslash", r'Unknown method "a\"b\\c"' + METHOD_TAIL, method='a"b\\c'),
        bad("named controls", r'Unknown cutoff level "\t\n\r\0"' + CUTOFF_TAIL, cutoff="\t\n\r\x00"),
        bad("printable kept", "Unknown method \"café 'x' ✓\"" + METHOD_TAIL, method="café 'x' ✓"),
    ],
)
def test_bad_values_raise_value_error_with_exact_message(kwargs, message):
    with pytest.raises(ValueError) as info:
        Options(**kwargs)
    assert type(info.value) is ValueError
    assert str(info.value) == message


@pytest.mark.parametrize(
    "scale", [256, 300, -1, 2**64, -(2**100)], ids=["256", "300", "-1", "2**64", "-2**100"]
)
def test_scale_outside_a_byte_overflows(scale):
    with pytest.raises(OverflowError, match="^argument 'scale': "):
        Options(scale=scale)


NOT_STR = "object cannot be converted to 'PyString'"
NOT_INT = "object cannot be interpreted as an integer"


@pytest.mark.parametrize(
    "kwargs, message",
    [
        bad("method int", f"argument 'method': 'int' {NOT_STR}", method=1),
        bad("method None", f"argument 'method': 'NoneType' {NOT_STR}", method=None),
        bad("cutoff bytes", f"argument 'cutoff': 'bytes' {NOT_STR}", cutoff=b"low"),
        bad("coder list", f"argument 'coder': 'list' {NOT_STR}", coder=["auto"]),
        bad("scale str", f"argument 'scale': 'str' {NOT_INT}", scale="11"),
        bad("scale float", f"argument 'scale': 'float' {NOT_INT}", scale=11.0),
        bad("scale None", f"argument 'scale': 'NoneType' {NOT_INT}", scale=None),
        # Every argument is converted, in order, before any name is checked.
        bad("method first", f"argument 'method': 'int' {NOT_STR}", method=1, scale="x"),
        bad("before names", f"argument 'cutoff': 'int' {NOT_STR}", method="bad", cutoff=3),
    ],
)
def test_wrong_python_type_names_the_argument(kwargs, message):
    with pytest.raises(TypeError) as info:
        Options(**kwargs)
    assert str(info.value) == message


def test_out_of_range_scale_is_reported_before_bad_names():
    with pytest.raises(OverflowError):
        Options("bad", 300)


def test_str_subclass_is_a_str():
    class Name(str):
        pass

    Options(Name("db4"))


def test_lone_surrogate_is_a_clean_error():
    with pytest.raises(UnicodeEncodeError):
        Options(method="\ud800")
    with pytest.raises(UnicodeEncodeError):
        Options(coder="a\udfff")


@pytest.mark.parametrize(
    "args, kwargs",
    [
        (("cdf97", 11, "low", None, "extra"), {}),
        ((), {"level": 3}),
        (("cdf97",), {"method": "cdf97"}),
    ],
    ids=["surplus", "unknown keyword", "given twice"],
)
def test_argument_count_and_keywords_checked_by_parser(args, kwargs):
    with pytest.raises(TypeError):
        Options(*args, **kwargs)


def test_instances_are_opaque():
    options = Options()
    assert Options.__bases__ == (object,)
    assert set(dir(options)) - set(dir(object())) <= {"__module__"}
    assert repr(options).startswith("<corvane.CorvnCompressionOptions object at ")
    with pytest.raises(AttributeError):
        options.scale = 7
    with pytest.raises(AttributeError):
        options.__dict__


def test_signature_and_no_docstring():
    assert Options.__text_signature__ == '(method="cdf97", scale=11, cutoff="low", coder=None)'
    signature = str(inspect.signature(Options))
    assert signature == "(method='cdf97', scale=11, cutoff='low', coder=None)"
    assert not Options.__doc__
    assert Options.__module__ == "corvane"
    assert Options.__qualname__ == "CorvnCompressionOptions"
