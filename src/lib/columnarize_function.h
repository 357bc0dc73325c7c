// The `columnarize(payload, min_rows=20)` function object's definition.
#pragma once

#include "lib/python.h"

namespace vornel::lib {

// METH_FASTCALL | METH_KEYWORDS | METH_STATIC, with the docstring whose first
// block gives the function its __text_signature__.
extern PyMethodDef columnarize_method;

}  // namespace vornel::lib
