// The one place the boundary includes the interpreter's headers from.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "lib/python_compat.h"
