"""Draws the throughput chart from the results of bench/compare.py.

    python3 bench/plot_benchmarks.py [docs/benchmarks.json] [docs/benchmarks.png]

Needs only matplotlib (Debian: apt-get install python3-matplotlib; any
Python 3.9+), so it runs apart from the benchmark's own interpreter.
"""

from __future__ import annotations

import json
import sys
from pathlib import Path

import matplotlib
import matplotlib.ticker

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

ROOT = Path(__file__).resolve().parent.parent

STYLE = {
    "json": ("#8c8c8c", ""),
    "orjson": ("#4c72b0", ""),
    "msgspec": ("#55a868", ""),
    "ujson": ("#8172b2", ""),
    "previous": ("#e8a33d", ""),
    "columnarize": ("#dd5327", ""),
    "json floor": ("#8c8c8c", "//"),
    "orjson floor": ("#4c72b0", "//"),
    "msgspec floor": ("#55a868", "//"),
    "ujson floor": ("#8172b2", "//"),
    "best floor": ("#333333", "//"),
}


def _value(entry, impl):
    mbs = entry["mb_s"]
    if impl == "best floor":
        return max((v for k, v in mbs.items() if k.endswith("floor")), default=0)
    return mbs.get(impl, 0)


def _size(nbytes):
    return f"{nbytes / 1e6:.1f} MB" if nbytes >= 1e5 else f"{nbytes / 1e3:.0f} kB"


def _panel(ax, entries, impls, title):
    groups = [e for e in entries if "mb_s" in e]
    if not groups:
        ax.set_visible(False)
        return
    width = 0.8 / len(impls)
    for j, impl in enumerate(impls):
        color, hatch = STYLE.get(impl, ("#333333", ""))
        xs = [i + (j - (len(impls) - 1) / 2) * width for i in range(len(groups))]
        ys = [_value(g, impl) for g in groups]
        ax.bar(xs, ys, width, label=impl, color=color if not hatch else "white",
               edgecolor=color, hatch=hatch, linewidth=0.8)
    ax.set_xticks(range(len(groups)))
    labels = []
    for g in groups:
        name = g["name"].removesuffix(".json")
        labels.append(f"{name}\n{_size(g['bytes'])}")
    ax.set_xticklabels(labels, rotation=35 if len(groups) > 8 else 0, ha="right" if len(groups) > 8 else "center",
                       fontsize=8)
    ax.set_yscale("log")
    ax.yaxis.set_major_locator(matplotlib.ticker.FixedLocator(
        [m * 10 ** e for e in range(0, 5) for m in (1, 2, 5)]))
    ax.yaxis.set_major_formatter(matplotlib.ticker.FuncFormatter(lambda v, _: f"{v:g}"))
    ax.yaxis.set_minor_formatter(matplotlib.ticker.NullFormatter())
    ax.set_ylabel("MB/s of input (log scale)")
    ax.set_title(title, fontsize=11)
    ax.grid(axis="y", which="both", alpha=0.3)
    ax.set_xlim(-0.6, len(groups) - 0.4)
    # room above the tallest bar for the legend, which sits inside the panel
    ax.set_ylim(top=3 * max(_value(g, impl) for g in groups for impl in impls))


def main(argv):
    src = Path(argv[1]) if len(argv) > 1 else ROOT / "docs" / "benchmarks.json"
    dst = Path(argv[2]) if len(argv) > 2 else src.with_suffix(".png")
    res = json.loads(src.read_text(encoding="utf-8"))
    impls = res["implementations"]
    order = [n for n in ("json", "ujson", "orjson", "msgspec", "previous", "columnarize") if n in impls] + \
            [n for n in impls if n.endswith("floor")]
    gen = [e for e in res["throughput"] if e.get("kind") == "generated"]
    sizes = sorted({e["rows"] for e in gen})
    size = 10000 if 10000 in sizes else (sizes[-1] if sizes else None)
    gen = [e for e in gen if e["rows"] == size]
    real = [e for e in res["throughput"] if e.get("kind") == "real-world"]

    transforms = [n for n in order if not n.endswith("floor")]
    panels = [(gen, order, f"Generated payloads, {size:,} rows" if size else "")] if gen else []
    if real:
        panels.append((real, transforms + ["best floor"],
                       "Real-world files (hatched: the fastest library's bare floor)"))
    fig, axes = plt.subplots(len(panels), 1, figsize=(16, 5.5 * len(panels)), squeeze=False,
                             gridspec_kw={"height_ratios": [1] * len(panels)})
    for ax, (entries, impls_here, title) in zip(axes[:, 0], panels):
        _panel(ax, entries, impls_here, title)
        ax.legend(ncol=len(impls_here), fontsize=8, loc="upper left")
    m = res["machine"]
    beside = " and the previous build" if "previous" in impls else ""
    fig.suptitle(f"columnarize{beside} vs Python transforms (solid) and bare dumps(loads(x)) floors (hatched) — "
                 f"{m['cpu']}, {m['cores']} cores, CPython {m['python']}, {m['date']}", fontsize=10, y=0.995)
    fig.tight_layout()
    fig.savefig(dst, dpi=90)
    print(f"wrote {dst}")


if __name__ == "__main__":
    main(sys.argv)
