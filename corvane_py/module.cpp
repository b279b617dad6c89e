// The module definition, its execution step and the exported entry point.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "functions.h"
#include "guard.h"
#include "options_type.h"

namespace {

// What the exec step adds to the module, in this order.
constexpr int (*kExecSteps[])(PyObject*) = {
    corvane_py::add_options_type,
    corvane_py::add_compress_signal,
    corvane_py::add_decompress_signal,
};

int corvane_exec(PyObject* module) noexcept {
  return corvane_py::guard(
      [&] {
        for (auto step : kExecSteps) {
          if (step(module) < 0) return -1;
        }
        return 0;
      },
      -1);
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(corvane_exec)},
#ifdef Py_mod_multiple_interpreters
    // Type objects and the NumPy C-API table live in process-wide statics,
    // which one interpreter must not hand to another.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
#ifdef Py_mod_gil
    // Only write-once data is shared (the processor-feature cache and the
    // padding-writer choice), so free-threaded interpreters may drop the GIL.
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef kModuleDef = {
    PyModuleDef_HEAD_INIT,
    "corvane",  // m_name
    "",         // m_doc
    0,          // m_size: no per-module state
    nullptr,    // m_methods: everything is added by the execution step
    kSlots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_corvane(void) { return PyModuleDef_Init(&kModuleDef); }
