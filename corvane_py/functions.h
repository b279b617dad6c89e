// compress_signal and decompress_signal, as function objects for the module.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace corvane_py {

// Exec steps: add the function to the module. 0, or -1 with an exception set.
int add_compress_signal(PyObject* module);
int add_decompress_signal(PyObject* module);

}  // namespace corvane_py
