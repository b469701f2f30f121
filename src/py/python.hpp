// The interpreter's C API, included the one way the binding layer uses it: with
// PY_SSIZE_T_CLEAN, so that '#' argument formats take Py_ssize_t lengths. Every binding header
// includes this before anything else.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
