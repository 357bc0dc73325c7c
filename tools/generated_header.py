"""The command line of the header generators in tools/: the header on
standard output, or, with --check PATH, whether the committed header at
PATH is exactly what the generator writes (ctest runs that check)."""

import sys
from typing import Callable


def run(render: Callable[[], str], usage: str, argv: list[str]) -> int:
    text = render()
    if len(argv) == 3 and argv[1] == "--check":
        with open(argv[2], encoding="utf-8") as f:
            if f.read() != text:
                print(f"{argv[2]} differs from the generator's output", file=sys.stderr)
                return 1
        print(f"{argv[2]} matches the generator's output")
        return 0
    if len(argv) != 1:
        print(usage, file=sys.stderr)
        return 2
    sys.stdout.write(text)
    return 0
