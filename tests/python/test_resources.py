"""Repeated calls, failing or not, leak neither memory nor references."""

import gc
import json
import os
import re
import subprocess
import sys
import threading
from pathlib import Path

import pytest

import vornel_codec
from allocation_walk import PYTHON_WALKS, walk
from fault_hooks import built_with_hooks, needs_hooks
from test_arguments import ARGUMENT_ERRORS
from test_columnarize import ERRORS, INTERNAL_PANICS, TRANSFORMS
from vornel_codec import columnarize

CALLS = [
    ((b'[{"a":1,"b":"x"},{"a":1,"b":"y"}]',), {}),
    ((b'[{"a":1},2]',), {}),
    ((b"[1,",), {}),
    ((b'["\\ud800"]',), {}),
    (("[]",), {}),
    ((b"[]", -1), {}),
    ((), {"bogus": 1}),
    ((b"[]", 1, 2), {}),
]


def resident_kib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4


def run_all(times):
    for _ in range(times):
        for args, kwargs in CALLS:
            try:
                columnarize(*args, **kwargs)
            except (RuntimeError, TypeError, OverflowError):
                pass


def test_no_growth_over_many_calls():
    shared = [vornel_codec, columnarize, vornel_codec.__all__, CALLS[0][0][0]]
    run_all(2_000)
    gc.collect()
    counts = [sys.getrefcount(o) for o in shared]
    rss = resident_kib()
    run_all(20_000)
    gc.collect()
    assert [sys.getrefcount(o) for o in shared] == counts
    # AddressSanitizer holds freed memory in quarantine, so resident size
    # only means something without it.
    if "asan" not in os.environ.get("LD_PRELOAD", ""):
        assert resident_kib() - rss < 2_048


# Every outcome of a call: a few successes, each refused payload, each
# argument error, and the faults a test build can provoke.
OUTCOMES = (
    [pytest.param((payload,), {}, id=f"ok-{name}") for name, payload, _ in TRANSFORMS[:6]]
    + [pytest.param((payload,), {}, id=f"refused-{name}") for name, payload, _ in ERRORS]
    + [pytest.param(args, kwargs, id=f"argument-{name}") for name, args, kwargs, *_ in ARGUMENT_ERRORS]
    + [pytest.param((payload,), {}, id=f"panic-{name}", marks=needs_hooks) for name, payload, _ in INTERNAL_PANICS]
    + [pytest.param((b"!fault:entry:x",), {}, id="fault", marks=needs_hooks)]
)


@pytest.mark.skipif(not hasattr(sys, "gettotalrefcount"), reason="needs a debug interpreter")
@pytest.mark.parametrize("args, kwargs", OUTCOMES)
def test_total_reference_count_is_unchanged(args, kwargs):
    """Counts every reference, also those taken on objects that live forever
    (types, the module, cached classes), which the release check above cannot
    see. One reference leaked per call shows as a thousand. (Checked once to
    fail by dropping the release of the message in the boundary's
    RuntimeError.)"""
    def call_many(times):
        for _ in range(times):
            try:
                columnarize(*args, **kwargs)
            except BaseException:
                pass

    call_many(100)
    gc.collect()
    before = sys.gettotalrefcount()
    call_many(1_000)
    gc.collect()
    assert sys.gettotalrefcount() - before < 50


EXHAUSTION_SCRIPT = r"""
import resource
from vornel_codec import columnarize

# A million rows need 16 MB of cell records and 23 MB of output: far more
# than the 8 MB of address space left to the call.
payload = b"[" + b",".join([b'{"k":[1,2,3,4,5,6,7,8]}'] * 1_000_000) + b"]"
with open("/proc/self/statm") as statm:
    in_use = int(statm.read().split()[0]) * resource.getpagesize()
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
resource.setrlimit(resource.RLIMIT_AS, (in_use + 8 * 2**20, hard))
try:
    columnarize(payload)
    print("no error")
except MemoryError:
    print("MemoryError")
resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
print(columnarize(b'[{"a":1}]').decode())
"""


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                    reason="the sanitizer's shadow memory needs more address space than any limit leaves")
@pytest.mark.skipif(os.environ.get("VORNEL_EMULATED") == "1",
                    reason="qemu's user-mode emulation ignores the address-space limit of the program it runs")
def test_exhausted_memory_raises_memory_error_and_the_interpreter_survives():
    done = subprocess.run([sys.executable, "-c", EXHAUSTION_SCRIPT], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == ["MemoryError", '{"columns":["a"],"rows":[[1]],"constants":{}}']


def one_key_per_row(rows):
    """Rows that each bring their own key: the output pads rows x columns with nulls."""
    return b"[" + b",".join(b'{"k%d":1}' % i for i in range(rows)) + b"]"


def test_absurd_outputs_are_refused_before_they_are_allocated():
    payload = one_key_per_row(8_000)  # 100 kB asking for 320 MB
    rows = 8_000
    expected = 39 + rows * (len(b'"k0",') + 2 + 1) + rows * rows * 5  # an upper bound is enough below
    failures = []

    def call():
        try:
            columnarize(payload)
        except MemoryError as error:
            failures.append(str(error))

    threads = [threading.Thread(target=call) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert len(failures) == 4 and len(set(failures)) == 1, failures
    size, payload_size = map(int, re.fullmatch(r"columnar output would be (\d+) bytes for a payload of (\d+) bytes",
                                               failures[0]).groups())
    assert payload_size == len(payload) and 256 * 2**20 < size < expected
    # The interpreter goes on, and a wide table within the limits still works.
    wide = one_key_per_row(2_000)  # 25 kB to 20 MB: far beyond 64 times, but under 256 MiB
    out = columnarize(wide)
    assert len(out) > 64 * len(wide) and out.endswith(b'"constants":{}}')


# ---- Every allocation of a call failing in turn (allocation_walk.py) ------

def long_rows(rows, tail=b"]"):
    """Rows of one long string each, all different, with an escape that the
    writer writes otherwise: the rewritten texts and the output pass 2 MiB,
    where blocks are mapped from the system rather than taken from malloc."""
    row = b'{"s":"\\/%d' + b"x" * 60_000 + b'"}'
    return b"[" + b",".join(row % i for i in range(rows)) + tail


# Payloads of every shape: each transform and refusal of the tables, rows
# padded into an output longer than the result first allocated (which is
# then allocated again at its length), the internal faults a test build
# provokes (whose report may run out of memory too), and one payload large
# enough for mapped blocks. The last two are
# walked for the module's C++ code alone: the large payload's Python
# allocations are those of every payload, and a fault outside the transform
# ends the process by design when its exception class cannot be created.
CPP = {"cpp", "cpp-persistent"}
WALKED_PAYLOADS = (
    [(f"ok-{name}", payload, CPP | {"python"}) for name, payload, _ in TRANSFORMS]
    + [(f"refused-{name}", payload, CPP | {"python"}) for name, payload, _ in ERRORS]
    + [("ok-padded", one_key_per_row(30), CPP | {"python"})]
    + [(f"panic-{name}", payload, CPP | {"python"}) for name, payload, _ in INTERNAL_PANICS]
    + [("fault-entry", b"!fault:entry:a fault outside the transform", CPP), ("ok-long-rewritten", long_rows(40), {"cpp"})]
)


@pytest.fixture(scope="module")
def walked():
    """Walks every payload in allocation_walk.py, in a process of its own, in
    each mode this build and interpreter have."""
    modes = (["cpp", "cpp-persistent"] if built_with_hooks() else []) + (["python"] if PYTHON_WALKS else [])
    if not modes:
        pytest.skip("needs a build with VORNEL_TEST_HOOKS, or CPython 3.14 or later with _testcapi")
    payloads = [[case, payload.decode("latin-1"), [mode for mode in modes if mode in walked_in]]
                for case, payload, walked_in in WALKED_PAYLOADS]
    env = dict(os.environ)
    if "asan" in env.get("LD_PRELOAD", ""):  # the walk's process leaks nothing, unlike the whole suite's
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "").replace("detect_leaks=0", "") + ":detect_leaks=1"
    done = subprocess.run([sys.executable, str(Path(__file__).with_name("allocation_walk.py"))],
                          input=json.dumps({"payloads": payloads}), env=env, capture_output=True, text=True,
                          timeout=1200)
    assert done.returncode == 0, done.stderr[-6000:]
    return json.loads(done.stdout)


def test_every_allocation_of_a_call_failing_in_turn(walked):
    """Each allocation of each payload's call fails in turn, in the module's
    C++ code (one, or every one from it on) and in the interpreter: the call
    raises MemoryError or comes out as without failures, and the next call
    comes out right. In the sanitized build LeakSanitizer checks the walk's
    process, and on a debug interpreter the module's own failures are walked
    again with the total reference count watched. (Checked once to fail by
    keeping the result object when the transform ran out of memory, on the
    debug interpreter, and by leaking the row reader's plan state when it
    throws, under LeakSanitizer.)"""
    problems = [(case, mode, problem) for case, walks in walked.items() for mode, found in walks.items()
                for problem in found["problems"]]
    assert not problems
    # A walk that never failed an allocation of the call would prove nothing.
    assert not [(case, mode) for case, walks in walked.items() for mode, found in walks.items()
                if found["steps"] == 0 and not found["crashes"]]


# An allocation that fails inside a noexcept function ends the process
# (std::terminate) instead of raising MemoryError: the walk's forked steps
# report such an end rather than dying with it.
def test_no_allocation_failure_ends_the_process(walked):
    crashes = [(case, mode, found["crashes"]) for case, walks in walked.items() for mode, found in walks.items()
               if found["crashes"]]
    assert not crashes, crashes[:3]


@pytest.mark.skipif(not PYTHON_WALKS, reason="needs CPython 3.14 or later with _testcapi")
@pytest.mark.parametrize("args, kwargs", [pytest.param(args, kwargs, id=name) for name, args, kwargs, *_ in ARGUMENT_ERRORS])
def test_every_interpreter_allocation_of_an_argument_error_failing_in_turn(args, kwargs):
    """The same walk, in this process, over the argument errors (whose
    arguments are objects of this suite's own classes)."""
    steps, problems = walk("python", args, kwargs)
    assert not problems
    assert steps > 0
