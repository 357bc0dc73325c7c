from typing import SupportsIndex

__all__ = ["columnarize"]

def columnarize(payload: bytes, min_rows: SupportsIndex = 20) -> bytes:
    """Columnarize a row-oriented JSON payload; the GIL is released while it works.

    Raises RuntimeError for a payload that is not a JSON array of objects, and
    MemoryError ("columnar output would be N bytes for a payload of M bytes")
    before allocating an output larger than both 256 MiB and 64 times the
    payload: rows that each bring new keys pad every row with nulls.
    """
    ...
