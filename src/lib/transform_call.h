// A call of the transform on a bytes payload, with the interpreter lock
// released while it works.
#pragma once

#include "lib/python.h"

namespace vornel::lib {

// `payload` must be a bytes object. Returns the columnar document as a new
// bytes object, or nullptr with RuntimeError (the transform's message, or
// an internal fault's), or MemoryError set. Called with the lock held.
PyObject* columnarize_bytes(PyObject* payload);

}  // namespace vornel::lib
