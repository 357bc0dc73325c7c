"""Seeded generators of row-oriented JSON payloads for the benchmarks.

Each shape imitates a kind of document that tools and APIs return:

    api          API records: nested objects, arrays, a few constant members
                 (one of them a nested object whose member order varies from
                 row to row) and members that are null or absent in every row
    logs         log events: quotes, backslashes, tabs, newlines, ANSI control
                 characters, non-ASCII text and emoji, float latencies, members
                 present only on some events
    wide_sparse  200 possible member names, about 15 present in each row
    numeric      number-heavy rows: integers, floats, exponents, negatives
    strings      a few long text members per row
    pydumps      the api rows as Python's json.dumps(rows) writes them by
                 default: ", " and ": " between items, every non-ASCII
                 character as a \\u escape
    indented     the api rows indented by two spaces, non-ASCII kept as is

``make(shape, rows, seed)`` returns the document as UTF-8 JSON bytes, compact
but for the last two; the same arguments always give the same bytes, and
pydumps and indented hold exactly the api rows. ``ints_only=True`` turns every
float into an integer, which gives documents whose output can be compared
across JSON libraries without depending on how each one formats floats.

``real_world_files(folder)`` picks the row files among a folder of real-world
JSON documents.

Usable from Python 3.11 and later with the standard library only.
"""

from __future__ import annotations

import json
import random
import string
from pathlib import Path

SHAPES = ("api", "logs", "wide_sparse", "numeric", "strings", "pydumps", "indented")

_FIRST = ("Ada", "Björn", "Chloé", "Dmitri", "Eun-ji", "Farah", "Gustavo", "Hiro",
          "Ingrid", "José", "Kofi", "Léa", "Mateus", "Nadia", "Oğuz", "Priya",
          "Quentin", "Rosa", "Søren", "Tomás", "Uma", "Viktor", "Wen", "Zoë")
_LAST = ("Okafor", "Müller", "García", "Nakamura", "Smith", "Kowalski", "Ferreira",
         "Nguyen", "O'Brien", "Johansson", "Rossi", "Dubois", "Kim", "Novák", "Patel")
_CITIES = ("Lisboa", "München", "São Paulo", "Kraków", "Zürich", "Montréal", "Tokyo",
           "Reykjavík", "Austin", "Nairobi", "Göteborg", "Valparaíso")
_COUNTRIES = ("PT", "DE", "BR", "PL", "CH", "CA", "JP", "IS", "US", "KE", "SE", "CL")
_WORDS = ("request", "timeout", "retry", "cache", "miss", "user", "session", "token",
          "upstream", "connection", "reset", "payload", "accepted", "queued", "worker",
          "shard", "replica", "lag", "commit", "rollback", "checkpoint", "invoice",
          "order", "shipment", "latency", "budget", "quota", "exceeded", "fallback")
_TEXT_WORDS = _WORDS + ("the", "a", "of", "and", "to", "in", "is", "for", "on", "with",
                        "that", "this", "from", "by", "as", "at", "be", "it", "or")
_UNICODE_BITS = ("café", "naïve", "Straße", "日本語のログ", "данные", "ошибка", "🚀",
                 "✓ ok", "→", "€42", "中文", "Ελληνικά", "½", "ñandú")
_PATHS = ("/api/v1/users/{}", "/api/v1/orders/{}/items", "/health", "/api/v2/search?q={}",
          "/static/js/app.{}.js", "/api/v1/invoices/{}/pdf", "/login", "/api/v1/carts/{}")
_SERVICES = ("gateway", "auth", "billing", "search", "inventory", "notifier")
_LEVELS = ("DEBUG", "INFO", "INFO", "INFO", "INFO", "WARN", "ERROR")
_AGENTS = ("Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko)",
           "curl/8.5.0", "python-requests/2.32.3", "Go-http-client/2.0",
           "Mozilla/5.0 (iPhone; CPU iPhone OS 17_4 like Mac OS X)")


def _iso(rng: random.Random, millis: bool = False) -> str:
    s = "2026-%02d-%02dT%02d:%02d:%02d" % (
        rng.randint(1, 12), rng.randint(1, 28), rng.randint(0, 23),
        rng.randint(0, 59), rng.randint(0, 59))
    if millis:
        s += ".%03d" % rng.randint(0, 999)
    return s + "Z"


def _hex(rng: random.Random, n: int) -> str:
    return "%0*x" % (n, rng.getrandbits(4 * n))


def _api_row(rng: random.Random, i: int) -> dict:
    first, last = rng.choice(_FIRST), rng.choice(_LAST)
    # The constant nested object, with its members in varying order: equal
    # objects regardless of member order.
    tenant = [("id", 7), ("region", "eu-west-1"), ("plan", "enterprise")]
    rng.shuffle(tenant)
    row = {
        "id": 100000 + i,
        "uuid": "%s-%s-4%s-%s-%s" % (_hex(rng, 8), _hex(rng, 4), _hex(rng, 3),
                                     _hex(rng, 4), _hex(rng, 12)),
        "object": "customer",
        "api_version": "2026-06-01",
        "name": f"{first} {last}",
        "email": f"{first.lower()}.{last.lower()}{i}@example.com",
        "created_at": _iso(rng),
        "active": rng.random() < 0.8,
        "balance": round(rng.uniform(-500, 20000), 2),
        "currency": rng.choice(("EUR", "USD", "GBP", "BRL")),
        "address": {
            "line1": f"{rng.randint(1, 999)} {rng.choice(_LAST)} Street",
            "city": rng.choice(_CITIES),
            "postal_code": "%05d" % rng.randint(0, 99999),
            "country": rng.choice(_COUNTRIES),
        },
        "tags": rng.sample(("vip", "beta", "churn-risk", "newsletter", "b2b", "trial"),
                           rng.randint(0, 3)),
        "metadata": {"source": rng.choice(("web", "ios", "android", "import")),
                     "score": rng.randint(0, 100), "referrer": None},
        "tenant": dict(tenant),
        "deleted_at": None,
        "livemode": True,
        "orders": rng.randint(0, 250),
        "last_login": _iso(rng) if rng.random() < 0.9 else None,
    }
    if rng.random() < 0.3:
        row["discount"] = {"coupon": "SPRING" + str(rng.randint(10, 50)),
                           "percent_off": rng.choice((5, 10, 15, 20, 12.5))}
    if rng.random() < 0.5:
        row["legacy_id"] = None      # null where present, absent elsewhere
    return row


def _log_message(rng: random.Random) -> str:
    words = [rng.choice(_WORDS) for _ in range(rng.randint(4, 14))]
    k = rng.random()
    if k < 0.25:
        words.insert(rng.randrange(len(words) + 1), rng.choice(_UNICODE_BITS))
    if k > 0.6:
        words.append('"%s"' % rng.choice(_WORDS))                 # quotes
    if rng.random() < 0.15:
        words.append("C:\\srv\\%s\\%s.log" % (rng.choice(_SERVICES), rng.choice(_WORDS)))
    if rng.random() < 0.1:
        words.append("\x1b[31mred\x1b[0m")                         # ANSI escapes
    text = " ".join(words)
    if rng.random() < 0.1:
        text += "\n\tat worker.run(worker.py:%d)\n\tat main()" % rng.randint(1, 900)
    return text


def _logs_row(rng: random.Random, i: int) -> dict:
    level = rng.choice(_LEVELS)
    status = 200 if level in ("DEBUG", "INFO") else rng.choice((400, 404, 429, 500, 503))
    row = {
        "ts": _iso(rng, millis=True),
        "level": level,
        "service": rng.choice(_SERVICES),
        "env": "production",
        "host": "node-%02d" % rng.randint(1, 24),
        "msg": _log_message(rng),
        "method": rng.choice(("GET", "GET", "GET", "POST", "PUT", "DELETE")),
        "path": rng.choice(_PATHS).format(rng.randint(1, 99999)),
        "status": status,
        "latency_ms": round(rng.lognormvariate(3.0, 1.0), 3),
        "bytes": rng.randint(0, 250000),
        "trace_id": _hex(rng, 32),
        "user_agent": rng.choice(_AGENTS),
    }
    if level in ("WARN", "ERROR"):
        row["error"] = {"kind": rng.choice(("Timeout", "ValueError", "KeyError", "IOError")),
                        "detail": _log_message(rng), "retryable": rng.random() < 0.5}
    if rng.random() < 0.4:
        row["user_id"] = rng.randint(1, 10 ** 7)
    return row


_WIDE_KEYS = tuple("attr_%03d" % k for k in range(200))


def _wide_value(rng: random.Random, key_index: int):
    kind = key_index % 5
    if kind == 0:
        return rng.randint(-10 ** 6, 10 ** 6)
    if kind == 1:
        return rng.choice(_WORDS) + "-" + str(rng.randint(0, 999))
    if kind == 2:
        return round(rng.uniform(0, 1000), 4)
    if kind == 3:
        return rng.random() < 0.5
    return [rng.randint(0, 9) for _ in range(rng.randint(0, 3))]


def _wide_sparse_row(rng: random.Random, i: int) -> dict:
    row = {"id": i}
    picks = rng.sample(range(200), rng.randint(11, 19))   # about 15 per row
    for k in picks:
        row[_WIDE_KEYS[k]] = _wide_value(rng, k)
    return row


def _numeric_row(rng: random.Random, i: int) -> dict:
    return {
        "id": i,
        "t": 1780000000000 + i * 1000 + rng.randint(0, 999),
        "sensor": rng.randint(1, 64),
        "x": rng.uniform(-180, 180),
        "y": rng.uniform(-90, 90),
        "z": round(rng.gauss(0, 50), 3),
        "temp": round(rng.uniform(-20, 45), 1),
        "pressure": round(rng.uniform(950, 1050), 2),
        "count": rng.randint(0, 10 ** 6),
        "ratio": rng.random(),
        "tiny": rng.random() * 1e-7,
        "huge": rng.random() * 1e22,
        "delta": -rng.randint(0, 2 ** 40),
        "big": rng.randint(2 ** 53, 2 ** 62),
        "unit": 1,
        "scale": 1.0 if i % 3 else 1,   # one number, written both ways
    }


def _text(rng: random.Random, lo: int, hi: int) -> str:
    n = rng.randint(lo, hi)
    out, size = [], 0
    while size < n:
        w = rng.choice(_TEXT_WORDS)
        if rng.random() < 0.02:
            w = rng.choice(_UNICODE_BITS)
        out.append(w)
        size += len(w) + 1
    s = " ".join(out)
    s = s[0].upper() + s[1:] + "."
    if rng.random() < 0.2:
        s += ' She said "%s".' % rng.choice(_WORDS)
    if n > 300 and rng.random() < 0.2:
        s += "\n\n" + _text(rng, 40, 200)                         # paragraphs
    return s


def _strings_row(rng: random.Random, i: int) -> dict:
    return {
        "id": i,
        "slug": "-".join(rng.choice(_WORDS) for _ in range(4)) + "-" + str(i),
        "title": _text(rng, 30, 90),
        "author": rng.choice(_FIRST) + " " + rng.choice(_LAST),
        "lang": "en",
        "summary": _text(rng, 60, 160),
        "body": _text(rng, 200, 600),
        "url": "https://example.com/articles/" + "".join(
            rng.choice(string.ascii_lowercase) for _ in range(12)),
    }


_ROW_MAKERS = {
    "api": _api_row,
    "logs": _logs_row,
    "wide_sparse": _wide_sparse_row,
    "numeric": _numeric_row,
    "strings": _strings_row,
}

_COMPACT = {"separators": (",", ":"), "ensure_ascii": False}

# Shapes that differ from another only in how the text is laid out, as tools
# commonly write JSON: (the shape whose rows they hold, json.dumps options).
_LAYOUTS = {
    "pydumps": ("api", {}),
    "indented": ("api", {"indent": 2, "ensure_ascii": False}),
}


def _layout(shape: str) -> tuple:
    return _LAYOUTS.get(shape, (shape, _COMPACT))


def integerize(value):
    """The same value with every float replaced by an integer near it."""
    t = type(value)
    if t is float:
        return int(value * 100) if abs(value) < 1e15 else 10 ** 15
    if t is dict:
        return {k: integerize(v) for k, v in value.items()}
    if t is list:
        return [integerize(v) for v in value]
    return value


def make_rows(shape: str, rows: int, seed: int = 1, ints_only: bool = False) -> list:
    """The rows of a payload as Python objects."""
    rows_of, _ = _layout(shape)
    try:
        maker = _ROW_MAKERS[rows_of]
    except KeyError:
        raise ValueError(f"unknown shape {shape!r}; expected one of {SHAPES}") from None
    rng = random.Random(f"{rows_of}:{seed}")
    out = [maker(rng, i) for i in range(rows)]
    if ints_only:
        out = [integerize(r) for r in out]
    return out


def make(shape: str, rows: int, seed: int = 1, ints_only: bool = False) -> bytes:
    """A payload as UTF-8 JSON bytes (same arguments, same bytes)."""
    data = make_rows(shape, rows, seed, ints_only)
    _, options = _layout(shape)
    return json.dumps(data, allow_nan=False, **options).encode("utf-8")


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


if __name__ == "__main__":
    import argparse
    import sys

    ap = argparse.ArgumentParser(description="write a generated payload to stdout")
    ap.add_argument("shape", choices=SHAPES)
    ap.add_argument("rows", type=int)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--ints-only", action="store_true")
    a = ap.parse_args()
    sys.stdout.buffer.write(make(a.shape, a.rows, a.seed, a.ints_only))

