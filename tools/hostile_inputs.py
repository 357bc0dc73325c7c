#!/usr/bin/env python3.15
"""Feeds hostile payloads to columnarize, each in a fresh process, and reports
the outcome, the time and the peak resident memory of each. The cases marked
"x4" run the same call from four threads at once.

    .deps/python3.15/usr/bin/python3.15 tools/hostile_inputs.py [--build build/python]

Exits non-zero when a case crashes the interpreter or raises anything other
than the exception it should.
"""

import argparse
import os
import subprocess
import sys
import time

MB = 1 << 20


def deep_row(depth):
    return '{"a":' + "[" * (depth - 1) + "]" * (depth - 1) + "}"


# Rows that each bring their own key: the null padding grows with rows x columns.
OWN_KEYS = "b'[' + b','.join(b'{{\"k%d\":1}}' % i for i in range({})) + b']'"
REFUSED = "MemoryError: columnar output would be"

# name -> (source of an expression building the payload, expected outcome prefix)
CASES = {
    "20k rows, a key each (2 GB of output)": (OWN_KEYS.format(20_000), REFUSED),
    "20k rows, a key each, x4": (OWN_KEYS.format(20_000), REFUSED),
    "100k rows, a key each (50 GB of output)": (OWN_KEYS.format(100_000), REFUSED),
    "100k rows, a key each, x4": (OWN_KEYS.format(100_000), REFUSED),
    "5k rows, a key each (125 MB: wide but sane)": (OWN_KEYS.format(5_000), "ok"),
    "5k rows, a key each, x4": (OWN_KEYS.format(5_000), "ok"),
    "100 MB of '['": ("b'[' * (100 * MB)", "RuntimeError: invalid row-oriented JSON: recursion limit exceeded"),
    "64 MB string": ("b'[{\"s\":\"' + b'x' * (64 * MB) + b'\"}]'", "ok"),
    "64 MB string of escapes": ("b'[{\"s\":\"' + b'\\\\n' * (32 * MB) + b'\"}]'", "ok"),
    "a million keys in one object": (
        "b'[{' + b','.join(b'\"k%d\":%d' % (i, i) for i in range(1_000_000)) + b'}]'", "ok"),
    "a million empty rows": ("b'[' + b','.join([b'{}'] * 1_000_000) + b']'", "ok"),
    "65536 two-byte keys, 20 rows": (
        "b'[' + b','.join([b'{' + b','.join(b'\"' + bytes([0x41 + i // 256 % 26, 0x41 + i % 26]) + b'%d\":1' % i"
        " for i in range(65536)) + b'}'] * 20) + b']'", "ok"),
    "10k rows nested to the limit": ("('[' + ','.join([deep_row(126)] * 10_000) + ']').encode()", "ok"),
    "10k rows one level too deep": (
        "('[' + ','.join([deep_row(126)] * 9_999 + [deep_row(127)]) + ']').encode()",
        "RuntimeError: invalid row-oriented JSON: recursion limit exceeded"),
}
BAD_UTF8 = {
    "lone continuation": b"\x80",
    "truncated 2-byte": b"\xc3",
    "truncated 4-byte": b"\xf0\x9f\x98",
    "overlong '/'": b"\xc0\xaf",
    "encoded surrogate": b"\xed\xa0\x80",
    "above U+10FFFF": b"\xf4\x90\x80\x80",
    "0xFF": b"\xff",
}
for label, bad in BAD_UTF8.items():
    for where, template in (("key", b'[{"a%sb":1}]'), ("value", b'[{"a":"x%s"}]'), ("after escape", b'[{"a":"\\n%s"}]')):
        CASES[f"invalid UTF-8, {label}, in {where}"] = (
            repr(template.replace(b"%s", bad)), "RuntimeError: invalid row-oriented JSON: invalid unicode code point")

CHILD = r"""
import resource, sys, threading, time
sys.path.insert(0, sys.argv[1])
from vornel_codec import columnarize
MB = 1 << 20
def deep_row(depth):
    return '{"a":' + "[" * (depth - 1) + "]" * (depth - 1) + "}"
payload = eval(sys.argv[2])
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
outcomes = []
def call():
    try:
        columnarize(payload)
        outcomes.append("ok")
    except Exception as error:
        outcomes.append(f"{type(error).__name__}: {error}")
start = time.perf_counter()
threads = [threading.Thread(target=call) for _ in range(int(sys.argv[3]))]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
elapsed = time.perf_counter() - start
# The interpreter goes on to a normal call.
assert columnarize(b'[{"a":1}]') == b'{"columns":["a"],"rows":[[1]],"constants":{}}'
outcome = outcomes[0] if len(set(outcomes)) == 1 else f"differing outcomes {set(outcomes)}"
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print(len(payload), before, peak, elapsed, outcome[:300], sep="\t")
"""


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--build", default=os.path.join(root, "build", "python"))
    args = parser.parse_args()

    failures = 0
    print(f"| case | payload MB | outcome | seconds | peak RSS MB | growth MB |")
    print(f"|---|---:|---|---:|---:|---:|")
    for name, (source, expected) in CASES.items():
        threads = "4" if name.endswith("x4") else "1"
        run = subprocess.run([sys.executable, "-c", CHILD, args.build, source, threads], capture_output=True, text=True)
        if run.returncode != 0:
            failures += 1
            print(f"| {name} | | CRASHED (exit {run.returncode}): {run.stderr.strip()[-200:]} | | | |")
            continue
        size, before, peak, elapsed, outcome = run.stdout.rstrip("\n").split("\t")
        if not outcome.startswith(expected):
            failures += 1
            outcome = f"UNEXPECTED {outcome}"
        print(f"| {name} | {int(size) / MB:.1f} | {outcome[:90]} | {float(elapsed):.2f} | "
              f"{int(peak) / 1024:.0f} | {(int(peak) - int(before)) / 1024:.0f} |")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
