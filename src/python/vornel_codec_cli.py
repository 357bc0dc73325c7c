#!/usr/bin/env python3.15
"""Columnarize a row-oriented JSON file (an array of objects) to standard output.

The input is read from FILE, or from standard input when FILE is absent or "-".
The columnar document {"columns":[...],"rows":[[...]],"constants":{...}} is
written to standard output; a payload that is not an array of objects gets a
message on standard error and exit status 1.
"""

import argparse
import json
import os
import sys


def import_module():
    try:
        import vornel_codec
    except ImportError:
        # Run from a checkout: use the module that tools/test or tools/run built.
        build = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build", "python")
        sys.path.insert(0, os.path.normpath(build))
        import vornel_codec
    return vornel_codec


def main(argv=None):
    parser = argparse.ArgumentParser(prog="columnarize", description=__doc__.split("\n\n")[0])
    parser.add_argument("file", nargs="?", default="-", metavar="FILE", help="row-oriented JSON (default: stdin)")
    parser.add_argument("--stats", action="store_true",
                        help="print rows, columns, constants and sizes to standard error")
    args = parser.parse_args(argv)

    try:
        if args.file == "-":
            payload = sys.stdin.buffer.read()
        else:
            with open(args.file, "rb") as f:
                payload = f.read()
    except OSError as error:
        print(f"columnarize: {error}", file=sys.stderr)
        return 1

    try:
        output = import_module().columnarize(payload)
    except RuntimeError as error:
        print(f"columnarize: {error}", file=sys.stderr)
        return 1

    sys.stdout.buffer.write(output + b"\n")
    sys.stdout.flush()
    if args.stats:
        document = json.loads(output)
        ratio = len(output) / len(payload) if payload else 0.0
        print(
            f"rows: {len(document['rows'])}  columns: {len(document['columns'])}  "
            f"constants: {len(document['constants'])}  "
            f"bytes: {len(payload)} -> {len(output)} ({ratio:.1%} of the input)",
            file=sys.stderr,
        )
    return 0


if __name__ == "__main__":
    sys.exit(main())
