"""The transform runs without the interpreter lock, and threads never interfere."""

import json
import threading

from vornel_codec import columnarize


def payload(rows, tag):
    return json.dumps([{"id": i, "tag": tag, "text": "x" * (i % 50), "n": i * 0.5} for i in range(rows)]).encode()


def test_other_threads_run_during_a_call():
    big = payload(300_000, "big")
    counter = 0
    stop = threading.Event()

    def spin():
        nonlocal counter
        while not stop.is_set():
            counter += 1

    spinner = threading.Thread(target=spin)
    spinner.start()
    try:
        progress = []
        for _ in range(3):
            before = counter
            columnarize(big)
            progress.append(counter - before)
    finally:
        stop.set()
        spinner.join()
    # A call that held the lock would leave the spinner at a standstill.
    assert max(progress) > 10_000, progress


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
