"""Argument binding and conversion: exact errors, notes, and their order."""

import pytest

from vornel_codec import columnarize


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Weird:
    """A type whose qualified name holds a lone surrogate."""


Weird.__qualname__ = "We\udc80ird.<locals>"

ARGUMENT_ERRORS = [
    # (id, args, kwargs, exception type, message, notes)
    ("no_arguments", (), {}, TypeError, "columnarize() missing 1 required positional argument: 'payload'", None),
    ("only_min_rows", (), {"min_rows": 5}, TypeError,
     "columnarize() missing 1 required positional argument: 'payload'", None),
    ("three_positional", (b"[]", 20, 3), {}, TypeError,
     "columnarize() takes from 1 to 2 positional arguments but 3 were given", None),
    ("unexpected_keyword", (b"[]",), {"bogus": 1}, TypeError,
     "columnarize() got an unexpected keyword argument 'bogus'", None),
    ("unexpected_keyword_before_missing_payload", (), {"bogus": 1}, TypeError,
     "columnarize() got an unexpected keyword argument 'bogus'", None),
    ("lone_surrogate_keyword", (b"[]",), {"a\udc80b": 1}, TypeError,
     "columnarize() got an unexpected keyword argument 'a\ufffd\ufffd\ufffdb'", None),
    ("payload_twice", (b"[]",), {"payload": b"[]"}, TypeError,
     "columnarize() got multiple values for argument 'payload'", None),
    ("min_rows_twice", (b"[]", 1), {"min_rows": 2}, TypeError,
     "columnarize() got multiple values for argument 'min_rows'", None),
    ("str_payload", ("[]",), {}, TypeError, "'str' object is not an instance of 'bytes'",
     ["while processing 'payload'"]),
    ("none_payload", (None,), {}, TypeError, "'None' is not an instance of 'bytes'", ["while processing 'payload'"]),
    ("bytearray_payload", (bytearray(b"[]"),), {}, TypeError, "'bytearray' object is not an instance of 'bytes'",
     ["while processing 'payload'"]),
    ("memoryview_payload", (memoryview(b"[]"),), {}, TypeError, "'memoryview' object is not an instance of 'bytes'",
     ["while processing 'payload'"]),
    ("lone_surrogate_type_name", (Weird(),), {}, TypeError,
     "'We\ufffd\ufffd\ufffdird.<locals>' object is not an instance of 'bytes'", ["while processing 'payload'"]),
    ("bad_payload_before_bad_min_rows", ("[]", -1), {}, TypeError, "'str' object is not an instance of 'bytes'",
     ["while processing 'payload'"]),
    ("negative_min_rows", (b"[]",), {"min_rows": -1}, OverflowError, None, ["while processing 'min_rows'"]),
    ("huge_min_rows", (b"[]", 2**64), {}, OverflowError, None, ["while processing 'min_rows'"]),
    ("float_min_rows", (b"[]",), {"min_rows": 1.5}, TypeError, None, ["while processing 'min_rows'"]),
    ("str_min_rows", (b"[]", "20"), {}, TypeError, None, ["while processing 'min_rows'"]),
    ("none_min_rows", (b"[]", None), {}, TypeError, None, ["while processing 'min_rows'"]),
    ("negative_index_min_rows", (b"[]", Index(-3)), {}, OverflowError, None, ["while processing 'min_rows'"]),
]


@pytest.mark.parametrize(
    "args, kwargs, kind, message, notes", [c[1:] for c in ARGUMENT_ERRORS], ids=[c[0] for c in ARGUMENT_ERRORS]
)
def test_argument_errors(args, kwargs, kind, message, notes):
    with pytest.raises(Exception) as raised:
        columnarize(*args, **kwargs)
    assert type(raised.value) is kind
    if message is not None:
        assert str(raised.value) == message
    assert getattr(raised.value, "__notes__", None) == notes


@pytest.mark.parametrize("min_rows", [0, True, False, 2**64 - 1, Index(7)])
def test_accepted_min_rows(min_rows):
    assert columnarize(b"[]", min_rows) == b'{"columns":[],"rows":[],"constants":{}}'
    assert columnarize(payload=b"[]", min_rows=min_rows) == b'{"columns":[],"rows":[],"constants":{}}'


def test_failing_index_propagates_with_note():
    class Broken:
        def __index__(self):
            raise ValueError("no index here")

    with pytest.raises(ValueError, match="no index here") as raised:
        columnarize(b"[]", Broken())
    assert raised.value.__notes__ == ["while processing 'min_rows'"]
