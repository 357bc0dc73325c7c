#include "lib/columnarize_function.h"

#include <string_view>

#include "lib/errors.h"
#include "lib/messages.h"
#include "lib/transform_call.h"

namespace vornel::lib {
namespace {

constexpr char kDocstring[] =
    "columnarize(payload, min_rows=20)\n--\n\n"
    "Columnarize a row-oriented JSON payload (bytes or str), GIL released\n"
    "for the duration of the transform.\n\n"
    "Args:\n"
    "    payload: UTF-8 JSON bytes/str encoding a `list[dict]` of rows.\n"
    "    min_rows: Accepted for parity with the Python codec's signature;\n"
    "        not re-checked here (the Python caller already applied the\n"
    "        guard before calling this function).\n\n"
    "Returns:\n"
    "    UTF-8 JSON bytes encoding `{\"columns\", \"rows\", \"constants\"}`.\n\n"
    "The transform runs inside a fault containment, so that an unexpected\n"
    "internal fault (an unforeseen indexing error, for example) surfaces as\n"
    "an ordinary RuntimeError instead of the BaseException-derived fault\n"
    "exception, which would silently bypass the `except Exception:` guard of\n"
    "the caller's `columnar` module and break the contract \"a broken codec\n"
    "must never break a tool call\" (a fix made in code review). It does not\n"
    "protect against a stack overflow, which aborts the process\n"
    "unconditionally and cannot be caught by any mechanism: a residual,\n"
    "documented limitation.";

struct Arguments {
  PyObject* payload = nullptr;   // borrowed
  PyObject* min_rows = nullptr;  // borrowed
};

[[gnu::cold]] bool raise_unexpected_keyword(PyObject* name) {
  PyObject* str = PyObject_Str(name);
  PyObject* text = str == nullptr ? nullptr : lenient_text(str);
  Py_XDECREF(str);
  if (text != nullptr) {
    PyErr_Format(PyExc_TypeError, kUnexpectedKeywordFormat, text);
    Py_DECREF(text);
  }
  return false;
}

// Binds positional and keyword arguments to `payload` and `min_rows`,
// reporting the first failure in the order callers see from pure Python.
bool bind_arguments(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Arguments& bound) {
  if (nargs > 2) {
    PyErr_Format(PyExc_TypeError, kTooManyPositionalFormat, nargs);
    return false;
  }
  if (nargs >= 1) bound.payload = args[0];
  if (nargs == 2) bound.min_rows = args[1];

  const Py_ssize_t nkeywords = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t i = 0; i < nkeywords; ++i) {
    PyObject* name = PyTuple_GET_ITEM(kwnames, i);
    Py_ssize_t size;
    const char* text = PyUnicode_AsUTF8AndSize(name, &size);
    if (text == nullptr) {
      PyErr_Clear();
      return raise_unexpected_keyword(name);
    }
    const std::string_view keyword(text, static_cast<size_t>(size));
    PyObject** slot;
    const char* parameter;
    if (keyword == "payload") {
      slot = &bound.payload;
      parameter = "payload";
    } else if (keyword == "min_rows") {
      slot = &bound.min_rows;
      parameter = "min_rows";
    } else {
      return raise_unexpected_keyword(name);
    }
    if (*slot != nullptr) {
      PyErr_Format(PyExc_TypeError, kMultipleValuesFormat, parameter);
      return false;
    }
    *slot = args[nargs + i];
  }
  if (bound.payload == nullptr) {
    PyErr_SetString(PyExc_TypeError, kMissingPayload);
    return false;
  }
  return true;
}

// `min_rows` is converted and checked like an unsigned 64-bit integer, then
// dropped: the caller applies the row-count guard before calling.
bool check_min_rows(PyObject* min_rows) {
  if (min_rows == nullptr) return true;
  unsigned long long value;
  if (PyLong_Check(min_rows)) {
    value = PyLong_AsUnsignedLongLong(min_rows);
  } else {
    PyObject* index = PyNumber_Index(min_rows);
    if (index == nullptr) {
      ensure_exception_set();
      add_note_to_raised(kMinRowsNote);
      return false;
    }
    value = PyLong_AsUnsignedLongLong(index);
    Py_DECREF(index);
  }
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    add_note_to_raised(kMinRowsNote);
    return false;
  }
  return true;
}

PyObject* columnarize(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  Arguments bound;
  if (!bind_arguments(args, PyVectorcall_NARGS(nargsf), kwnames, bound)) return nullptr;
  if (!PyBytes_Check(bound.payload)) {
    raise_type_mismatch(bound.payload, "bytes");
    add_note_to_raised(kPayloadNote);
    return nullptr;
  }
  if (!check_min_rows(bound.min_rows)) return nullptr;
  return columnarize_bytes(bound.payload);
}

PyObject* columnarize_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return contain_faults<PyObject*>(nullptr, [&] { return columnarize(module, args, nargsf, kwnames); });
}

}  // namespace

PyMethodDef columnarize_method = {
    "columnarize",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(columnarize_entry)),
    METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
    kDocstring,
};

}  // namespace vornel::lib
