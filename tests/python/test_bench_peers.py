"""The Python transforms that bench/compare.py measures columnarize against
compute the same document: equal output, as parsed JSON, on integer-only
payloads (floats left out so that each library's float text does not matter).
"""

import json
import sys
from pathlib import Path

import pytest

pytest.importorskip("orjson")
pytest.importorskip("msgspec")
pytest.importorskip("ujson")

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))

import compare  # noqa: E402
import payloads  # noqa: E402
import vornel_codec  # noqa: E402
from hypothesis import given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402


def canonical(doc: bytes) -> str:
    # member order kept; 1, 1.0 and true stay distinct
    return json.dumps(json.loads(doc), separators=(",", ":"), ensure_ascii=False)


def assert_peers_agree(payload: bytes) -> None:
    want = canonical(vornel_codec.columnarize(payload))
    for name, peer in compare.PEERS.items():
        assert canonical(peer(payload)) == want, name


@pytest.mark.parametrize("shape", payloads.SHAPES)
@pytest.mark.parametrize("rows", [0, 1, 2, 30])
def test_generated_shapes(shape, rows):
    assert_peers_agree(payloads.make(shape, rows, seed=3, ints_only=True))


def test_generators_are_seeded():
    for shape in payloads.SHAPES:
        assert payloads.make(shape, 5, seed=9) == payloads.make(shape, 5, seed=9)
        assert payloads.make(shape, 5, seed=9) != payloads.make(shape, 5, seed=10)


@pytest.mark.parametrize("doc", [
    [{"a": 1, "b": 2}, {"a": 1, "b": 3}],
    [{"a": 1}, {"a": 1.0}],                           # numbers match as floats
    [{"a": 1}, {"a": True}],                          # true is not a number
    [{"a": True}, {"a": True}],
    [{"a": {"x": 1, "y": [1, 2]}}, {"a": {"y": [1, 2], "x": 1}}],   # member order
    [{"a": {"x": 1}}, {"a": {"x": 1.0}}],             # nested: 1 differs from 1.0
    [{"a": [1]}, {"a": [True]}],
    [{"a": None, "b": 1}, {"b": 2}],                  # null or absent everywhere
    [{"a": 5}, {"b": 1}, {"a": 5, "b": 1}],           # absent counts as null
    [{"a": None}, {"a": None}, {"a": 1}],
    [{"a": 1}],                                       # one row: no constants
    [{}, {}],
    [],
    [{"a": "x", "b": "x"}, {"b": "x", "a": "x"}],
    [{"a": [], "b": {}}, {"a": [], "b": {}}],
    [{"a": 9007199254740993}, {"a": 9007199254740992}],   # distinct integers, one double
    [{"a": 9007199254740993}, {"a": 9007199254740992.0}],  # an integer and the float it rounds to
])
def test_cases(doc):
    assert_peers_agree(json.dumps(doc).encode())


_ints = st.integers(-(2 ** 63), 2 ** 63 - 1)
_leaf = st.one_of(st.none(), st.booleans(), _ints, st.sampled_from(["", "x", "é", "a\"b"]))
_value = st.recursive(_leaf, lambda inner: st.one_of(
    st.lists(inner, max_size=3),
    st.dictionaries(st.sampled_from("pqr"), inner, max_size=3)), max_leaves=6)
_row = st.dictionaries(st.sampled_from(["a", "b", "c", "d", "é"]),
                       st.one_of(_value, st.sampled_from([0, 1, True, None, "k"])), max_size=5)


@settings(max_examples=200, deadline=None)
@given(st.lists(_row, max_size=6))
def test_random_documents(doc):
    assert_peers_agree(json.dumps(doc, ensure_ascii=False).encode())
