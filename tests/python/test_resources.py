"""Repeated calls, failing or not, leak neither memory nor references."""

import gc
import os
import sys

import vornel_codec
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
