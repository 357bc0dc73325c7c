"""The transform runs without the interpreter lock, and threads never interfere."""

import json
import os
import sys
import threading
import time

from vornel_codec import columnarize


def payload(rows, tag):
    return json.dumps([{"id": i, "tag": tag, "text": "x" * (i % 50), "n": i * 0.5} for i in range(rows)]).encode()


def test_other_threads_run_during_a_call():
    """Only progress stamped while a call runs counts. With a switch interval
    longer than the test, the interpreter never takes the lock from a thread
    on its own, so the spinner runs only when a thread gives the lock up: a
    call that kept it would leave no stamp inside any call. The spinner
    gives the lock back after each stamp, so that a call ends at once.

    To see this test fail, run it against a module built with the CMake
    option VORNEL_TEST_KEEP_LOCK=ON, which keeps the lock through the
    transform (the README shows the three commands)."""
    # Under emulation (VORNEL_TEST_SCALE=0.1) a tenth of the rows take as long.
    big = payload(round(300_000 * float(os.environ.get("VORNEL_TEST_SCALE", "1"))), "big")
    stamps = []
    stop = threading.Event()

    def spin():
        while not stop.is_set():
            for _ in range(1_000):
                pass
            stamps.append(time.perf_counter())
            time.sleep(0)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(30.0)
    spinner = threading.Thread(target=spin)
    windows = []
    try:
        spinner.start()
        for _ in range(3):
            start = time.perf_counter()
            columnarize(big)
            windows.append((start, time.perf_counter()))
    finally:
        stop.set()
        spinner.join()
        sys.setswitchinterval(interval)
    during = [sum(start < t < end for t in stamps) for start, end in windows]
    assert max(during) > 0, during


def test_concurrent_calls_give_the_single_threaded_results():
    payloads = [payload(2_000 + 100 * k, f"t{k}") for k in range(4)]
    expected = [columnarize(p) for p in payloads]
    failures = []

    def work(k):
        for _ in range(25):
            if columnarize(payloads[k]) != expected[k]:
                failures.append(k)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []
