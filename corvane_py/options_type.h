// The Python class CorvnCompressionOptions: an opaque holder of one
// CompressionOptions value, built from option names and never changed.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "options.h"

namespace corvane_py {

// Exec step: creates the class on the first import of the process and adds it
// to the module. Returns 0, or -1 with an exception set.
int add_options_type(PyObject* module);

// True when `object` is a CorvnCompressionOptions instance.
bool options_check(PyObject* object);

// The options held by an instance; `object` must pass options_check.
corvane::CompressionOptions options_value(PyObject* object);

}  // namespace corvane_py
