// The Python class Evaluator: one signal's candidate evaluator, for the
// error-bounded search of corvane_numcodecs.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace corvane_bounded {

// Exec step: creates the class and adds it to the module. Returns 0, or -1
// with an exception set.
int add_evaluator_type(PyObject* module);

}  // namespace corvane_bounded
