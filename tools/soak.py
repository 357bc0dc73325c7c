#!/usr/bin/env python3.15
"""Leak, reference and thread soak for columnarize.

    .deps/python3.15/usr/bin/python3.15 tools/soak.py [--calls 1000000] [--build build/python]

1. Calls columnarize CALLS times over a mix of valid payloads, every failure
   class of the reader and the transform, and every argument error; resident
   memory and the reference counts of the payloads and of the module's shared
   objects must stay flat.
2. Four threads call columnarize on different payloads a fixed number of
   times each; every result must equal the single-threaded result byte for
   byte.
"""

import argparse
import gc
import json
import os
import sys
import threading
import time

VALID = [
    b'[{"a":1,"b":"x"},{"a":1,"b":"y"}]',
    json.dumps([{"id": i, "name": f"n\u00e9{i}", "v": i * 0.25, "c": "k", "z": None} for i in range(200)]).encode(),
    b"[]",
    b"[{},{}]",
]
READER_FAILURES = [
    b"", b"  ", b"[", b"[1,", b"[1,]", b"[1 2]", b"[nul]", b"[01]", b"[1e400]", b"[] x", b"{}", b"null", b"12",
    b'"ab"', b"[{1:2}]", b'[{"a" 1}]', b'[{"a":1,}]', b'["\\x"]', b'["\\udc00"]', b'["\\ud800"]', b'["\xff"]',
    b'["a\n"]', b"[" * 200, b'["\\u12"]',
]
ROW_FAILURES = [b"[1]", b"[null]", b'[{"a":1},"s"]', b"[[1,2]]"]
ARGUMENT_ERRORS = [
    ((), {}), ((b"[]", 1, 2), {}), ((b"[]",), {"bogus": 1}), ((b"[]",), {"payload": b"[]"}), (("[]",), {}),
    ((None,), {}), ((b"[]", -1), {}), ((b"[]", 1.5), {}), ((b"[]",), {"a\udc80": 1}),
]


def resident_kib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def one_round(columnarize):
    for payload in VALID:
        columnarize(payload)
    for payload in READER_FAILURES + ROW_FAILURES:
        try:
            columnarize(payload)
        except RuntimeError:
            pass
    for args, kwargs in ARGUMENT_ERRORS:
        try:
            columnarize(*args, **kwargs)
        except (TypeError, OverflowError):
            pass


def leak_soak(vornel_codec, calls):
    per_round = len(VALID) + len(READER_FAILURES) + len(ROW_FAILURES) + len(ARGUMENT_ERRORS)
    rounds = max(1, calls // per_round)
    watched = [vornel_codec, vornel_codec.columnarize, vornel_codec.__all__, *VALID, *READER_FAILURES]
    warmup = max(1, rounds // 10)
    for _ in range(warmup):
        one_round(vornel_codec.columnarize)
    gc.collect()
    counts = [sys.getrefcount(o) for o in watched]
    rss_before = resident_kib()
    start = time.perf_counter()
    for _ in range(rounds):
        one_round(vornel_codec.columnarize)
    elapsed = time.perf_counter() - start
    gc.collect()
    rss_after = resident_kib()
    drift = [a - b for a, b in zip((sys.getrefcount(o) for o in watched), counts)]
    ok = not any(drift) and rss_after - rss_before < 4096
    print(f"leak soak: {rounds * per_round} calls in {elapsed:.1f} s; resident {rss_before} -> {rss_after} KiB; "
          f"reference drift {max(map(abs, drift))}: {'ok' if ok else 'FAILED'}")
    return ok


def thread_soak(columnarize, calls_per_thread):
    payloads = [json.dumps([{"t": t, "i": i, "s": "x" * (i % 40), "f": i / 7} for i in range(1000 + 250 * t)]).encode()
                for t in range(4)]
    expected = [columnarize(p) for p in payloads]
    mismatches = [0] * 4

    def work(t):
        for _ in range(calls_per_thread):
            if columnarize(payloads[t]) != expected[t]:
                mismatches[t] += 1

    threads = [threading.Thread(target=work, args=(t,)) for t in range(4)]
    start = time.perf_counter()
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    elapsed = time.perf_counter() - start
    ok = not any(mismatches)
    print(f"thread soak: 4 threads x {calls_per_thread} calls in {elapsed:.1f} s; mismatches {mismatches}: "
          f"{'ok' if ok else 'FAILED'}")
    return ok


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--calls", type=int, default=1_000_000)
    parser.add_argument("--thread-calls", type=int, default=2_000)
    parser.add_argument("--build", default=os.path.join(root, "build", "python"))
    args = parser.parse_args()
    sys.path.insert(0, args.build)
    import vornel_codec

    ok = leak_soak(vornel_codec, args.calls)
    ok = thread_soak(vornel_codec.columnarize, args.thread_calls) and ok
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
