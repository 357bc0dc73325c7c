from typing import SupportsIndex

__all__ = ["columnarize"]

def columnarize(payload: bytes, min_rows: SupportsIndex = 20) -> bytes:
    """Columnarize a row-oriented JSON payload; the GIL is released while it works."""
    ...
