#include "lib/columnarize_function.h"

#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <variant>

#include "columnar/columnarize.h"
#include "memory/large_blocks.h"
#include "lib/errors.h"

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
    PyErr_Format(PyExc_TypeError, "columnarize() got an unexpected keyword argument '%U'", text);
    Py_DECREF(text);
  }
  return false;
}

// Binds positional and keyword arguments to `payload` and `min_rows`,
// reporting the first failure in the order callers see from pure Python.
bool bind_arguments(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Arguments& bound) {
  if (nargs > 2) {
    PyErr_Format(PyExc_TypeError, "columnarize() takes from 1 to 2 positional arguments but %zd were given",
                 nargs);
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
      PyErr_Format(PyExc_TypeError, "columnarize() got multiple values for argument '%s'", parameter);
      return false;
    }
    *slot = args[nargs + i];
  }
  if (bound.payload == nullptr) {
    PyErr_SetString(PyExc_TypeError, "columnarize() missing 1 required positional argument: 'payload'");
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
      add_note_to_raised("while processing 'min_rows'");
      return false;
    }
    value = PyLong_AsUnsignedLongLong(index);
    Py_DECREF(index);
  }
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    add_note_to_raised("while processing 'min_rows'");
    return false;
  }
  return true;
}

// The transform's outcome, or the text of a fault it raised.
struct Contained {
  columnar::Outcome outcome;
  bool out_of_memory = false;
  std::string fault;  // empty unless the transform faulted
};

// The payload's bytes, copied while the lock is held so that the transform
// can read them without it.
class PrivateCopy {
 public:
  explicit PrivateCopy(PyObject* payload)
      : size_(static_cast<size_t>(PyBytes_GET_SIZE(payload))),
        data_(size_ == 0 ? nullptr : static_cast<char*>(memory::allocate_block(size_))) {
    if (size_ == 0) return;
    // Written whole with the lock held: faulted in ahead of the copy.
    memory::prefault_block(data_, size_);
    std::memcpy(data_, PyBytes_AS_STRING(payload), size_);
  }
  PrivateCopy(const PrivateCopy&) = delete;
  PrivateCopy& operator=(const PrivateCopy&) = delete;
  ~PrivateCopy() { free(); }

  std::string_view view() const noexcept { return {data_, size_}; }
  void free() noexcept {
    if (data_ != nullptr) memory::free_block(std::exchange(data_, nullptr), size_);
  }

 private:
  size_t size_;
  char* data_;
};

// Runs without the interpreter lock: it reads only the private copy of the
// payload and touches no Python object. Nothing may escape it.
Contained run_transform(std::string_view payload) noexcept {
  Contained result{std::string(), false, std::string()};
  try {
    result.outcome = columnar::columnarize_json(payload);
  } catch (const std::bad_alloc&) {
    result.out_of_memory = true;
  } catch (const std::exception& fault) {
    try {
      result.fault = std::string("internal panic during columnarization: ") + fault.what();
    } catch (...) {
      result.out_of_memory = true;
    }
  } catch (...) {
    result.fault = "internal panic during columnarization: unknown panic in columnarize_json";
  }
  return result;
}

PyObject* raise_runtime_error(std::string_view message) {
  PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
  if (text == nullptr) return nullptr;
  PyErr_SetObject(PyExc_RuntimeError, text);
  Py_DECREF(text);
  return nullptr;
}

// The output as a new bytes object. Its memory is the interpreter's
// allocator's, whose pages may hold other objects, so it is not advised.
PyObject* bytes_of(const json::ByteBuffer& output) {
  PyObject* result = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(output.size()));
  if (result == nullptr) return nullptr;
  std::memcpy(PyBytes_AS_STRING(result), output.data(), output.size());
  return result;
}

// Copies the payload, runs the transform on the copy with the lock released,
// and frees the copy before taking the lock back.
Contained run_without_lock(PyObject* payload) {
  PrivateCopy copy(payload);
  PyThreadState* saved = PyEval_SaveThread();
  Contained result = run_transform(copy.view());
  copy.free();
  PyEval_RestoreThread(saved);
  return result;
}

PyObject* columnarize(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  Arguments bound;
  if (!bind_arguments(args, PyVectorcall_NARGS(nargsf), kwnames, bound)) return nullptr;
  if (!PyBytes_Check(bound.payload)) {
    raise_type_mismatch(bound.payload, "bytes");
    add_note_to_raised("while processing 'payload'");
    return nullptr;
  }
  if (!check_min_rows(bound.min_rows)) return nullptr;

  const Contained result = run_without_lock(bound.payload);

  if (result.out_of_memory) return PyErr_NoMemory();
  if (!result.fault.empty()) return raise_runtime_error(result.fault);
  if (auto* message = std::get_if<std::string>(&result.outcome)) return raise_runtime_error(*message);
  return bytes_of(std::get<json::ByteBuffer>(result.outcome));
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
