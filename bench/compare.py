"""Side-by-side benchmark: vornel_codec.columnarize against the same transform
written in Python over the common JSON libraries.

    .deps/python3.15/usr/bin/python3.15 bench/compare.py            # full run, ~10 min
    .deps/python3.15/usr/bin/python3.15 bench/compare.py --quick    # ~1 min
    .deps/python3.15/usr/bin/python3.15 bench/compare.py --rows 1000,10000 --shapes api,logs

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
* throughput: MB/s of input (10**6 bytes), median of interleaved repetitions
  (each repetition runs every implementation once, in a rotating order), with
  the ratio of columnarize to the fastest peer transform and to the fastest
  floor of the same run.
* threads: one thread against two threads calling at once on the 10,000-row
  payloads; speedup = 2*T1/T2 (2.0 = perfect scaling, 1.0 = serialised).
  hashlib.sha256 over the same bytes, which runs without the interpreter lock,
  is the control.
* memory: growth of peak resident memory during one call on the largest
  payloads, each implementation in a fresh process (bench/memory_probe.py),
  as a multiple of the input size.

The garbage collector stays enabled, as in the programs that would call this.
"""

from __future__ import annotations

import argparse
import datetime
import gc
import hashlib
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


def implementations() -> dict:
    impls = dict(PEERS)
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


def memory_growth(impl: str, path: Path) -> dict:
    """Peak resident memory growth of one call, in a fresh interpreter."""
    env = dict(os.environ)
    if vornel_codec is not None:
        env["PYTHONPATH"] = os.pathsep.join(
            [str(Path(vornel_codec.__file__).parent)] + env.get("PYTHONPATH", "").split(os.pathsep))
    proc = subprocess.run([sys.executable, str(HERE / "memory_probe.py"), impl, str(path)],
                          capture_output=True, text=True, env=env, timeout=600)
    if proc.returncode != 0:
        return {"error": (proc.stderr.strip().splitlines() or ["failed"])[-1]}
    return json.loads(proc.stdout)


# --------------------------------------------------------------------------
# Payloads

def real_world_files(data_dir: Path) -> list[Path]:
    """Every *.rows.json, and every *.json whose top level is a non-empty
    array of objects."""
    out = []
    if not data_dir.is_dir():
        return out
    for p in sorted(data_dir.glob("*.json")):
        if p.name.endswith(".rows.json"):
            out.append(p)
            continue
        try:
            doc = json.loads(p.read_bytes())
        except ValueError:
            continue
        if isinstance(doc, list) and doc and all(isinstance(r, dict) for r in doc):
            out.append(p)
    return out


# --------------------------------------------------------------------------
# Report

def machine() -> dict:
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
        "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
        "loadavg_start": open("/proc/loadavg").read().split()[:3] if os.path.exists("/proc/loadavg") else [],
    }


def _fmt(x, digits=0):
    if x is None:
        return "–"
    return f"{x:,.{digits}f}"


def write_markdown(res: dict, path: Path) -> None:
    m = res["machine"]
    L = []
    L.append("# Benchmarks")
    L.append("")
    L.append("`vornel_codec.columnarize` against the same transform written in Python over "
             "the standard `json` module, orjson, msgspec and ujson, and against each "
             "library's bare `dumps(loads(x))`. Produced by `bench/compare.py`"
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
    L.append(f"- commit {m['commit']}, {m['date']}; load average at start "
             f"{' '.join(m['loadavg_start'])}, at end {' '.join(m.get('loadavg_end', []))}")
    L.append(f"- {res['options']['reps']} interleaved repetitions, median; each sample at "
             f"least {res['options']['min_sample'] * 1000:.0f} ms of repeated calls; where one call "
             f"takes over 0.5 s, 3 single calls, the first of them the calibration run")
    L.append("")
    L.append("Run it: `.deps/python3.15/usr/bin/python3.15 bench/compare.py` "
             "(`--quick` for a one-minute pass), then "
             "`/usr/bin/python3 bench/plot_benchmarks.py docs/benchmarks.json docs/benchmarks.png`.")
    L.append("")

    impls = res["implementations"]
    peers = [n for n in impls if n in PEERS]
    floors = [n for n in impls if n in FLOORS]
    has_col = COLUMNARIZE in impls
    L.append("## Throughput")
    L.append("")
    L.append("MB/s of input (10^6 bytes per second), median. \"× peer\" is columnarize over "
             "the fastest Python transform of the same run; \"× floor\" is columnarize over "
             "the fastest bare `dumps(loads(x))`; the fastest peer and floor are in bold. "
             "The real-world files are every `*.rows.json` and every file whose top level is an "
             "array of objects in the shared real-world data directory.")
    L.append("")
    head = ["payload", "rows", "MB"] + peers + ([COLUMNARIZE, "× peer", "× floor"] if has_col else []) + floors
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
            if has_col:
                cells += ["**" + _fmt(mbs.get(COLUMNARIZE)) + "**",
                          _fmt(r.get("x_peer"), 2) + "×" if r.get("x_peer") else "–",
                          _fmt(r.get("x_floor"), 2) + "×" if r.get("x_floor") else "–"]
            cells += [("**" + _fmt(mbs[n]) + "**") if mbs[n] == best_floor else _fmt(mbs[n]) for n in floors]
            L.append("| " + " | ".join(cells) + " |")
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
        L.append("| payload | columnarize | best peer | best peer speedup | control |")
        L.append("|---|---:|---|---:|---:|")
        for t in res["threads"]:
            col = t.get(COLUMNARIZE)
            L.append(f"| {t['name']} | {_fmt(col['speedup'], 2) + '×' if col else '–'} | {t['peer']} | "
                     f"{_fmt(t['peer_result']['speedup'], 2)}× | {_fmt(t['control']['speedup'], 2)}× |")
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

    for key, title in (("targets", "Against the targets"), ("notes", "Notes")):
        if res.get(key):
            L += [f"## {title}", "", *(f"- {line}" for line in res[key]), ""]
    path.write_text("\n".join(L), encoding="utf-8")


def targets(res: dict) -> list[str]:
    """Where columnarize stands against its goals (printed, never asserted)."""
    out = []
    rows = [r for r in res["throughput"] if "x_peer" in r]
    if rows:
        worst_p = min(rows, key=lambda r: r["x_peer"])
        worst_f = min(rows, key=lambda r: r["x_floor"])
        n_p = sum(r["x_peer"] >= 5 for r in rows)
        n_f = sum(r["x_floor"] >= 2 for r in rows)
        out.append(f"at least 5× the fastest peer transform: {n_p} of {len(rows)} payloads "
                   f"(lowest {worst_p['x_peer']:.2f}× on {worst_p['name']} {worst_p['rows']:,} rows)")
        out.append(f"at least 2× the fastest bare floor: {n_f} of {len(rows)} payloads "
                   f"(lowest {worst_f['x_floor']:.2f}× on {worst_f['name']} {worst_f['rows']:,} rows)")
    th = [t for t in res.get("threads", []) if t.get(COLUMNARIZE)]
    if th:
        lo = min(th, key=lambda t: t[COLUMNARIZE]["speedup"])
        out.append(f"two threads at least 1.8× one thread: {sum(t[COLUMNARIZE]['speedup'] >= 1.8 for t in th)} "
                   f"of {len(th)} shapes (lowest {lo[COLUMNARIZE]['speedup']:.2f}× on {lo['name']})")
    mem = [mm for mm in res.get("memory", []) if isinstance(mm["growth"].get(COLUMNARIZE), float)]
    if mem:
        hi = max(mem, key=lambda mm: mm["growth"][COLUMNARIZE])
        out.append(f"peak memory growth at most 3× the input: {sum(mm['growth'][COLUMNARIZE] <= 3 for mm in mem)} "
                   f"of {len(mem)} shapes (highest {hi['growth'][COLUMNARIZE]:.2f}× on {hi['name']})")
    return out


# --------------------------------------------------------------------------

def main(argv=None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--quick", action="store_true", help="about one minute: fewer sizes and repetitions")
    ap.add_argument("--rows", help="comma-separated row counts (default 1000,10000,100000; quick 1000,10000)")
    ap.add_argument("--shapes", default=",".join(payloads.SHAPES))
    ap.add_argument("--reps", type=int, help="interleaved repetitions (default 5; quick 3)")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--data-dir", default=str(ROOT.parent / "shared" / "data" / "real-world"),
                    help="directory of real-world JSON files")
    ap.add_argument("--no-real", action="store_true", help="skip the real-world files")
    ap.add_argument("--no-threads", action="store_true")
    ap.add_argument("--no-memory", action="store_true")
    ap.add_argument("--out", default=str(ROOT / "docs"), help="directory for benchmarks.md and benchmarks.json")
    a = ap.parse_args(argv)

    quick = a.quick
    sizes = [int(x) for x in (a.rows or ("1000,10000" if quick else "1000,10000,100000")).split(",")]
    thread_rows = 10000 if 10000 in sizes else sorted(sizes)[len(sizes) // 2]
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

    impls = implementations()
    res = {"machine": machine(), "options": {"quick": quick, "rows": sizes, "shapes": shapes,
                                             "reps": reps, "min_sample": min_sample, "seed": a.seed},
           "implementations": list(impls), "throughput": [], "threads": [], "memory": []}
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
                if impl in PEERS or impl == COLUMNARIZE:
                    outputs[impl] = fn(payload)
        except Exception as exc:  # noqa: BLE001 - shown in the table
            entry["error"] = f"{impl} raised {type(exc).__name__}: {exc}"
            say(f"{name:>34} {rows:>7}: {entry['error']}")
            res["throughput"].append(entry)
            return
        for p in loose_check(payload, outputs, f"{name} {rows} rows"):
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
        say(line)
        res["throughput"].append(entry)

    tmp = Path(tempfile.mkdtemp(prefix="vornel-bench-"))
    largest = {}
    for shape in shapes:
        for n in sizes:
            p = payloads.make(shape, n, seed=a.seed)
            bench_one(shape, n, p, "generated")
            if n == max(sizes):
                path = tmp / f"{shape}-{n}.json"
                path.write_bytes(p)
                largest[shape] = (n, path, len(p))
            if n == thread_rows and not a.no_threads:
                res.setdefault("_tpay", {})[shape] = p
            del p
            gc.collect()

    if not a.no_real:
        files = real_world_files(Path(a.data_dir))
        if not files:
            notes.append(f"no real-world files found in {a.data_dir}")
        for path in files:
            p = path.read_bytes()
            try:
                nrows = len(json.loads(p))
            except ValueError:
                nrows = 0
            bench_one(path.name, nrows, p, "real-world")

    # 3. Threads, on the 10,000-row payloads (or the middle size asked for).
    tpay = res.pop("_tpay", {})
    for shape, p in tpay.items():
        ent = next(e for e in res["throughput"] if e["name"] == shape and e["rows"] == thread_rows)
        if "error" in ent:
            continue
        target = 0.05 if quick else 0.3
        treps = 3
        fns = {}
        if COLUMNARIZE in impls:
            fns[COLUMNARIZE] = impls[COLUMNARIZE]
        fns[ent["best_peer"]] = impls[ent["best_peer"]]
        fns["control"] = sha256_control
        r = thread_speedups(fns, p, target, treps)
        t = {"name": shape, "rows": thread_rows, "peer": ent["best_peer"], "peer_result": r[ent["best_peer"]],
             "control": r["control"]}
        if COLUMNARIZE in r:
            t[COLUMNARIZE] = r[COLUMNARIZE]
        say(f"threads {shape:>12}: " + (f"columnarize {t[COLUMNARIZE]['speedup']:.2f}x  " if COLUMNARIZE in t else "")
            + f"{t['peer']} {t['peer_result']['speedup']:.2f}x  control {t['control']['speedup']:.2f}x")
        res["threads"].append(t)
    del tpay

    # 4. Peak memory of one call on the largest payloads, fresh process each.
    if not a.no_memory:
        # Peak memory does not depend on timing, so two probes run at once.
        from concurrent.futures import ThreadPoolExecutor
        jobs = [(shape, impl) for shape in largest for impl in impls]
        with ThreadPoolExecutor(max_workers=2) as pool:
            done = dict(zip(jobs, pool.map(lambda j: memory_growth(j[1], largest[j[0]][1]), jobs)))
        for shape, (n, path, size) in largest.items():
            mm = {"name": shape, "rows": n, "bytes": size, "growth": {}, "raw": {}}
            for impl in impls:
                r = done[(shape, impl)]
                mm["raw"][impl] = r
                mm["growth"][impl] = r["growth"] / size if "growth" in r else r.get("error", "error")
            say(f"memory {shape:>12} {n} rows {size / 1e6:.1f} MB: " + " ".join(
                f"{k}={v:.1f}x" if isinstance(v, float) else f"{k}=({v})" for k, v in mm["growth"].items()))
            res["memory"].append(mm)
    for _, path, _ in largest.values():
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
