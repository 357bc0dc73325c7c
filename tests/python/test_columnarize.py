"""columnarize from bytes in to bytes or RuntimeError out."""

import json
import signal
import subprocess
import sys

import pytest

from fault_hooks import needs_hooks
from vornel_codec import columnarize

TRANSFORMS = [
    ("empty", b"[]", b'{"columns":[],"rows":[],"constants":{}}'),
    ("empty_rows", b"[{},{}]", b'{"columns":[],"rows":[[],[]],"constants":{}}'),
    ("single_row_keeps_all", b'[{"a":1,"b":null}]', b'{"columns":["a"],"rows":[[1]],"constants":{}}'),
    ("single_row_no_constants", b'[{"a":"x"}]', b'{"columns":["a"],"rows":[["x"]],"constants":{}}'),
    ("equal_rows", b'[{"a":1},{"a":1}]', b'{"columns":[],"rows":[[],[]],"constants":{"a":1}}'),
    ("overview_example", b'[{"a":1,"b":2},{"a":1,"b":3}]', b'{"columns":["b"],"rows":[[2],[3]],"constants":{"a":1}}'),
    ("null_column_vanishes", b'[{"id":1,"kind":"x","note":null},{"id":2,"kind":"x"}]',
     b'{"columns":["id"],"rows":[[1],[2]],"constants":{"kind":"x"}}'),
    ("first_appearance_order", b'[{"b":1,"a":1},{"a":2,"c":3,"b":2}]',
     b'{"columns":["b","a","c"],"rows":[[1,1,null],[2,2,3]],"constants":{}}'),
    ("disjoint_rows", b'[{"a":1},{"b":2}]', b'{"columns":["a","b"],"rows":[[1,null],[null,2]],"constants":{}}'),
    ("absent_in_first_row_not_constant", b'[{"a":1},{"a":1,"b":5},{"a":1,"b":5}]',
     b'{"columns":["b"],"rows":[[null],[5],[5]],"constants":{"a":1}}'),
    ("partly_null_stays", b'[{"a":null},{"a":1}]', b'{"columns":["a"],"rows":[[null],[1]],"constants":{}}'),
    ("null_in_one_row_not_constant", b'[{"a":1},{"a":null},{"a":1}]',
     b'{"columns":["a"],"rows":[[1],[null],[1]],"constants":{}}'),
    ("numbers_match_by_double", b'[{"n":1},{"n":1.0}]', b'{"columns":[],"rows":[[],[]],"constants":{"n":1}}'),
    ("constant_keeps_first_representation", b'[{"n":1.0},{"n":1}]',
     b'{"columns":[],"rows":[[],[]],"constants":{"n":1.0}}'),
    ("zero_matches_minus_zero", b'[{"n":0},{"n":-0}]', b'{"columns":[],"rows":[[],[]],"constants":{"n":0}}'),
    # Two integers match only when they are the same integer, even where
    # their doubles agree; any other pair of numbers matches by double.
    ("integers_rounding_alike_stay", b'[{"n":9007199254740993},{"n":9007199254740992}]',
     b'{"columns":["n"],"rows":[[9007199254740993],[9007199254740992]],"constants":{}}'),
    ("negative_integers_rounding_alike_stay", b'[{"n":-9007199254740993},{"n":-9007199254740992}]',
     b'{"columns":["n"],"rows":[[-9007199254740993],[-9007199254740992]],"constants":{}}'),
    ("snowflake_ids_stay", b'[{"id":1234567890123456789},{"id":1234567890123456790},{"id":1234567890123456788}]',
     b'{"columns":["id"],"rows":[[1234567890123456789],[1234567890123456790],[1234567890123456788]],'
     b'"constants":{}}'),
    ("same_largest_integer_constant", b'[{"n":18446744073709551615},{"n":18446744073709551615}]',
     b'{"columns":[],"rows":[[],[]],"constants":{"n":18446744073709551615}}'),
    ("integer_matches_float_it_rounds_to", b'[{"n":9007199254740993},{"n":9007199254740992.0}]',
     b'{"columns":[],"rows":[[],[]],"constants":{"n":9007199254740993}}'),
    ("negative_zero_matches_integer_zero", b'[{"n":-0},{"n":0}]',
     b'{"columns":[],"rows":[[],[]],"constants":{"n":-0.0}}'),
    ("nested_numbers_by_representation", b'[{"n":[1]},{"n":[1.0]}]',
     b'{"columns":["n"],"rows":[[[1]],[[1.0]]],"constants":{}}'),
    ("objects_match_in_any_order", b'[{"x":{"p":1,"q":2}},{"x":{"q":2,"p":1}}]',
     b'{"columns":[],"rows":[[],[]],"constants":{"x":{"p":1,"q":2}}}'),
    ("objects_holding_containers_match_in_any_order",
     b'[{"x":{"p":[1,{"r":"]"}],"q":{}}},{"x":{"q":{},"p":[1,{"r":"]"}]}},{"x":{"q":{},"p":[1,{"r":"}"}]}}]',
     b'{"columns":["x"],"rows":[[{"p":[1,{"r":"]"}],"q":{}}],[{"q":{},"p":[1,{"r":"]"}]}],'
     b'[{"q":{},"p":[1,{"r":"}"}]}]],"constants":{}}'),
    ("case_and_empty_names", b'[{"A":1,"a":2,"":3},{"A":2,"a":2,"":4}]',
     b'{"columns":["A",""],"rows":[[1,3],[2,4]],"constants":{"a":2}}'),
    ("number_against_string", b'[{"v":1},{"v":"1"}]', b'{"columns":["v"],"rows":[[1],["1"]],"constants":{}}'),
    ("duplicate_keys_first_position_last_value", b'[{"a":1,"b":2,"a":3}]',
     b'{"columns":["a","b"],"rows":[[3,2]],"constants":{}}'),
    ("escapes_rewritten", b'[{"s":"\\u00e9\\/\\u001F\\""}]',
     '{"columns":["s"],"rows":[["\u00e9/\\u001f\\""]],"constants":{}}'.encode()),
    ("float_layout", b'[{"f":1e2,"g":1E-7,"h":0.1},{"f":-0.0,"g":1e16,"h":2.5}]',
     b'{"columns":["f","g","h"],"rows":[[100.0,1e-7,0.1],[-0.0,1e+16,2.5]],"constants":{}}'),
    # Floats are converted fast, not correctly rounded: each of these reads a
    # unit or two away from the double nearest to its text, or flushes to 0.
    ("floats_converted_fast",
     b'[{"a":999999999999999.9,"b":12345678901234567.0,"c":1.23456789012345678e-300,"d":2.4703282292062328e-324,'
     b'"e":9007199254740993.0,"f":0.000000000000000000000000000001}]',
     b'{"columns":["a","b","c","d","e","f"],"rows":[[1000000000000000.0,1.2345678901234566e+16,'
     b'1.234567890123457e-300,0.0,9007199254740994.0,9.999999999999999e-31]],"constants":{}}'),
    # A rewritten float whose shortest text reads back as another double
    # still matches an integer by the double it was read as.
    # A float matches an integer by the double it was read as, even where
    # its shortest text, read again, would give a neighbour.
    ("rewritten_float_matches_by_the_double_read", b'[{"n":1854679518563690240},{"n":1854679518563690323.0}]',
     b'{"columns":[],"rows":[[],[]],"constants":{"n":1854679518563690240}}'),
    ("whitespace_everywhere", b' \t\r\n[ {"a" : 1 } ,\n{ "a":2}] \n',
     b'{"columns":["a"],"rows":[[1],[2]],"constants":{}}'),
    # Containers rewritten for their whitespace, escapes, floats and repeated
    # keys still match the same container in the writer's form.
    ("containers_rewritten", b'[{"o":{"b": [1, 2.50], "a":"\\u0041"}},{"o":{"a":"A","b":[1,2.5]}}]',
     b'{"columns":[],"rows":[[],[]],"constants":{"o":{"b":[1,2.5],"a":"A"}}}'),
    ("nested_repeated_key", b'[{"o":{"k":1,"j":[2],"k":3}},{"o":{"k":3,"j":[ 2 ]}, "p": [ ]}]',
     b'{"columns":["p"],"rows":[[null],[[]]],"constants":{"o":{"k":3,"j":[2]}}}'),
]


@pytest.mark.parametrize("payload, expected", [c[1:] for c in TRANSFORMS], ids=[c[0] for c in TRANSFORMS])
def test_transform(payload, expected):
    assert columnarize(payload) == expected


ERRORS = [
    ("empty", b"", "invalid row-oriented JSON: EOF while parsing a value at line 1 column 0"),
    ("whitespace_only", b"  \n ", "invalid row-oriented JSON: EOF while parsing a value at line 2 column 1"),
    ("trailing_characters", b"[] x", "invalid row-oriented JSON: trailing characters at line 1 column 4"),
    ("top_level_object", b"{}", "invalid row-oriented JSON: invalid type: map, expected a sequence at line 1 column 0"),
    ("top_level_null", b"null", "invalid row-oriented JSON: invalid type: null, expected a sequence at line 1 column 4"),
    ("top_level_float", b"1e2",
     "invalid row-oriented JSON: invalid type: floating point `100.0`, expected a sequence at line 1 column 3"),
    ("top_level_string", b'"ab"', 'invalid row-oriented JSON: invalid type: string "ab", expected a sequence at line 1 column 4'),
    ("unfinished", b"[1,", "invalid row-oriented JSON: EOF while parsing a value at line 1 column 3"),
    ("trailing_comma", b"[{},]", "invalid row-oriented JSON: trailing comma at line 1 column 5"),
    ("syntax_error_after_bad_row", b'[1, {"a":}]', "invalid row-oriented JSON: expected value at line 1 column 10"),
    ("bad_utf8", b'[{"a":"\xff"}]', "invalid row-oriented JSON: invalid unicode code point at line 1 column 9"),
    ("row_is_number", b'[{"a":1},2,{"a":1}]', "expected a JSON object row, got: 2"),
    ("row_is_null", b"[null]", "expected a JSON object row, got: null"),
    ("row_is_array", b'[{"a":1},[1,2]]', "expected a JSON object row, got: [1,2]"),
    ("row_is_string", b'["a\\"\\n\xc3\xa9"]', 'expected a JSON object row, got: "a\\"\\n\u00e9"'),
    ("row_is_float", b"[{},1.50]", "expected a JSON object row, got: 1.5"),
    ("row_is_long_integer", b"[-237462374673276894279832749832423479823246327846]",
     "expected a JSON object row, got: -2.3746237467327687e+47"),
    ("first_bad_row_reported", b"[true,false]", "expected a JSON object row, got: true"),
]


# Internal faults of the transform, provoked through the test build's hooks,
# reach the caller as RuntimeError like any refused payload. (Without
# contain's last-resort handler in transform_call.cpp the unknown one ends
# the process: checked once.)
INTERNAL_PANICS = [
    ("panic", b"!fault:transform:index out of range \xff",
     "internal panic during columnarization: index out of range \ufffd"),
    ("unknown_panic", b"!fault:transform-unknown:",
     "internal panic during columnarization: unknown panic in columnarize_json"),
]


@pytest.mark.parametrize("payload, message", [pytest.param(*c[1:], id=c[0]) for c in ERRORS] +
                         [pytest.param(*c[1:], id=c[0], marks=needs_hooks) for c in INTERNAL_PANICS])
def test_refused_payloads(payload, message):
    with pytest.raises(RuntimeError) as raised:
        columnarize(payload)
    assert type(raised.value) is RuntimeError
    assert raised.value.args == (message,)


def nested(depth):
    """A row object whose contents nest `depth` arrays and objects deep, the row included."""
    return '{"a":' + "[" * (depth - 1) + "]" * (depth - 1) + "}"


def test_nesting_limit_counts_the_outer_array():
    assert columnarize(f"[{nested(126)}]".encode()).startswith(b'{"columns":["a"]')
    with pytest.raises(RuntimeError, match=r"^invalid row-oriented JSON: recursion limit exceeded at line 1 column 132$"):
        columnarize(f"[{nested(127)}]".encode())


def test_min_rows_never_changes_the_result():
    payload = b'[{"a":1,"b":2},{"a":1,"b":3}]'
    assert {columnarize(payload, n) for n in (0, 1, 20, 1_000_000, 2**64 - 1)} == {columnarize(payload)}


def test_bytes_subclass_is_accepted():
    class Payload(bytes):
        pass

    assert columnarize(Payload(b'[{"a":1}]')) == b'{"columns":["a"],"rows":[[1]],"constants":{}}'


def test_output_reconstructs_the_rows():
    rows = [{"id": i, "name": f"n{i % 3}", "tags": ["x"] * (i % 2), "kind": "k", "gone": None} for i in range(50)]
    out = json.loads(columnarize(json.dumps(rows).encode()))
    rebuilt = [{**out["constants"], **dict(zip(out["columns"], cells))} for cells in out["rows"]]
    assert rebuilt == [{k: v for k, v in row.items() if v is not None} for row in rows]


@needs_hooks
def test_fault_outside_the_transform_raises_the_same_fault_class_every_time():
    raised = []
    for _ in range(2):
        with pytest.raises(BaseException) as caught:
            columnarize(b"!fault:entry:bad state \xff")
        raised.append(caught.value)
    first, second = raised
    assert type(first) is type(second)
    assert type(first).__qualname__ == "FaultException" and type(first).__module__ == "vornel_codec"
    assert type(first).__bases__ == (BaseException,)
    assert first.args == ("bad state \ufffd",)
    assert columnarize(b'[{"a":1}]') == b'{"columns":["a"],"rows":[[1]],"constants":{}}'


@needs_hooks
def test_fault_while_reporting_a_fault_aborts():
    script = "from vornel_codec import columnarize; columnarize(b'!fault:entry:!fault:reporting:')"
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert done.returncode == -signal.SIGABRT
    assert "vornel_codec: uncaught panic at ffi boundary\n" in done.stderr
