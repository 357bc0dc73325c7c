"""Side-by-side benchmark: vornel_codec.columnarize against the same transform
written in Python over the common JSON libraries, and against another build
of the module.

    .deps/python3.15/usr/bin/python3.15 bench/compare.py            # full run, ~10 min
    .deps/python3.15/usr/bin/python3.15 bench/compare.py --quick    # ~1 min
    .deps/python3.15/usr/bin/python3.15 bench/compare.py --rows 1000,10000 --shapes api,logs
    .deps/python3.15/usr/bin/python3.15 bench/compare.py --previous /tmp/prev/build/python/vornel_codec.*.so

The module is imported from build/python (after `tools/test` or
`cmake --build build --target vornel_codec`) unless PYTHONPATH already
provides it. Writes docs/benchmarks.md and docs/benchmarks.json (directory
set by --out); the chart is drawn from the JSON file by a separate step:

    /usr/bin/python3 bench/plot_benchmarks.py docs/benchmarks.json docs/benchmarks.png

What is measured
----------------
* peers: the transform as a careful Python programmer writes it (below, in
  ``columnarize_rows``) over the standard ``json`` module, orjson, msgspec and
  ujson; each library's bare floor ``dumps(loads(x))``; and
  ``vornel_codec.columnarize``. Before any timing, every peer's output is
  checked to equal columnarize's, as parsed JSON, on integer-only payloads of
  every shape (floats are left out there so that the check does not depend on
  how each library formats them). On the timed payloads, floats included,
  the outputs are compared as parsed values and any difference is reported
  as a note.
* previous: with ``--previous PATH``, the columnarize of another build of the
  module (an extension file built from an older commit), loaded beside the
  current one and measured wherever columnarize is; a note reports any
  payload where its output differs from columnarize's by a byte.
* throughput: MB/s of input (10**6 bytes), median of interleaved repetitions
  (each repetition runs every implementation once, in a rotating order), with
  the ratio of columnarize to the fastest peer transform, to the fastest
  floor of the same run and to previous; generated payloads of every shape at
  20, 100, 1,000 and 10,000 rows, and the real-world files.
* per call: the time of one call on `[]` and on a 20-row payload of three
  keys, the fixed cost that small tool results pay, beside each engine's and
  each library's bare round trip of the same bytes (best of repeated runs).
* anchors: with ``--anchors PATH``, the C++ layer benchmark's results
  (``bench/layers`` writes them to build/layers.json): the transform's plan +
  write beside yyjson's read + write and simdjson's parse + minify of the
  same documents, the physical limits of reading and writing JSON.
* threads: one thread against two threads calling at once on the 10,000-row
  payloads; speedup = 2*T1/T2 (2.0 = perfect scaling, 1.0 = serialised).
  hashlib.sha256 over the same bytes, which runs without the interpreter lock,
  is the control.
* the interpreter lock, on the 10,000-row payloads: how much progress a
  pure-Python thread spinning beside a stream of calls keeps, against its
  progress alone (``spinner_progress``; the best peer transform, which holds
  the lock throughout, and sha256, which never takes it back while it
  hashes, for contrast); how long each call still holds the
  lock, an upper bound seen from a spinner thread (``lock_held``); and what a
  busy Python thread beside the calls costs each of them in getting the lock
  back (the calls' median time beside it against alone).
* memory: growth of peak resident memory during one call on 100,000-row
  payloads of every shape (``--memory-rows``), each implementation in a
  fresh process (bench/memory_probe.py), as a multiple of the input size,
  and for columnarize and previous the growth beyond the output's own size.

The garbage collector stays enabled, as in the programs that would call this.
"""

from __future__ import annotations

import argparse
import bisect
import datetime
import gc
import hashlib
import importlib.util
import json
import math
import os
import platform
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from functools import partial
from itertools import chain, repeat
from operator import eq, is_, is_not, itemgetter
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent
sys.path.insert(0, str(HERE))

import payloads  # noqa: E402

import msgspec  # noqa: E402
import orjson  # noqa: E402
import ujson  # noqa: E402

try:
    import vornel_codec  # noqa: E402
except ImportError:
    sys.path.insert(1, str(ROOT / "build" / "python"))
    try:
        import vornel_codec  # noqa: E402
    except ImportError as exc:  # reported by main(); the peers still work
        vornel_codec = None
        VORNEL_IMPORT_ERROR = str(exc)


# --------------------------------------------------------------------------
# The transform in Python, shared by every peer.

_MISSING = object()
_NUMBER_TYPES = (int, float)
_is_not_none = partial(is_not, None)
_get = dict.get


def _same(a, b) -> bool:
    """Structural equality where 1, 1.0 and true all differ and objects are
    equal regardless of member order."""
    t = type(a)
    if t is not type(b):
        return False
    if t is dict:
        if len(a) != len(b):
            return False
        get = b.get
        for k, v in a.items():
            w = get(k, _MISSING)
            if w is _MISSING or not _same(v, w):
                return False
        return True
    if t is list:
        return len(a) == len(b) and all(map(_same, a, b))
    return a == b


def _all_match(first, values) -> bool:
    """Whether every value matches `first` (not null): numbers by their float
    values, except that two integers must be the same integer; anything else
    strictly. Stops at the first mismatch."""
    t = type(first)
    if t is str:
        return all(map(partial(eq, first), values))       # a str equals only a str
    if t is bool:
        return all(map(partial(is_, first), values))      # true and false are singletons
    if t is int:
        f = float(first)
        return all(v == first if type(v) is int else type(v) is float and v == f for v in values)
    if t is float:
        return all(type(v) in _NUMBER_TYPES and type(v) is not bool and float(v) == first
                   for v in values)
    return all(map(partial(_same, first), values))


def columnarize_rows(rows) -> dict:
    """The row-to-column transform on parsed JSON."""
    if type(rows) is not list:
        raise ValueError("the document is not an array")
    if rows and set(map(type, rows)) != {dict}:
        raise ValueError("the array holds something other than objects")
    n = len(rows)
    names = list(dict.fromkeys(chain.from_iterable(rows)))  # first appearance
    keep, constants = [], {}
    first_row = rows[0] if rows else {}
    for name in names:
        first = first_row.get(name)
        column = map(_get, rows, repeat(name))              # absent -> None
        if first is None:
            # null or absent in the first row: never constant; dropped when
            # nothing in the column is set
            if not any(map(_is_not_none, column)):
                continue
        elif n >= 2 and _all_match(first, column):
            constants[name] = first
            continue
        keep.append(name)
    template = dict.fromkeys(names)                         # every name, None
    if len(keep) == len(names):
        out = [list((template | r).values()) for r in rows]
    elif len(keep) > 1:
        pick = itemgetter(*keep)
        out = [list(pick(template | r)) for r in rows]
    elif keep:
        name = keep[0]
        out = [[r.get(name)] for r in rows]
    else:
        out = [[] for _ in rows]
    return {"columns": keep, "rows": out, "constants": constants}


# --------------------------------------------------------------------------
# The implementations: name -> (label, kind, function bytes -> bytes)

_json_encode = json.JSONEncoder(separators=(",", ":"), ensure_ascii=False).encode
_json_decode = json.loads
_msgspec_decode = msgspec.json.Decoder().decode
_msgspec_encode = msgspec.json.Encoder().encode


def _ujson_dumps(obj) -> bytes:
    return ujson.dumps(obj, ensure_ascii=False, escape_forward_slashes=False).encode()


def json_transform(payload: bytes) -> bytes:
    return _json_encode(columnarize_rows(_json_decode(payload))).encode()


def orjson_transform(payload: bytes) -> bytes:
    return orjson.dumps(columnarize_rows(orjson.loads(payload)))


def msgspec_transform(payload: bytes) -> bytes:
    return _msgspec_encode(columnarize_rows(_msgspec_decode(payload)))


def ujson_transform(payload: bytes) -> bytes:
    return _ujson_dumps(columnarize_rows(ujson.loads(payload)))


def json_floor(payload: bytes) -> bytes:
    return _json_encode(_json_decode(payload)).encode()


def orjson_floor(payload: bytes) -> bytes:
    return orjson.dumps(orjson.loads(payload))


def msgspec_floor(payload: bytes) -> bytes:
    return _msgspec_encode(_msgspec_decode(payload))


def ujson_floor(payload: bytes) -> bytes:
    return _ujson_dumps(ujson.loads(payload))


PEERS = {
    "json": json_transform,
    "orjson": orjson_transform,
    "msgspec": msgspec_transform,
    "ujson": ujson_transform,
}
FLOORS = {
    "json floor": json_floor,
    "orjson floor": orjson_floor,
    "msgspec floor": msgspec_floor,
    "ujson floor": ujson_floor,
}
COLUMNARIZE = "columnarize"
PREVIOUS = "previous"

# The payloads whose cost per call is measured: the smallest document, and
# 20 rows of three keys, the row count at which callers start to columnarize.
CALL_PAYLOADS = {
    "[]": b"[]",
    "20 rows, 3 keys": json.dumps([{"id": 1000 + i, "name": f"user-{i:02d}", "active": i % 3 != 0}
                                   for i in range(20)], separators=(",", ":")).encode(),
}


def load_previous(path: str):
    """Another build of the module, from its extension file. Its init function
    fixes the module name, so it is loaded under the current build's name but
    kept out of sys.modules, where the current build stays."""
    module_spec = importlib.util.spec_from_file_location("vornel_codec", path)
    if module_spec is None:
        raise ImportError(f"{path} is not a Python extension file")
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module


def implementations(previous=None) -> dict:
    """name -> function; `previous` is a module from load_previous."""
    impls = dict(PEERS)
    if previous is not None:
        impls[PREVIOUS] = previous.columnarize
    if vornel_codec is not None:
        impls[COLUMNARIZE] = vornel_codec.columnarize
    impls.update(FLOORS)
    return impls


def sha256_control(payload: bytes) -> bytes:
    return hashlib.sha256(payload).digest()


# --------------------------------------------------------------------------
# Checks

def canonical(doc: bytes) -> str:
    """A parsed document written back in one fixed form (member order kept;
    1, 1.0 and true stay distinct)."""
    return json.dumps(json.loads(doc), separators=(",", ":"), ensure_ascii=False)


def reference(payload: bytes) -> bytes:
    if vornel_codec is not None:
        return vornel_codec.columnarize(payload)
    return json_transform(payload)


def check_peers(payload: bytes, label: str) -> list[str]:
    """Compare every peer's output with the reference as parsed JSON."""
    want = canonical(reference(payload))
    problems = []
    for name, fn in PEERS.items():
        try:
            got = canonical(fn(payload))
        except Exception as exc:  # noqa: BLE001 - reported, not hidden
            problems.append(f"{label}: {name} raised {type(exc).__name__}: {exc}")
            continue
        if got != want:
            i = next((k for k, (x, y) in enumerate(zip(got, want)) if x != y),
                     min(len(got), len(want)))
            problems.append(f"{label}: {name} differs at character {i}: "
                            f"{got[max(0, i - 40):i + 40]!r} vs {want[max(0, i - 40):i + 40]!r}")
    return problems


def _first_difference(a, b, path="$"):
    """Where two parsed documents first differ (numbers compared by value)."""
    if isinstance(a, dict) and isinstance(b, dict):
        if list(a) != list(b):
            return f"{path}: members {list(a)[:8]} vs {list(b)[:8]}"
        for k in a:
            d = _first_difference(a[k], b[k], f"{path}.{k}")
            if d:
                return d
        return None
    if isinstance(a, list) and isinstance(b, list):
        if len(a) != len(b):
            return f"{path}: {len(a)} vs {len(b)} items"
        for i, (x, y) in enumerate(zip(a, b)):
            d = _first_difference(x, y, f"{path}[{i}]")
            if d:
                return d
        return None
    return None if a == b else f"{path}: {a!r} vs {b!r}"


def loose_check(payload: bytes, outputs: dict, label: str) -> list[str]:
    """On payloads with floats: the outputs, parsed, are equal as Python values
    (1 == 1.0 there), so only the float text may differ between libraries."""
    if COLUMNARIZE not in outputs:
        return []
    want = json.loads(outputs[COLUMNARIZE])
    differing = {}
    for name in PEERS:
        if name in outputs:
            d = _first_difference(json.loads(outputs[name]), want)
            if d:
                differing[name] = d
    if not differing:
        return []
    if len(set(differing.values())) == 1:
        return [f"{label}: the output of {', '.join(differing)}, parsed, differs from columnarize's "
                f"(first at {next(iter(differing.values()))}, peer value first)"]
    return [f"{label}: {name}'s output, parsed, differs from columnarize's (first at {d}, {name} first)"
            for name, d in differing.items()]


# --------------------------------------------------------------------------
# Timing

def _calls(fn, payload, loops: int) -> float:
    t0 = time.perf_counter()
    for _ in range(loops):
        fn(payload)
    return (time.perf_counter() - t0) / loops


def measure(impls: dict, payload: bytes, reps: int, min_sample: float, slow: float = 0.5,
            slow_reps: int = 3) -> dict:
    """Median seconds per call for each implementation. Repetitions are
    interleaved: each round runs every implementation once, in rotating order.
    The first round calibrates how many calls make one sample; where a single
    call already takes `slow` seconds it counts as a sample, and such slow
    implementations get `slow_reps` samples in all."""
    names = list(impls)
    loops, samples, wanted = {}, {}, {}
    for name in names:
        t = _calls(impls[name], payload, 1)
        loops[name] = max(1, math.ceil(min_sample / max(t, 1e-9)))
        samples[name] = [t] if t >= slow else []
        wanted[name] = min(reps, slow_reps) if t >= slow else reps
    r = 0
    while any(len(samples[n]) < wanted[n] for n in names):
        for name in names[r % len(names):] + names[:r % len(names)]:
            if len(samples[name]) < wanted[name]:
                samples[name].append(_calls(impls[name], payload, loops[name]))
        r += 1
    return {name: statistics.median(s) for name, s in samples.items()}


def per_call(impls: dict, reps: int) -> list[dict]:
    """Nanoseconds per call on each of CALL_PAYLOADS: the best of `reps`
    interleaved samples of about 20 ms each, for the engines and the floors."""
    out = []
    names = [n for n in impls if n in FLOORS or n in (COLUMNARIZE, PREVIOUS)]
    for label, payload in CALL_PAYLOADS.items():
        loops = {n: max(1, math.ceil(0.02 / max(_calls(impls[n], payload, 100), 1e-9))) for n in names}
        best = dict.fromkeys(names, math.inf)
        for r in range(reps):
            for n in names[r % len(names):] + names[:r % len(names)]:
                best[n] = min(best[n], _calls(impls[n], payload, loops[n]))
        out.append({"name": label, "bytes": len(payload), "ns": {n: t * 1e9 for n, t in best.items()}})
    return out


def read_anchors(path: Path) -> list[dict]:
    """Per document of the layer benchmark's JSON output: input MB/s of the
    transform (plan + write), yyjson's round trip and simdjson's."""
    rates: dict = {}
    for run in json.loads(path.read_text(encoding="utf-8"))["benchmarks"]:
        document, _, layer = run["name"].rpartition("/")
        if layer in ("columnarize", "yyjson", "simdjson") and "bytes_per_second" in run:
            rates.setdefault(document, {})[layer] = run["bytes_per_second"] / 1e6
    return [{"name": d, **r} for d, r in rates.items() if "columnarize" in r]


def _one_thread(fn, payload: bytes, k: int) -> float:
    t0 = time.perf_counter()
    for _ in range(k):
        fn(payload)
    return time.perf_counter() - t0


def _two_threads(fn, payload: bytes, k: int) -> float:
    barrier = threading.Barrier(2)
    spans = []

    def worker():
        barrier.wait()
        t0 = time.perf_counter()
        for _ in range(k):
            fn(payload)
        spans.append((t0, time.perf_counter()))

    ts = [threading.Thread(target=worker) for _ in range(2)]
    for th in ts:
        th.start()
    for th in ts:
        th.join()
    return max(e for _, e in spans) - min(s for s, _ in spans)


def thread_speedups(fns: dict, payload: bytes, target: float, reps: int) -> dict:
    """speedup = 2*T1/T2: T1 is one thread making k calls, T2 two threads each
    making k calls at the same time. The implementations take turns, so that
    they share whatever else the machine is doing."""
    ks = {name: max(1, math.ceil(target / max(_calls(fn, payload, 1), 1e-9)))
          for name, fn in fns.items()}
    t1s = {name: [] for name in fns}
    t2s = {name: [] for name in fns}
    names = list(fns)
    for r in range(reps):
        for name in names[r % len(names):] + names[:r % len(names)]:
            t1s[name].append(_one_thread(fns[name], payload, ks[name]))
            t2s[name].append(_two_threads(fns[name], payload, ks[name]))
    out = {}
    for name in names:
        t1, t2 = statistics.median(t1s[name]), statistics.median(t2s[name])
        out[name] = {"calls": ks[name], "t1": t1, "t2": t2, "speedup": 2 * t1 / t2}
    return out


def _count(running: list, rates: list) -> None:
    """A pure-Python loop counting while running[0] holds; appends its
    iterations per second."""
    n = 0
    t0 = time.perf_counter()
    while running[0]:
        n += 1
    rates.append(n / (time.perf_counter() - t0))


def _spinning(work) -> float:
    """Runs work() with the counting loop in another thread: the loop's rate."""
    running, rates = [True], []
    spinner = threading.Thread(target=_count, args=(running, rates))
    spinner.start()
    try:
        work()
    finally:
        running[0] = False
        spinner.join()
    return rates[0]


def _stream(fn, payload: bytes, seconds: float) -> list[float]:
    """Calls back to back for `seconds`: each call's duration."""
    durations = []
    end = time.perf_counter() + seconds
    t = time.perf_counter()
    while t < end:
        fn(payload)
        durations.append(time.perf_counter() - t)
        t += durations[-1]
    return durations


def spinner_progress(fn, payload: bytes, seconds: float = 0.3, reps: int = 3) -> dict:
    """What a stream of calls and a busy pure-Python thread cost each other,
    at the default switch interval. Each repetition runs the counting loop
    alone, the calls alone, then both, `seconds` each. progress = the loop's
    rate beside the calls over its rate alone (1.0: the calls never kept it
    waiting); call_beside against call_alone is what getting the lock back
    from the busy thread adds to each call."""
    alone, beside, calls_alone, calls_beside = [], [], [], []
    for _ in range(reps):
        alone.append(_spinning(partial(time.sleep, seconds)))
        calls_alone += _stream(fn, payload, seconds)
        beside.append(_spinning(lambda: calls_beside.extend(_stream(fn, payload, seconds))))
    return {"progress": statistics.median(beside) / statistics.median(alone),
            "call_alone": statistics.median(calls_alone),
            "call_beside": statistics.median(calls_beside)}


def lock_held(fn, payload: bytes, calls: int) -> dict:
    """An upper bound of the time each call holds the interpreter lock, seen
    from a spinner thread as tests/python/test_threads.py sees it. With a
    switch interval longer than the run the interpreter never takes the lock
    from a thread, so the spinner stamps the time only while the call has
    given the lock up, and it gives the lock back after each stamp so that
    the call can finish. Held = (first stamp inside the call - its start) +
    (its end - last stamp inside), the whole call where nothing was stamped;
    the bound includes the hand-overs and up to ~1,000 loop iterations."""
    stamps, running, windows = [], [True], []

    def spin():
        while running[0]:
            for _ in range(1_000):
                pass
            stamps.append(time.perf_counter())
            time.sleep(0)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(30.0)
    spinner = threading.Thread(target=spin)
    try:
        spinner.start()
        for _ in range(calls):
            start = time.perf_counter()
            fn(payload)
            windows.append((start, time.perf_counter()))
    finally:
        running[0] = False
        spinner.join()
        sys.setswitchinterval(interval)
    held = []
    for start, end in windows:
        first, after = bisect.bisect_right(stamps, start), bisect.bisect_left(stamps, end)
        held.append(stamps[first] - start + end - stamps[after - 1] if first < after else end - start)
    return {"calls": calls, "held": statistics.median(held),
            "call": statistics.median(end - start for start, end in windows)}


def memory_growth(impl: str, path: Path, previous: str | None = None) -> dict:
    """Peak resident memory growth of one call, in a fresh interpreter;
    `previous` is the extension file of the previous build."""
    env = dict(os.environ)
    if vornel_codec is not None:
        env["PYTHONPATH"] = os.pathsep.join(
            [str(Path(vornel_codec.__file__).parent)] + env.get("PYTHONPATH", "").split(os.pathsep))
    args = [sys.executable, str(HERE / "memory_probe.py"), impl, str(path)]
    if previous:
        args += ["--previous", previous]
    proc = subprocess.run(args, capture_output=True, text=True, env=env, timeout=600)
    if proc.returncode != 0:
        return {"error": (proc.stderr.strip().splitlines() or ["failed"])[-1]}
    return json.loads(proc.stdout)


# --------------------------------------------------------------------------
# Report

def machine(previous: str | None = None) -> dict:
    model = "unknown"
    try:
        for line in open("/proc/cpuinfo", encoding="utf-8"):
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    try:
        mem_kb = next(int(line.split()[1]) for line in open("/proc/meminfo")
                      if line.startswith("MemTotal"))
    except (OSError, StopIteration):
        mem_kb = 0
    try:
        commit = subprocess.run(["git", "-C", str(ROOT), "rev-parse", "--short", "HEAD"],
                                capture_output=True, text=True).stdout.strip()
    except OSError:
        commit = ""
    return {
        "cpu": model,
        "cores": os.cpu_count(),
        "memory_gb": round(mem_kb / 2 ** 20, 1),
        "kernel": platform.release(),
        "python": sys.version.split()[0],
        "gil": sys._is_gil_enabled() if hasattr(sys, "_is_gil_enabled") else True,
        "orjson": orjson.__version__,
        "msgspec": msgspec.__version__,
        "ujson": ujson.__version__,
        "commit": commit,
        "module": str(Path(vornel_codec.__file__).resolve()) if vornel_codec is not None else None,
        "previous": str(Path(previous).resolve()) if previous else None,
        "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
        "loadavg_start": open("/proc/loadavg").read().split()[:3] if os.path.exists("/proc/loadavg") else [],
    }


def _fmt(x, digits=0):
    if x is None:
        return "–"
    return f"{x:,.{digits}f}"


def _times(x, digits=2):
    return "–" if x is None else f"{x:,.{digits}f}×"


def _engine_table(L: list, engines: list, measure: str, rows: list) -> None:
    """A table of one figure per engine, then the best peer's and the control's:
    rows of (payload, engine cells, peer name, peer cell, control cell)."""
    L.append("| payload | " + " | ".join(engines) + f" | best peer | best peer {measure} | control |")
    L.append("|---|" + "---:|" * len(engines) + "---|---:|---:|")
    for name, cells, peer, peer_cell, control_cell in rows:
        L.append(f"| {name} | " + "".join(c + " | " for c in cells) + f"{peer} | {peer_cell} | {control_cell} |")
    L.append("")


def write_markdown(res: dict, path: Path) -> None:
    m = res["machine"]
    L = []
    L.append("# Benchmarks")
    L.append("")
    L.append("`vornel_codec.columnarize` against the same transform written in Python over "
             "the standard `json` module, orjson, msgspec and ujson, and against each "
             "library's bare `dumps(loads(x))`"
             + (", beside the previous build's columnarize" if m.get("previous") else "")
             + ". Produced by `bench/compare.py`"
             + (" (quick mode)" if res["options"]["quick"] else "") + "; the chart by "
             "`bench/plot_benchmarks.py` from `benchmarks.json`.")
    L.append("")
    L.append("![throughput by payload and implementation](benchmarks.png)")
    L.append("")
    L.append("## Machine")
    L.append("")
    L.append(f"- CPU: {m['cpu']}, {m['cores']} cores, {m['memory_gb']} GB; Linux {m['kernel']}")
    L.append(f"- CPython {m['python']} (GIL {'enabled' if m['gil'] else 'disabled'}); "
             f"orjson {m['orjson']}, msgspec {m['msgspec']}, ujson {m['ujson']}")
    if m.get("module"):
        L.append(f"- module: `{m['module']}`")
    if m.get("previous"):
        L.append(f"- previous: `{m['previous']}`")
    L.append(f"- commit {m['commit']}, {m['date']}; load average at start "
             f"{' '.join(m['loadavg_start'])}, at end {' '.join(m.get('loadavg_end', []))}")
    L.append(f"- {res['options']['reps']} interleaved repetitions, median; each sample at "
             f"least {res['options']['min_sample'] * 1000:.0f} ms of repeated calls; where one call "
             f"takes over 0.5 s, 3 single calls, the first of them the calibration run")
    L.append("")
    L.append("Run it: `.deps/python3.15/usr/bin/python3.15 bench/compare.py --previous PATH` "
             "(`--quick` for a one-minute pass), then "
             "`/usr/bin/python3 bench/plot_benchmarks.py docs/benchmarks.json docs/benchmarks.png`.")
    L.append("")

    impls = res["implementations"]
    peers = [n for n in impls if n in PEERS]
    floors = [n for n in impls if n in FLOORS]
    has_col = COLUMNARIZE in impls
    engines = [n for n in (PREVIOUS, COLUMNARIZE) if n in impls]
    L.append("## Throughput")
    L.append("")
    L.append("MB/s of input (10^6 bytes per second), median. \"× peer\" is columnarize over "
             "the fastest Python transform of the same run; \"× floor\" is columnarize over "
             "the fastest bare `dumps(loads(x))`"
             + ("; \"× previous\" is columnarize over the previous build" if PREVIOUS in impls else "")
             + "; the fastest peer and floor are in bold. "
             "The real-world files are every `*.rows.json` and every file whose top level is an "
             "array of objects in the shared real-world data directory.")
    L.append("")
    ratios = (["× previous"] if PREVIOUS in impls and has_col else []) + (["× peer", "× floor"] if has_col else [])
    head = ["payload", "rows", "MB"] + peers + engines + ratios + floors
    for kind, title in (("generated", "Generated payloads"), ("real-world", "Real-world files")):
        entries = [r for r in res["throughput"] if r.get("kind") == kind]
        if not entries:
            continue
        L.append(f"### {title}")
        L.append("")
        L.append("| " + " | ".join(head) + " |")
        L.append("|" + "|".join(["---"] + ["---:"] * (len(head) - 1)) + "|")
        for r in entries:
            if "error" in r:
                L.append(f"| {r['name']} | {r.get('rows', 0):,} | {r['bytes'] / 1e6:.2f} | "
                         + r["error"].replace("|", "\\|") + " |")
                continue
            mbs = r["mb_s"]
            cells = [r["name"], f"{r['rows']:,}", f"{r['bytes'] / 1e6:.2f}"]
            best_peer = max(mbs[n] for n in peers)
            best_floor = max(mbs[n] for n in floors)
            cells += [("**" + _fmt(mbs[n]) + "**") if mbs[n] == best_peer else _fmt(mbs[n]) for n in peers]
            cells += [_fmt(mbs[PREVIOUS])] if PREVIOUS in engines else []
            if has_col:
                cells += ["**" + _fmt(mbs.get(COLUMNARIZE)) + "**"]
                cells += [_times(r.get("x_previous"))] if PREVIOUS in impls else []
                cells += [_times(r.get("x_peer")), _times(r.get("x_floor"))]
            cells += [("**" + _fmt(mbs[n]) + "**") if mbs[n] == best_floor else _fmt(mbs[n]) for n in floors]
            L.append("| " + " | ".join(cells) + " |")
        L.append("")

    if res.get("calls"):
        L.append("## Per call")
        L.append("")
        L.append("Nanoseconds per call, best of interleaved samples: the fixed cost that small tool "
                 "results pay. The floors are each library's `dumps(loads(x))` of the same bytes.")
        L.append("")
        names = list(res["calls"][0]["ns"])
        L.append("| payload | bytes | " + " | ".join(names) + " |")
        L.append("|---|---:|" + "---:|" * len(names))
        for c in res["calls"]:
            L.append(f"| `{c['name']}` | {c['bytes']} | " + " | ".join(_fmt(c["ns"][n]) for n in names) + " |")
        L.append("")

    if res.get("anchors"):
        L.append("## Anchors: the transform beside the fastest C and C++ libraries")
        L.append("")
        L.append("From the C++ layer benchmark (`bench/layers`, Google Benchmark, input MB/s of CPU "
                 "time): the whole transform, plan + write into a new buffer, beside yyjson's "
                 "`yyjson_read` + `yyjson_write` and simdjson's DOM parse + minify of the same document. "
                 "They build a whole document and print it again; the transform copies what is already "
                 "in the writer's form and builds nothing.")
        L.append("")
        L.append("| document | transform | yyjson | simdjson | × yyjson | × simdjson |")
        L.append("|---|---:|---:|---:|---:|---:|")
        for an in res["anchors"]:
            L.append(f"| {an['name']} | {_fmt(an['columnarize'])} | {_fmt(an.get('yyjson'))} | "
                     f"{_fmt(an.get('simdjson'))} | "
                     f"{_times(an['columnarize'] / an['yyjson'] if an.get('yyjson') else None)} | "
                     f"{_times(an['columnarize'] / an['simdjson'] if an.get('simdjson') else None)} |")
        L.append("")

    if res.get("threads"):
        L.append("## Two threads")
        L.append("")
        L.append("Two threads each making the same calls at once against one thread alone, on "
                 f"the {res['threads'][0].get('rows', 10000):,}-row payloads: speedup = 2·T1/T2 (2.0 is perfect scaling on two "
                 "cores, 1.0 means the calls ran one after the other). The control is "
                 "`hashlib.sha256` over the same bytes, which runs without the interpreter lock: "
                 "below 2.0 it shows how much of the second core the machine actually gave.")
        L.append("")
        _engine_table(L, engines, "speedup", [
            (t["name"], [_times(t[n]["speedup"]) for n in engines], t["peer"], _times(t["peer_result"]["speedup"]),
             _times(t["control"]["speedup"])) for t in res["threads"]])

    if res.get("lock"):
        L.append("## The interpreter lock")
        L.append("")
        L.append(f"On the {res['lock'][0]['rows']:,}-row payloads. Progress: a pure-Python thread counting "
                 "beside a stream of back-to-back calls, at the default switch interval, against the same "
                 "thread alone (100% means the calls never kept it waiting; the best peer transform holds "
                 "the lock throughout, for contrast). The control is `hashlib.sha256` over the same bytes, "
                 "which gives the lock up for the whole digest: below 100% it shows what the machine took.")
        L.append("")
        _engine_table(L, engines, "progress", [
            (lk["name"], [f"{lk['spinner'][n]['progress']:.0%}" for n in engines], lk["peer"],
             f"{lk['spinner'][lk['peer']]['progress']:.0%}", f"{lk['spinner']['control']['progress']:.0%}")
            for lk in res["lock"]])
        L.append("Per call, median: the time the call holds the lock, seen from a spinner thread with the "
                 "switch interval at 30 s (the start until the spinner's first time stamp inside the call, "
                 "plus the last stamp until the end; an upper bound, as it includes the hand-overs), beside "
                 "the call's own time in that run; and the call's time with a busy pure-Python thread beside "
                 "it (default switch interval) against alone, the difference being what getting the lock "
                 "back costs.")
        L.append("")
        L.append("| payload | " + " | ".join(f"{n} held µs | call µs | alone ms | beside busy ms" for n in engines)
                 + " |")
        L.append("|---|" + "---:|" * (4 * len(engines)))
        for lk in res["lock"]:
            cells = []
            for n in engines:
                held, sp = lk["held"][n], lk["spinner"][n]
                cells += [_fmt(held["held"] * 1e6), _fmt(held["call"] * 1e6),
                          _fmt(sp["call_alone"] * 1e3, 2), _fmt(sp["call_beside"] * 1e3, 2)]
            L.append(f"| {lk['name']} | " + " | ".join(cells) + " |")
        L.append("")

    if res.get("memory"):
        L.append("## Peak memory")
        L.append("")
        L.append("Growth of peak resident memory (VmHWM, reset before the call) during one call, "
                 "in a fresh interpreter for each implementation, as a multiple of the input size.")
        L.append("")
        names = [n for n in impls if any(n in mm["growth"] for mm in res["memory"])]
        L.append("| payload | rows | input MB | " + " | ".join(names) + " |")
        L.append("|---|---:|---:|" + "---:|" * len(names))
        for mm in res["memory"]:
            cells = []
            for n in names:
                g = mm["growth"].get(n)
                cells.append("–" if g is None else (g if isinstance(g, str) else f"{g:.1f}×"))
            L.append(f"| {mm['name']} | {mm['rows']:,} | {mm['bytes'] / 1e6:.1f} | " + " | ".join(cells) + " |")
        L.append("")
        measured = [n for n in engines if any(n in mm["beyond_output"] for mm in res["memory"])]
        if measured:
            L.append("The same growth against the output, which the call must build: growth less the "
                     "output's size, as a multiple of the input.")
            L.append("")
            L.append("| payload | input MB | output MB | "
                     + " | ".join(f"{n} growth MB | beyond output" for n in measured) + " |")
            L.append("|---|---:|---:|" + "---:|" * (2 * len(measured)))
            for mm in res["memory"]:
                out_mb = next((mm["raw"][n]["output"] / 1e6 for n in measured if n in mm["beyond_output"]), None)
                cells = [f"{mm['bytes'] / 1e6:.1f}", _fmt(out_mb, 1)]
                for n in measured:
                    fits = n in mm["beyond_output"]
                    cells += [_fmt(mm["raw"][n]["growth"] / 1e6 if fits else None, 1),
                              _times(mm["beyond_output"].get(n), 1)]
                L.append(f"| {mm['name']} | " + " | ".join(cells) + " |")
            L.append("")

    for key, title in (("targets", "Against the targets"), ("notes", "Notes")):
        if res.get(key):
            L += [f"## {title}", "", *(f"- {line}" for line in res[key]), ""]
    path.write_text("\n".join(L), encoding="utf-8")


def _reaching(entries: list, value, threshold: float) -> tuple:
    """How many entries reach the threshold, and the lowest entry."""
    return sum(value(e) >= threshold for e in entries), min(entries, key=value)


def targets(res: dict) -> list[str]:
    """Where columnarize stands against its goals (printed, never asserted)."""
    out = []
    rows = [r for r in res["throughput"] if "x_peer" in r]
    if rows:
        n_p, worst_p = _reaching(rows, itemgetter("x_peer"), 5)
        n_f, worst_f = _reaching(rows, itemgetter("x_floor"), 2.5)
        out.append(f"at least 5× the fastest peer transform: {n_p} of {len(rows)} payloads "
                   f"(lowest {worst_p['x_peer']:.2f}× on {worst_p['name']} {worst_p['rows']:,} rows)")
        out.append(f"at least 2.5× the fastest bare floor: {n_f} of {len(rows)} payloads "
                   f"(lowest {worst_f['x_floor']:.2f}× on {worst_f['name']} {worst_f['rows']:,} rows)")
    calls = {c["name"]: c["ns"] for c in res.get("calls", [])}
    if calls and COLUMNARIZE in calls["[]"]:
        empty, small = calls["[]"], calls["20 rows, 3 keys"]
        out.append(f"columnarize(b'[]') within 1.5× of orjson's bare round trip: "
                   f"{empty[COLUMNARIZE]:.0f} ns against {empty['orjson floor']:.0f} ns "
                   f"({empty[COLUMNARIZE] / empty['orjson floor']:.2f}×)")
        out.append(f"the 20-row, three-key payload at least 3× orjson's bare round trip: "
                   f"{small[COLUMNARIZE]:.0f} ns against {small['orjson floor']:.0f} ns "
                   f"({small['orjson floor'] / small[COLUMNARIZE]:.2f}× faster)")
    anchors = [an for an in res.get("anchors", []) if an.get("yyjson")]
    if anchors:
        ratios = sorted((an["columnarize"] / an["yyjson"], an["name"]) for an in anchors)
        slower = [name for ratio, name in ratios if ratio < 1]
        out.append(f"in C++, plan + write at least as fast as yyjson's round trip on every document and 1.5× at "
                   f"the median: {len(anchors) - len(slower)} of {len(anchors)} documents, median "
                   f"{statistics.median(r for r, _ in ratios):.2f}×, lowest {ratios[0][0]:.2f}× on {ratios[0][1]}"
                   + (f"; slower on {', '.join(slower)}" if slower else ""))
    th = [t for t in res.get("threads", []) if t.get(COLUMNARIZE)]
    if th:
        n, lo = _reaching(th, lambda t: t[COLUMNARIZE]["speedup"], 1.9)
        out.append(f"two threads at least 1.9× one thread: {n} of {len(th)} shapes "
                   f"(lowest {lo[COLUMNARIZE]['speedup']:.2f}× on {lo['name']}, "
                   f"where the sha256 control reached {lo['control']['speedup']:.2f}×)")
    lock = [lk for lk in res.get("lock", []) if COLUMNARIZE in lk["spinner"]]
    if lock:
        n, lo = _reaching(lock, lambda lk: lk["spinner"][COLUMNARIZE]["progress"], 0.9)
        contrast = [f"{m} {lo['spinner'][m]['progress']:.0%}" for m in (PREVIOUS, lo["peer"], "control")
                    if m in lo["spinner"]]
        out.append(f"a pure-Python thread beside a stream of calls keeps at least 90% of its progress: "
                   f"{n} of {len(lock)} shapes (lowest {lo['spinner'][COLUMNARIZE]['progress']:.0%} on "
                   f"{lo['name']}; there {', '.join(contrast)})")
        for engine in (COLUMNARIZE, PREVIOUS):
            if engine not in lock[0]["held"]:
                continue
            hi = max(lock, key=lambda lk: lk["held"][engine]["held"])
            worst = max(lock, key=lambda lk: lk["spinner"][engine]["call_beside"] - lk["spinner"][engine]["call_alone"])
            held, sp = hi["held"][engine], worst["spinner"][engine]
            out.append(f"{engine}, lock held per call (median, an upper bound): at most {held['held'] * 1e6:,.0f} µs "
                       f"of a {held['call'] * 1e6:,.0f} µs call, on {hi['name']}; getting the lock back from a "
                       f"busy thread: at most {(sp['call_beside'] - sp['call_alone']) * 1e3:.2f} ms more per call "
                       f"({sp['call_alone'] * 1e3:.2f} ms alone, {sp['call_beside'] * 1e3:.2f} ms beside it, "
                       f"on {worst['name']})")
    mem = [mm for mm in res.get("memory", []) if COLUMNARIZE in mm["beyond_output"]]
    if mem:
        hi = max(mem, key=lambda mm: mm["beyond_output"][COLUMNARIZE])
        out.append(f"peak memory growth of one {hi['rows']:,}-row call at most the output plus 1× the input: "
                   f"{sum(mm['beyond_output'][COLUMNARIZE] <= 1 for mm in mem)} of {len(mem)} shapes "
                   f"(highest: output plus {hi['beyond_output'][COLUMNARIZE]:.2f}× the input on {hi['name']})")
    return out


# --------------------------------------------------------------------------

def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--quick", action="store_true",
                    help="about one minute: fewer sizes and repetitions, shorter samples")
    ap.add_argument("--rows", help="comma-separated row counts for throughput; threads and the lock use "
                                   "10,000 or the middle one (default 100,1000,10000; quick 100,1000)")
    ap.add_argument("--memory-rows", type=int,
                    help="rows of the payloads whose peak memory is measured (default 100000; quick 10000)")
    ap.add_argument("--shapes", default=",".join(payloads.SHAPES))
    ap.add_argument("--reps", type=int, help="interleaved repetitions (default 5; quick 3)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--previous", metavar="PATH",
                    help="another build's extension file (say, built from an older commit), measured as previous")
    ap.add_argument("--data-dir", default=str(ROOT.parent / "shared" / "data" / "real-world"),
                    help="directory of real-world JSON files")
    ap.add_argument("--no-real", action="store_true", help="skip the real-world files")
    ap.add_argument("--no-threads", action="store_true")
    ap.add_argument("--no-lock", action="store_true", help="skip the interpreter-lock figures")
    ap.add_argument("--no-memory", action="store_true")
    ap.add_argument("--anchors", metavar="PATH",
                    help="the C++ layer benchmark's JSON output (bench/layers writes build/layers.json)")
    ap.add_argument("--out", default=str(ROOT / "docs"), help="directory for benchmarks.md and benchmarks.json")
    a = ap.parse_args(argv)

    quick = a.quick
    sizes = [int(x) for x in (a.rows or ("20,100,1000" if quick else "20,100,1000,10000")).split(",")]
    thread_rows = 10000 if 10000 in sizes else sorted(sizes)[len(sizes) // 2]
    memory_rows = a.memory_rows or (10000 if quick else 100000)
    shapes = [s for s in a.shapes.split(",") if s]
    reps = a.reps or (3 if quick else 5)
    min_sample = 0.01 if quick else 0.05
    out_dir = Path(a.out)
    out_dir.mkdir(parents=True, exist_ok=True)
    t_start = time.perf_counter()

    def say(*x):
        print(*x, flush=True)

    notes = []
    if vornel_codec is None:
        say(f"vornel_codec is not importable ({VORNEL_IMPORT_ERROR}); measuring the peers only")
        notes.append("vornel_codec could not be imported: peers only, checked against the json peer")
    previous = load_previous(a.previous) if a.previous else None

    impls = implementations(previous)
    engines = [n for n in (COLUMNARIZE, PREVIOUS) if n in impls]
    res = {"machine": machine(a.previous), "options": {"quick": quick, "rows": sizes, "shapes": shapes,
                                                       "reps": reps, "min_sample": min_sample, "seed": a.seed,
                                                       "memory_rows": memory_rows},
           "implementations": list(impls), "throughput": [], "calls": [], "anchors": [], "threads": [], "lock": [],
           "memory": []}
    say(f"{res['machine']['cpu']}, {res['machine']['cores']} cores, Python {res['machine']['python']}")

    # 1. Equal output on integer-only payloads of every shape, before timing.
    problems = []
    for shape in shapes:
        for n in (0, 1, 2, 25, 300):
            p = payloads.make(shape, n, seed=a.seed + 7, ints_only=True)
            problems += check_peers(p, f"{shape} ints-only {n} rows")
    if problems:
        for p in problems:
            say("CHECK FAILED:", p)
        say("the peers do not compute the same transform; not timing")
        return 1
    say(f"checked: {len(PEERS)} peers equal {'columnarize' if vornel_codec else 'json'} "
        f"on integer-only payloads of {len(shapes)} shapes")

    # 2. Throughput.
    def bench_one(name: str, rows: int, payload: bytes, kind: str) -> None:
        entry = {"name": name, "kind": kind, "rows": rows, "bytes": len(payload)}
        outputs = {}
        try:
            for impl, fn in impls.items():
                if impl in PEERS or impl in engines:
                    outputs[impl] = fn(payload)
        except Exception as exc:  # noqa: BLE001 - shown in the table
            entry["error"] = f"{impl} raised {type(exc).__name__}: {exc}"
            say(f"{name:>34} {rows:>7}: {entry['error']}")
            res["throughput"].append(entry)
            return
        found = loose_check(payload, outputs, f"{name} {rows} rows")
        if len(engines) == 2 and outputs[PREVIOUS] != outputs[COLUMNARIZE]:
            found.append(f"{name} {rows} rows: previous's output differs from columnarize's")
        for p in found:
            notes.append(p)
            say("note:", p)
        del outputs
        secs = measure(impls, payload, reps, min_sample)
        mbs = {k: len(payload) / v / 1e6 for k, v in secs.items()}
        entry["seconds"] = secs
        entry["mb_s"] = mbs
        best_peer = max(PEERS, key=lambda k: mbs[k])
        best_floor = max(FLOORS, key=lambda k: mbs[k])
        entry["best_peer"], entry["best_floor"] = best_peer, best_floor
        line = f"{name:>34} {rows:>7} {len(payload) / 1e6:7.2f} MB  " + " ".join(
            f"{k}={mbs[k]:.0f}" for k in impls)
        if COLUMNARIZE in mbs:
            entry["x_peer"] = mbs[COLUMNARIZE] / mbs[best_peer]
            entry["x_floor"] = mbs[COLUMNARIZE] / mbs[best_floor]
            line += f"  x_peer={entry['x_peer']:.2f} x_floor={entry['x_floor']:.2f}"
            if PREVIOUS in mbs:
                entry["x_previous"] = mbs[COLUMNARIZE] / mbs[PREVIOUS]
                line += f" x_previous={entry['x_previous']:.2f}"
        say(line)
        res["throughput"].append(entry)

    tmp = Path(tempfile.mkdtemp(prefix="vornel-bench-"))
    memory_files = {}

    def keep_for_memory(shape: str, payload: bytes) -> None:
        path = tmp / f"{shape}-{memory_rows}.json"
        path.write_bytes(payload)
        memory_files[shape] = (path, len(payload))

    threads_or_lock = not (a.no_threads and a.no_lock)
    thread_payloads = {}
    for shape in shapes:
        for n in sizes:
            p = payloads.make(shape, n, seed=a.seed)
            bench_one(shape, n, p, "generated")
            if n == memory_rows and not a.no_memory:
                keep_for_memory(shape, p)
            if n == thread_rows and threads_or_lock:
                thread_payloads[shape] = p
            del p
            gc.collect()

    if not a.no_real:
        files = payloads.real_world_files(Path(a.data_dir))
        if not files:
            notes.append(f"no real-world files found in {a.data_dir}")
        for path in files:
            p = path.read_bytes()
            try:
                nrows = len(json.loads(p))
            except ValueError:
                nrows = 0
            bench_one(path.name, nrows, p, "real-world")

    res["calls"] = per_call(impls, reps=3 if quick else 7)
    for c in res["calls"]:
        say(f"per call {c['name']:>16}: " + " ".join(f"{n}={ns:.0f} ns" for n, ns in c["ns"].items()))
    if a.anchors:
        res["anchors"] = read_anchors(Path(a.anchors))

    # 3. Threads and the interpreter lock, on the 10,000-row payloads (or the
    # middle size asked for).
    for shape, p in thread_payloads.items():
        ent = next(e for e in res["throughput"] if e["name"] == shape and e["rows"] == thread_rows)
        if "error" in ent:
            continue
        peer = ent["best_peer"]
        if not a.no_threads:
            fns = {n: impls[n] for n in engines}
            fns[peer] = impls[peer]
            fns["control"] = sha256_control
            r = thread_speedups(fns, p, 0.05 if quick else 0.3, 3)
            t = {"name": shape, "rows": thread_rows, "peer": peer, "peer_result": r[peer], "control": r["control"]}
            t.update((n, r[n]) for n in engines)
            say(f"threads {shape:>12}: " + "".join(f"{n} {t[n]['speedup']:.2f}x  " for n in engines)
                + f"{peer} {t['peer_result']['speedup']:.2f}x  control {t['control']['speedup']:.2f}x")
            res["threads"].append(t)
        if not a.no_lock and engines:
            lk = {"name": shape, "rows": thread_rows, "peer": peer, "spinner": {}, "held": {}}
            contenders = {n: impls[n] for n in engines + [peer]}
            contenders["control"] = sha256_control
            for n, fn in contenders.items():
                lk["spinner"][n] = spinner_progress(fn, p, 0.1 if quick else 0.3, 2 if quick else 3)
            for n in engines:
                calls = min(200, max(5, math.ceil((0.1 if quick else 0.5) / ent["seconds"][n])))
                lk["held"][n] = lock_held(impls[n], p, calls)
            say(f"lock {shape:>12}: " + "  ".join(
                f"{n} progress {lk['spinner'][n]['progress']:.0%}" for n in lk["spinner"]) + "  " + "  ".join(
                f"{n} held {lk['held'][n]['held'] * 1e6:.0f} of {lk['held'][n]['call'] * 1e6:.0f} us, "
                f"{lk['spinner'][n]['call_alone'] * 1e3:.2f} -> {lk['spinner'][n]['call_beside'] * 1e3:.2f} ms "
                "beside a busy thread" for n in engines))
            res["lock"].append(lk)
    del thread_payloads

    # 4. Peak memory of one call, fresh process each.
    if not a.no_memory:
        # Peak memory does not depend on timing, so two probes run at once.
        from concurrent.futures import ThreadPoolExecutor
        for shape in shapes:
            if shape not in memory_files:
                keep_for_memory(shape, payloads.make(shape, memory_rows, seed=a.seed))
                gc.collect()
            path, size = memory_files[shape]
            with ThreadPoolExecutor(max_workers=2) as pool:
                probes = dict(zip(impls, pool.map(lambda impl: memory_growth(impl, path, a.previous), impls)))
            path.unlink()
            mm = {"name": shape, "rows": memory_rows, "bytes": size, "growth": {}, "beyond_output": {},
                  "raw": probes}
            for impl, r in probes.items():
                if "growth" in r:
                    mm["growth"][impl] = r["growth"] / size
                    mm["beyond_output"][impl] = (r["growth"] - r["output"]) / size
                else:
                    mm["growth"][impl] = r.get("error", "error")
            say(f"memory {shape:>12} {memory_rows} rows {size / 1e6:.1f} MB: " + " ".join(
                f"{k}={v:.1f}x" if isinstance(v, float) else f"{k}=({v})" for k, v in mm["growth"].items()))
            res["memory"].append(mm)
    for path, _ in memory_files.values():
        path.unlink(missing_ok=True)
    tmp.rmdir()

    res["machine"]["loadavg_end"] = open("/proc/loadavg").read().split()[:3] if os.path.exists("/proc/loadavg") else []
    res["targets"] = targets(res)
    res["notes"] = notes
    res["elapsed_s"] = round(time.perf_counter() - t_start, 1)
    for line in res["targets"]:
        say("target:", line)
    (out_dir / "benchmarks.json").write_text(json.dumps(res, indent=1, ensure_ascii=False) + "\n",
                                             encoding="utf-8")
    write_markdown(res, out_dir / "benchmarks.md")
    say(f"wrote {out_dir / 'benchmarks.md'} and {out_dir / 'benchmarks.json'} in {res['elapsed_s']:.0f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
