import corvane


def test_module_has_empty_docstring():
    assert corvane.__doc__ == ""
