"""Columnarize a row-oriented JSON file (an array of objects) to standard output.

The input is read from FILE, or from standard input when FILE is absent or "-".
The columnar document {"columns":[...],"rows":[[...]],"constants":{...}} is
written to standard output; a payload that is not an array of objects gets a
message on standard error and exit status 1.

Installed as the `columnarize` command; `python -m vornel_codec_cli` runs it too.
"""

import argparse
import json
import os
import sys

import vornel_codec


def read_payload(file):
    if file == "-":
        return sys.stdin.buffer.read()
    with open(file, "rb") as f:
        return f.read()


def stats_line(payload, output):
    document = json.loads(output)
    ratio = len(output) / len(payload) if payload else 0.0
    return (
        f"rows: {len(document['rows'])}  columns: {len(document['columns'])}  "
        f"constants: {len(document['constants'])}  "
        f"bytes: {len(payload)} -> {len(output)} ({ratio:.1%} of the input)"
    )


def main(argv=None):
    parser = argparse.ArgumentParser(prog="columnarize", description=__doc__.split("\n\n")[0])
    parser.add_argument("file", nargs="?", default="-", metavar="FILE", help="row-oriented JSON (default: stdin)")
    parser.add_argument("--stats", action="store_true",
                        help="print rows, columns, constants and sizes to standard error")
    args = parser.parse_args(argv)

    try:
        payload = read_payload(args.file)
        output = vornel_codec.columnarize(payload)
    except (OSError, RuntimeError, MemoryError) as error:
        print(f"columnarize: {error or type(error).__name__}", file=sys.stderr)
        return 1

    try:
        sys.stdout.buffer.write(output + b"\n")
        sys.stdout.flush()
    except BrokenPipeError:
        # The reader stopped early (`| head`). Standard output goes to the
        # null device so that the interpreter's flush at exit fails no more.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    if args.stats:
        print(stats_line(payload, output), file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
