"""What the interpreter sees at import, through both entry points."""

import ctypes
import importlib.machinery
import importlib.util
import sys

import vornel_codec


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


def test_reimport_makes_a_new_function_and_all():
    fresh = load_fresh()
    assert fresh is not vornel_codec
    assert fresh.columnarize is not vornel_codec.columnarize
    assert fresh.__all__ == ["columnarize"] and fresh.__all__ is not vornel_codec.__all__
    assert fresh.columnarize(b'[{"a":1}]') == vornel_codec.columnarize(b'[{"a":1}]')


def test_legacy_init_entry_point():
    """PyInit_vornel_codec hands over a definition that builds a working module."""
    library = ctypes.PyDLL(vornel_codec.__file__)
    library.PyInit_vornel_codec.restype = ctypes.c_void_p
    definition = library.PyInit_vornel_codec()
    assert definition

    api = ctypes.pythonapi
    api.PyModule_FromDefAndSpec2.restype = ctypes.py_object
    api.PyModule_FromDefAndSpec2.argtypes = [ctypes.c_void_p, ctypes.py_object, ctypes.c_int]
    api.PyModule_ExecDef.restype = ctypes.c_int
    api.PyModule_ExecDef.argtypes = [ctypes.py_object, ctypes.c_void_p]
    module_spec = importlib.machinery.ModuleSpec("vornel_codec", None, origin=vornel_codec.__file__)
    module = api.PyModule_FromDefAndSpec2(definition, module_spec, sys.api_version)
    assert api.PyModule_ExecDef(module, definition) == 0
    assert module.__doc__ == ""
    assert module.__all__ == ["columnarize"]
    assert module.columnarize(b'[{"a":1},{"a":1}]') == b'{"columns":[],"rows":[[],[]],"constants":{"a":1}}'
