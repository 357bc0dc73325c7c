"""Calls of columnarize with their allocations failing in turn: the 1st, then
the 2nd, and so on, until the call comes out as it does without failures.

Three ways to fail them:
- "cpp": the Nth allocation of the module's C++ code, requested through the
  payload (a build with VORNEL_TEST_HOOKS, src/lib/test_hooks.h);
- "cpp-persistent": the same, with every allocation from the Nth on failing,
  as when memory runs out for good;
- "python": the Nth allocation through the interpreter's allocators,
  through _testcapi's allocation-failure hook.

Every failing call must raise MemoryError, or come out as it does without
failures (the payload refused before it reached the failing allocation, say),
and the next call without failures must come out right again.

Imports nothing but the standard library and the module, so that a walk can
run in a process of its own: `python allocation_walk.py` walks the payloads
on its standard input (see main), in processes of their own, so that a crash
ends only its process and LeakSanitizer checks the walk at exit without
seeing the test suite's own allocations.
"""

import json
import os
import resource
import sys

from vornel_codec import columnarize

try:
    import _testcapi
except ImportError:  # an interpreter built without its test modules
    _testcapi = None

# Whether this interpreter can walk its own allocations. Before 3.14 it loses
# errors of its own when an allocation fails while it raises them: a builtin
# such as int.from_bytes() then fails with SystemError "error return without
# exception set", or raises its error without the message.
PYTHON_WALKS = _testcapi is not None and sys.version_info >= (3, 14)

# Calls in a row that must come out as without failures before a walk ends.
# The module recovers from none of its own failed allocations, so its first
# call that completes has made fewer than N. The interpreter recovers from
# some of its own: a failure in the UTF-8 conversion of a name with a lone
# surrogate, which the boundary clears anyway, completes eight times in a row
# before the walk reaches the allocations after it.
SETTLE = {"cpp": 3, "cpp-persistent": 3, "python": 50}

# The one message that a failed allocation changes rather than replaces:
# the type's name could not be had (src/lib/errors.cpp).
TYPE_NAME_FALLBACK = "'<failed to extract type name>' object is not an instance of 'bytes'"


def outcome(call):
    """("ok", the bytes) or the exception's type name, arguments and notes."""
    try:
        return ("ok", call())
    except BaseException as error:  # the internal fault is no Exception
        return (type(error).__name__, error.args, getattr(error, "__notes__", None))


def degraded(got, expected):
    """Whether `got` is the error `expected`, as far as memory allowed: its note
    may be missing (adding it failed, and the error stays as it was), the
    name of a mismatched type may be replaced by the fallback."""
    if got[0] == "ok" or got[0] != expected[0] or got[2] not in (expected[2], None, []):
        return False
    return got[1] == expected[1] or (got[1] == (TYPE_NAME_FALLBACK,) and expected[1][0].endswith(" of 'bytes'"))


def with_interpreter_allocation_failing(n, call):
    """call() with the interpreter's allocation `n` failing."""
    if hasattr(_testcapi, "call_with_nomemory"):  # 3.15: the hook spans the call alone
        return _testcapi.call_with_nomemory(n - 1, n, call)
    _testcapi.set_nomemory(n - 1, n)
    try:
        return call()
    finally:
        _testcapi.remove_mem_hooks()


def failing_call(mode, n, args, kwargs):
    """A function calling columnarize(*args, **kwargs) with allocation `n` failing as `mode` says."""
    if mode == "python":
        return lambda: with_interpreter_allocation_failing(n, lambda: columnarize(*args, **kwargs))
    directive = b"allocations" if mode == "cpp-persistent" else b"allocation"
    payload = b"!fault:%s:%d:%s" % (directive, n, args[0])
    return lambda: columnarize(payload, *args[1:], **kwargs)


def walk(mode, args, kwargs, first=1, skip=(), before_step=None):
    """Walks the allocations of columnarize(*args, **kwargs) from the `first`
    on, leaving out those in `skip`. Returns the last one whose failure
    changed the call's outcome, and the problems found."""
    expected = outcome(lambda: columnarize(*args, **kwargs))
    steps, problems = 0, []
    n, completed = first - 1, 0
    while completed < SETTLE[mode]:
        n += 1
        if n in skip:
            continue
        if before_step is not None:
            before_step(n)
        got = outcome(failing_call(mode, n, args, kwargs))
        if got == expected:
            completed += 1
            continue
        steps, completed = n, 0
        if got[0] != "MemoryError" and not degraded(got, expected):
            problems.append(f"allocation {n} failing: {got!r}, without failures: {expected!r}")
        after = outcome(lambda: columnarize(*args, **kwargs))
        if after != expected:
            problems.append(f"after allocation {n} failed, the next call: {after!r}, not {expected!r}")
    return steps, problems


def references_gained(function):
    """The total reference count's growth over function(), net of what
    reading the count itself adds."""
    before = sys.gettotalrefcount()
    function()
    gained = sys.gettotalrefcount() - before
    before = sys.gettotalrefcount()
    return gained - (sys.gettotalrefcount() - before)


def walk_counting_references(mode, args, kwargs, skip=()):
    """walk, and on a debug interpreter the same walk three times more with
    the total reference count watched: a reference leaked on a failure path
    of the module shows as one per walk at least. Only the module's own
    failures are watched so: the interpreter's leak a reference on some of
    its own failure paths (a failed allocation in BaseException.add_note
    called from Python code alone leaks one every time)."""
    steps, problems = walk(mode, args, kwargs, skip=skip)
    if hasattr(sys, "gettotalrefcount") and mode != "python":
        walks = 3
        leaked = references_gained(lambda: [walk(mode, args, kwargs, skip=skip) for _ in range(walks)])
        if leaked >= walks:
            problems.append(f"{leaked} references leaked over {walks} walks")
    return steps, problems


def walk_in_forks(walks):
    """Each walk of `walks`, a list of (mode, args), in a forked process that
    goes from one to the next: when it ends in the middle of a step, the step
    is noted and the walks go on after it in a new one. Returns, for each
    walk, the last step that changed the outcome, the problems, and the
    steps that ended their process with their wait statuses."""
    results = [[0, [], []] for _ in walks]
    start, first = 0, 1
    while start < len(walks):
        read_end, write_end = os.pipe()
        pid = os.fork()
        if pid == 0:
            os.close(read_end)
            resource.setrlimit(resource.RLIMIT_CORE, (0, 0))  # a crash is expected news, not a core file
            with os.fdopen(write_end, "w") as out:
                for i in range(start, len(walks)):
                    mode, args = walks[i]

                    def before_step(n, i=i):
                        print(json.dumps([i, n]), file=out, flush=True)

                    steps, problems = walk(mode, args, {}, first if i == start else 1, before_step=before_step)
                    print(json.dumps({"walk": i, "steps": steps, "problems": problems}), file=out, flush=True)
            os._exit(0)  # no clean-up of the copied interpreter: its parent does that
        os.close(write_end)
        with os.fdopen(read_end) as lines:
            said = [json.loads(line) for line in lines]
        _, status = os.waitpid(pid, 0)
        at = None
        for message in said:
            if isinstance(message, list):
                at = message
            else:
                result = results[message["walk"]]
                result[0] = max(result[0], message["steps"])
                result[1] += message["problems"]
                at = None
        if at is None:
            if status != 0:
                raise RuntimeError(f"the walks' process ended between two walks: status {status}")
            return results
        i, n = at
        results[i][0] = max(results[i][0], n)
        results[i][2].append((n, status))
        start, first = i, n + 1
    return results


def main():
    """Reads {"payloads": [[id, payload as Latin-1 text, [mode, ...]], ...]}
    and walks each payload in each of its modes, in forked processes, and
    then again in this one, leaving out the steps that ended a process, so
    that LeakSanitizer (at exit) and a debug interpreter's total reference
    count see every other step. Writes {id: {mode: {"steps", "problems",
    "crashes"}}} as JSON."""
    walks = [(case, mode, (text.encode("latin-1"),)) for case, text, modes in json.load(sys.stdin)["payloads"]
             for mode in modes]
    results = {}
    for (case, mode, args), (steps, problems, crashes) in zip(walks, walk_in_forks([w[1:] for w in walks])):
        _, again = walk_counting_references(mode, args, {}, skip={step for step, _ in crashes})
        problems += [problem for problem in again if problem not in problems]
        results.setdefault(case, {})[mode] = {"steps": steps, "problems": problems, "crashes": crashes}
    json.dump(results, sys.stdout)


if __name__ == "__main__":
    main()
