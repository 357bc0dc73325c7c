// What the boundary uses from CPython 3.12 to 3.15, for the versions before
// them. Each stand-in keeps the name, signature and results of the real call,
// so the code above reads the same on every supported version (3.11 to 3.15).
#pragma once

// 3.15 describes a module by PySlot entries that PyModExport and PyInit both
// hand over; earlier versions take PyModuleDef_Slot entries through PyInit.
#define VORNEL_PYTHON_HAS_MODULE_EXPORT (PY_VERSION_HEX >= 0x030F0000)
// The Py_mod_gil slot arrived in 3.13.
#define VORNEL_PYTHON_HAS_GIL_SLOT (PY_VERSION_HEX >= 0x030D0000)

#if PY_VERSION_HEX < 0x030C0000
// The exception being raised as one object, traceback attached; 3.12 made the
// interpreter keep it so.
inline PyObject* PyErr_GetRaisedException() {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) return nullptr;
  PyErr_NormalizeException(&type, &value, &traceback);
  if (traceback != nullptr) PyException_SetTraceback(value, traceback);
  Py_DECREF(type);
  Py_XDECREF(traceback);
  return value;
}

// Raises `exception` (a stolen reference; null clears the error indicator).
inline void PyErr_SetRaisedException(PyObject* exception) {
  if (exception == nullptr) {
    PyErr_Clear();
    return;
  }
  PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exception))), exception,
                PyException_GetTraceback(exception));
}
#endif

#if PY_VERSION_HEX < 0x030D0000
// The item of `dict` under the str `key` as a new reference in `*result`:
// 1 when found, 0 (and null) when missing, -1 with an exception set.
inline int PyDict_GetItemStringRef(PyObject* dict, const char* key, PyObject** result) {
  *result = nullptr;
  PyObject* key_object = PyUnicode_FromString(key);
  if (key_object == nullptr) return -1;
  PyObject* item = PyDict_GetItemWithError(dict, key_object);
  Py_DECREF(key_object);
  if (item == nullptr) return PyErr_Occurred() ? -1 : 0;
  *result = Py_NewRef(item);
  return 1;
}

// The item of `dict` under `key`, inserting `default_value` when missing: 1
// when it was there, 0 when inserted, -1 with an exception set. `*result`,
// unless `result` is null, gets a new reference to the item (null on failure).
inline int PyDict_SetDefaultRef(PyObject* dict, PyObject* key, PyObject* default_value, PyObject** result) {
  if (result != nullptr) *result = nullptr;
  PyObject* item = PyDict_GetItemWithError(dict, key);
  const int found = item != nullptr;
  if (!found) {
    if (PyErr_Occurred() || PyDict_SetItem(dict, key, default_value) < 0) return -1;
    item = default_value;
  }
  if (result != nullptr) *result = Py_NewRef(item);
  return found;
}
#endif
