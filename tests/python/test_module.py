"""What the interpreter sees at import, through both entry points."""

import ctypes
import importlib.machinery
import importlib.util
import itertools
import sys
import types

import pytest

import vornel_codec
from allocation_walk import PYTHON_WALKS, SETTLE, outcome, with_interpreter_allocation_failing


def test_module_attributes():
    assert vornel_codec.__doc__ == ""
    assert vornel_codec.__all__ == ["columnarize"]
    f = vornel_codec.columnarize
    assert f.__module__ == "vornel_codec"
    assert f.__name__ == "columnarize"
    assert f.__text_signature__ == "(payload, min_rows=20)"
    assert f.__doc__.startswith("Columnarize a row-oriented JSON payload")
    assert "stack overflow" in f.__doc__


def test_self_is_what_a_static_method_flag_gives():
    # The function is created bound to the module, but METH_STATIC makes the
    # interpreter report no __self__.
    assert vornel_codec.columnarize.__self__ is None


def load_fresh(name="vornel_codec"):
    module_spec = importlib.util.spec_from_file_location(name, vornel_codec.__file__)
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module


@pytest.mark.skipif(not PYTHON_WALKS, reason="needs CPython 3.14 or later with _testcapi")
def test_every_interpreter_allocation_of_an_import_failing_in_turn():
    """A module object made and executed with each allocation of the
    interpreter failing in turn, until 50 in a row make a working module:
    each other one raises MemoryError, but where appending the function's
    name to __all__ fails, which the exec function reports as the internal
    fault it is."""
    module_spec = importlib.util.spec_from_file_location("vornel_codec", vornel_codec.__file__)

    def load():
        module = importlib.util.module_from_spec(module_spec)
        module_spec.loader.exec_module(module)
        return module

    problems, completed = [], 0
    for n in itertools.count(1):
        got = outcome(lambda: with_interpreter_allocation_failing(n, load))
        if got[0] == "ok" and got[1].columnarize(b"[]") == b'{"columns":[],"rows":[],"constants":{}}':
            completed += 1
            if completed == SETTLE["python"]:
                break
            continue
        completed = 0
        failed_append = got[0] == "FaultException" and got[1][0].startswith("could not append __name__ to __all__")
        if got[0] != "MemoryError" and not failed_append:
            problems.append((n, got))
    assert not problems


def test_reimport_makes_a_new_function_and_all():
    fresh = load_fresh()
    assert fresh is not vornel_codec
    assert fresh.columnarize is not vornel_codec.columnarize
    assert fresh.__all__ == ["columnarize"] and fresh.__all__ is not vornel_codec.__all__
    assert fresh.columnarize(b'[{"a":1}]') == vornel_codec.columnarize(b'[{"a":1}]')


class LegacyEntry:
    """The definition PyInit_vornel_codec hands over, turned into module objects step by step."""

    def __init__(self):
        library = ctypes.PyDLL(vornel_codec.__file__)
        library.PyInit_vornel_codec.restype = ctypes.c_void_p
        self.definition = library.PyInit_vornel_codec()
        assert self.definition
        self.api = ctypes.pythonapi
        self.api.PyModule_FromDefAndSpec2.restype = ctypes.py_object
        self.api.PyModule_FromDefAndSpec2.argtypes = [ctypes.c_void_p, ctypes.py_object, ctypes.c_int]
        self.api.PyModule_ExecDef.restype = ctypes.c_int
        self.api.PyModule_ExecDef.argtypes = [ctypes.py_object, ctypes.c_void_p]

    def create(self):
        module_spec = importlib.machinery.ModuleSpec("vornel_codec", None, origin=vornel_codec.__file__)
        return self.api.PyModule_FromDefAndSpec2(self.definition, module_spec, sys.api_version)

    def exec(self, module):
        return self.api.PyModule_ExecDef(module, self.definition)


def test_legacy_init_entry_point():
    """PyInit_vornel_codec hands over a definition that builds a working module."""
    entry = LegacyEntry()
    module = entry.create()
    assert entry.exec(module) == 0
    assert module.__doc__ == ""
    assert module.__all__ == ["columnarize"]
    assert module.columnarize(b'[{"a":1},{"a":1}]') == b'{"columns":[],"rows":[[],[]],"constants":{"a":1}}'


class T:
    pass


class RefusingAll(types.ModuleType):
    def __setattr__(self, name, value):
        raise PermissionError(f"read-only {name}")


class RefusingFunction(types.ModuleType):
    def __setattr__(self, name, value):
        if name == "columnarize":
            raise PermissionError(f"read-only {name}")
        super().__setattr__(name, value)


def failing_module_getattr(name):
    raise LookupError(f"no {name} here")


# What the exec function meets in the module object, and the error it raises.
# Unreachable from Python, so untested: an object that is not a module (the
# interpreter refuses it first), a function whose __name__ is missing or not a
# str, and a failure to append to a list short of exhausted memory.
EXEC_FAILURES = [
    ("all_not_a_list", lambda m: setattr(m, "__all__", T()), TypeError, "'T' object is not an instance of 'list'"),
    ("all_is_a_tuple", lambda m: setattr(m, "__all__", ("x",)), TypeError,
     "'tuple' object is not an instance of 'list'"),
    ("all_is_none", lambda m: setattr(m, "__all__", None), TypeError, "'None' is not an instance of 'list'"),
    ("all_lookup_fails", lambda m: setattr(m, "__getattr__", failing_module_getattr), LookupError,
     "no __all__ here"),
    ("all_cannot_be_set", lambda m: setattr(m, "__class__", RefusingAll), PermissionError, "read-only __all__"),
    ("function_cannot_be_set", lambda m: setattr(m, "__class__", RefusingFunction), PermissionError,
     "read-only columnarize"),
]


@pytest.mark.parametrize("prepare, kind, message", [c[1:] for c in EXEC_FAILURES], ids=[c[0] for c in EXEC_FAILURES])
def test_exec_failures(prepare, kind, message):
    entry = LegacyEntry()
    module = entry.create()
    prepare(module)
    with pytest.raises(kind) as raised:
        entry.exec(module)
    assert type(raised.value) is kind and str(raised.value) == message
