#include "lib/errors.h"

#include <cstdio>
#include <cstdlib>

#include "lib/messages.h"
#include "lib/test_hooks.h"

namespace vornel::lib {
namespace {

[[noreturn]] void abort_at_boundary() noexcept {
  std::fputs(kAbortDiagnostic, stderr);
  std::abort();
}

// The class of one interpreter, created there on first need and kept in that
// interpreter's dictionary for extensions, which is cleared when it ends.
// One class for the whole process would belong to whichever interpreter
// faulted first and outlive it there: the interpreter that creates a type
// records it among BaseException's subclasses and numbers its method-cache
// entries, both per interpreter, so no other interpreter may use it.
// Threads faulting first at once (with no lock in a free-threaded build)
// may each create a class; the dictionary's set-default keeps one for all.
// Returns a new reference, or nullptr.
PyObject* fault_exception_class() {
  PyObject* registry = PyInterpreterState_GetDict(PyInterpreterState_Get());
  if (registry == nullptr) return nullptr;
  PyObject* fault_class = nullptr;
  if (PyDict_GetItemStringRef(registry, kFaultExceptionName, &fault_class) != 0) return fault_class;
  PyObject* created = PyErr_NewExceptionWithDoc(kFaultExceptionName, kFaultExceptionDoc, PyExc_BaseException, nullptr);
  PyObject* key = created == nullptr ? nullptr : PyUnicode_FromString(kFaultExceptionName);
  if (key != nullptr) PyDict_SetDefaultRef(registry, key, created, &fault_class);
  Py_XDECREF(key);
  Py_XDECREF(created);
  return fault_class;
}

}  // namespace

PyObject* lenient_text(PyObject* text) {
  Py_ssize_t size;
  if (PyUnicode_AsUTF8AndSize(text, &size) != nullptr) return Py_NewRef(text);
  PyErr_Clear();
  PyObject* encoded = PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass");
  if (encoded == nullptr) return nullptr;
  PyObject* decoded = PyUnicode_DecodeUTF8(PyBytes_AS_STRING(encoded), PyBytes_GET_SIZE(encoded), "replace");
  Py_DECREF(encoded);
  return decoded;
}

PyObject* raise_type_mismatch(PyObject* object, const char* target) {
  if (object == Py_None) {
    return PyErr_Format(PyExc_TypeError, kNoneMismatchFormat, target);
  }
  PyObject* qualified_name = PyType_GetQualName(Py_TYPE(object));
  PyObject* name = qualified_name == nullptr ? nullptr : lenient_text(qualified_name);
  Py_XDECREF(qualified_name);
  if (name == nullptr) {
    PyErr_Clear();
    return PyErr_Format(PyExc_TypeError, kUnnamedTypeMismatchFormat, target);
  }
  PyErr_Format(PyExc_TypeError, kTypeMismatchFormat, name, target);
  Py_DECREF(name);
  return nullptr;
}

void add_note_to_raised(std::string_view note) {
  PyObject* exception = PyErr_GetRaisedException();
  if (exception == nullptr) return;
  PyObject* text = PyUnicode_DecodeUTF8(note.data(), static_cast<Py_ssize_t>(note.size()), nullptr);
  PyObject* method = PyUnicode_FromString("add_note");
  if (text != nullptr && method != nullptr) {
    PyObject* args[] = {exception, text};
    PyObject* result =
        PyObject_VectorcallMethod(method, args, 2, nullptr);
    Py_XDECREF(result);
  }
  Py_XDECREF(method);
  Py_XDECREF(text);
  PyErr_Clear();  // a failure to add the note must not replace the exception
  PyErr_SetRaisedException(exception);
}

void ensure_exception_set() {
  if (!PyErr_Occurred()) {
    PyErr_SetString(PyExc_SystemError, kNoExceptionSet);
  }
}

void raise_fault(std::string_view message) noexcept {
  try {
    test_hooks::fault_if_requested(test_hooks::FaultSite::reporting, message);
    PyObject* fault_class = fault_exception_class();
    if (fault_class == nullptr) abort_at_boundary();
    PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
    if (text == nullptr) abort_at_boundary();
    PyErr_SetObject(fault_class, text);
    Py_DECREF(text);
    Py_DECREF(fault_class);
  } catch (...) {
    abort_at_boundary();
  }
}

}  // namespace vornel::lib
