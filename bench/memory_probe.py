"""Peak resident memory growth of one call, measured in this fresh process.

    python3.15 bench/memory_probe.py IMPLEMENTATION PAYLOAD_FILE [--previous EXTENSION_FILE]

IMPLEMENTATION is a name from bench/compare.py (json, orjson, msgspec, ujson,
columnarize, "orjson floor", ...; "previous" with --previous naming the other
build's extension file). Prints one JSON object:

    {"input": bytes, "output": bytes, "rss_before": bytes, "peak": bytes, "growth": bytes, "method": ...}

Everything is imported and the payload read before the baseline; the kernel's
peak counter (VmHWM) is then reset through /proc/self/clear_refs, so "growth"
is the highest resident size reached during the call, output included, less
the resident size just before it. Where the reset is not allowed, the peak of
the whole process (ru_maxrss) stands in, which can only overstate the growth.
"""

from __future__ import annotations

import argparse
import gc
import json
import resource
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import compare  # noqa: E402


def _status(field: str) -> int:
    with open("/proc/self/status", encoding="ascii") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise KeyError(field)


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("implementation")
    ap.add_argument("payload_file")
    ap.add_argument("--previous", help="the previous build's extension file")
    a = ap.parse_args()
    previous = compare.load_previous(a.previous) if a.previous else None
    fn = compare.implementations(previous)[a.implementation]
    payload = Path(a.payload_file).read_bytes()
    gc.collect()
    try:
        with open("/proc/self/clear_refs", "w", encoding="ascii") as f:
            f.write("5")                      # reset VmHWM to the current VmRSS
        method = "VmHWM reset by clear_refs"
    except OSError:
        method = "ru_maxrss of the whole process"
    before = _status("VmRSS")
    out = fn(payload)
    try:
        peak = _status("VmHWM") if method.startswith("VmHWM") else None
    except KeyError:
        peak = None
    if peak is None:
        peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
    print(json.dumps({"input": len(payload), "output": len(out), "rss_before": before,
                      "peak": peak, "growth": max(0, peak - before), "method": method}))
    return 0


if __name__ == "__main__":
    sys.exit(main())
