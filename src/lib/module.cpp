// The module as the interpreter sees it at import: the exported entry points
// (PyModExport and PyInit on 3.15, PyInit before it) that hand over the same
// static slots, and the exec function that creates `columnarize` on each new
// module object. The module keeps no state.
//
// The exec function runs once per module object, so it makes its attribute
// names afresh each time. Strings cached for the process would be shared by
// every interpreter that imports the module, and would be safe after their
// creator ends only because CPython happens to hold these two names as
// immortal statics.
#include "lib/columnarize_function.h"
#include "lib/errors.h"
#include "lib/messages.h"

namespace vornel::lib {
namespace {

// The module's `__all__`, created as an empty list when it is missing.
// Returns a new reference, or nullptr with an exception set.
PyObject* all_list(PyObject* module) {
  PyObject* all = PyObject_GetAttrString(module, "__all__");
  if (all == nullptr) {
    ensure_exception_set();
    PyObject* raised = PyErr_GetRaisedException();
    if (!PyErr_GivenExceptionMatches(raised, PyExc_AttributeError)) {
      PyErr_SetRaisedException(raised);
      return nullptr;
    }
    Py_DECREF(raised);
    all = PyList_New(0);
    if (all == nullptr || PyObject_SetAttrString(module, "__all__", all) < 0) {
      Py_XDECREF(all);
      ensure_exception_set();
      return nullptr;
    }
    return all;
  }
  if (!PyList_Check(all)) {
    raise_type_mismatch(all, "list");
    Py_DECREF(all);
    return nullptr;
  }
  return all;
}

int exec_module(PyObject* module) {
  if (!PyModule_Check(module)) {
    raise_type_mismatch(module, "module");
    return -1;
  }
  PyObject* module_name = PyModule_GetNameObject(module);
  if (module_name == nullptr) {
    ensure_exception_set();
    return -1;
  }
  PyObject* function = PyCMethod_New(&columnarize_method, module, module_name, nullptr);
  Py_DECREF(module_name);
  if (function == nullptr) {
    ensure_exception_set();
    return -1;
  }

  int status = -1;
  PyObject* function_name = PyObject_GetAttrString(function, "__name__");
  PyObject* all = nullptr;
  if (function_name == nullptr) {
    ensure_exception_set();
  } else if (!PyUnicode_Check(function_name)) {
    raise_type_mismatch(function_name, "str");
  } else if ((all = all_list(module)) != nullptr) {
    if (PyList_Append(all, function_name) < 0) {
      PyErr_Clear();
      raise_fault(kAppendToAllFailed);
    } else if (PyObject_SetAttr(module, function_name, function) < 0) {
      ensure_exception_set();
    } else {
      status = 0;
    }
  }
  Py_XDECREF(all);
  Py_XDECREF(function_name);
  Py_DECREF(function);
  return status;
}

int module_exec(PyObject* module) {
  return contain_faults<int>(-1, [&] { return exec_module(module); });
}

// The slots in the form each version reads, each one wherever the version has it.
#if VORNEL_PYTHON_HAS_MODULE_EXPORT
PyABIInfo abi_info = {
    .abiinfo_major_version = 1,
    .abiinfo_minor_version = 0,
    .flags = PyABIInfo_GIL,
    .build_version = 0,
    .abi_version = 0,
};

// Slot entries spelt out in full: the headers' initialiser macros leave
// fields to their defaults, which -Wextra rejects in C++.
PySlot data_slot(uint16_t id, uint16_t flags, void* value) {
  return {.sl_id = id, .sl_flags = flags, .sl_reserved = 0, .sl_ptr = value};
}

PySlot function_slot(uint16_t id, int (*function)(PyObject*)) {
  return {.sl_id = id, .sl_flags = 0, .sl_reserved = 0, .sl_func = reinterpret_cast<_Py_funcptr_t>(function)};
}

PySlot module_slots[] = {
    function_slot(Py_mod_exec, module_exec),
    data_slot(Py_mod_abi, PySlot_STATIC, &abi_info),
    data_slot(Py_mod_gil, PySlot_INTPTR, Py_MOD_GIL_NOT_USED),
    data_slot(Py_mod_name, PySlot_STATIC, const_cast<char*>("vornel_codec")),
    data_slot(Py_mod_doc, PySlot_STATIC, const_cast<char*>("")),
    data_slot(Py_slot_end, 0, nullptr),
};
PyModuleDef_Slot* const definition_slots = reinterpret_cast<PyModuleDef_Slot*>(module_slots);
#else
PyModuleDef_Slot definition_slots[] = {
    {.slot = Py_mod_exec, .value = reinterpret_cast<void*>(module_exec)},
#if VORNEL_PYTHON_HAS_GIL_SLOT
    {.slot = Py_mod_gil, .value = Py_MOD_GIL_NOT_USED},
#endif
    {.slot = 0, .value = nullptr},
};
#endif

PyModuleDef module_definition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "vornel_codec",
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = definition_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace
}  // namespace vornel::lib

extern "C" {

#if VORNEL_PYTHON_HAS_MODULE_EXPORT
PyMODEXPORT_FUNC PyModExport_vornel_codec(void) { return vornel::lib::module_slots; }
#endif

PyMODINIT_FUNC PyInit_vornel_codec(void) { return PyModuleDef_Init(&vornel::lib::module_definition); }

}
