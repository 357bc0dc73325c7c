"""Prints the transform beside the anchors, from the JSON that the layer
benchmark writes (bench/layers): per document, the input MB/s of the whole
transform (plan + write), of yyjson's read + write and of simdjson's parse +
minify, and the transform over each; then the median ratio over yyjson and
the documents where the transform is slower than it.

    python3 bench/anchor_table.py build/layers.json
"""

from __future__ import annotations

import json
import statistics
import sys


def main(path: str) -> None:
    rates: dict[str, dict[str, float]] = {}
    for run in json.load(open(path, encoding="utf-8"))["benchmarks"]:
        document, _, layer = run["name"].rpartition("/")
        if "bytes_per_second" in run:
            rates.setdefault(document, {})[layer] = run["bytes_per_second"] / 1e6
    print(f"\n{'document':40} {'transform':>10} {'yyjson':>8} {'simdjson':>9} {'× yyjson':>9} {'× simdjson':>11}")
    over_yyjson = []
    for document, layers in rates.items():
        transform = layers.get("columnarize")
        if transform is None:
            continue
        cells = [f"{document:40}", f"{transform:10,.0f}"]
        for anchor, width in (("yyjson", 8), ("simdjson", 9)):
            cells.append(f"{layers[anchor]:{width},.0f}" if anchor in layers else f"{'-':>{width}}")
        for anchor, width in (("yyjson", 9), ("simdjson", 11)):
            ratio = transform / layers[anchor] if anchor in layers else None
            cells.append(f"{ratio:{width - 1}.2f}×" if ratio else f"{'-':>{width}}")
            if anchor == "yyjson" and ratio:
                over_yyjson.append((ratio, document))
        print(" ".join(cells))
    if over_yyjson:
        slower = sorted(d for r, d in over_yyjson if r < 1)
        print(f"\ntransform over yyjson: median {statistics.median(r for r, _ in over_yyjson):.2f}×, "
              f"range {min(over_yyjson)[0]:.2f}–{max(over_yyjson)[0]:.2f}×, "
              f"below 1× on {len(slower)} of {len(over_yyjson)} documents{': ' + ', '.join(slower) if slower else ''}")


if __name__ == "__main__":
    main(sys.argv[1])
