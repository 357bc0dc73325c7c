"""Random payloads against a reference transform written in Python."""

import json
import random

from hypothesis import given, settings, strategies as st

from vornel_codec import columnarize

# Integers around 2^53, where distinct integers share a double, and a few
# floats that every writer spells alike and the reader reads exactly. No
# lone surrogates: they cannot be encoded as UTF-8.
text = st.text(st.characters(exclude_categories=["Cs"]), max_size=8)
near_2_53 = st.integers(2**53 - 2, 2**53 + 2)
exact_floats = st.sampled_from([2.0**53, 2.0**52, 1.0, 0.0, -0.0])
scalars = st.none() | st.booleans() | st.integers(-(2**63), 2**64 - 1) | near_2_53 | exact_floats | text
values = st.recursive(scalars, lambda inner: st.lists(inner, max_size=4) | st.dictionaries(text, inner, max_size=4),
                      max_leaves=12)
names = st.sampled_from(["id", "a", "B", "", "é", "na\u0000me", "x/y", 'q"'])
rows = st.lists(st.dictionaries(names, values, max_size=6), max_size=12)


def same(a, b):
    """Equality that keeps kinds and representations apart (True is not 1)."""
    if type(a) is not type(b):
        return False
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return a.keys() == b.keys() and all(same(v, b[k]) for k, v in a.items())
    return a == b


def is_number(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def matches(candidate, reference):
    """Top-level numbers match by double, except two integers, which must be the same integer."""
    if not (is_number(candidate) and is_number(reference)):
        return same(candidate, reference)
    if isinstance(candidate, int) and isinstance(reference, int):
        return candidate == reference
    return float(candidate) == float(reference)


def reference_transform(row_list):
    columns = list(dict.fromkeys(name for row in row_list for name in row))
    columns = [c for c in columns if any(row.get(c) is not None for row in row_list)]
    constants = {}
    if len(row_list) >= 2:
        for c in columns:
            first = row_list[0].get(c)
            if all(matches(row.get(c), first) for row in row_list):
                constants[c] = first
    columns = [c for c in columns if c not in constants]
    return {"columns": columns, "rows": [[row.get(c) for c in columns] for row in row_list], "constants": constants}


def compact(document):
    return json.dumps(document, ensure_ascii=False, separators=(",", ":")).encode()


@settings(max_examples=400, deadline=None)
@given(rows)
def test_matches_reference_transform_byte_for_byte(row_list):
    assert columnarize(compact(row_list)) == compact(reference_transform(row_list))


@settings(max_examples=200, deadline=None)
@given(values)
def test_any_value_round_trips_through_a_cell(value):
    """Read then written, every value comes out as its compact text."""
    if value is None:
        return
    assert columnarize(compact([{"v": value}])) == b'{"columns":["v"],"rows":[[' + compact(value) + b"]],\"constants\":{}}"


def mutations(seed, count):
    rng = random.Random(seed)
    base = compact([{"id": i, "name": f"n\u00e9{i}", "tags": [i, None, True], "meta": {"k": "v\n"}} for i in range(6)])
    for _ in range(count):
        data = bytearray(base)
        for _ in range(rng.randint(1, 4)):
            position = rng.randrange(len(data))
            action = rng.randrange(3)
            if action == 0:
                data[position] = rng.randrange(256)
            elif action == 1:
                del data[position]
            else:
                data.insert(position, rng.choice(b'[]{}",:\\ 0-e.tfn\xff\xc3'))
        yield bytes(data)


def test_mutated_payloads_give_bytes_or_runtime_error():
    for payload in mutations(seed=20261209, count=5000):
        try:
            out = columnarize(payload)
        except RuntimeError as error:
            message = str(error)
            assert message.startswith(("invalid row-oriented JSON: ", "expected a JSON object row, got: "))
        else:
            json.loads(out)  # well-formed whenever accepted
