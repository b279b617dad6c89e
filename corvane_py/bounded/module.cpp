// A private companion of corvane for corvane_numcodecs: the candidate
// evaluator that lets compress_within judge options without making and
// decoding containers. corvane's own surface stays as it is.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "evaluator_type.h"
#include "guard.h"

namespace {

int bounded_exec(PyObject* module) noexcept {
  return corvane_py::guard([&] { return corvane_bounded::add_evaluator_type(module); }, -1);
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(bounded_exec)},
#ifdef Py_mod_multiple_interpreters
    // The NumPy C-API table lives in a process-wide static.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
#ifdef Py_mod_gil
    // An evaluator's calls hold its critical section; nothing else is shared
    // but corvane's write-once data.
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef kModuleDef = {
    PyModuleDef_HEAD_INIT,
    "_corvane_bounded",  // m_name
    "Candidate evaluation for corvane_numcodecs.compress_within (private).",
    0,        // m_size: no per-module state
    nullptr,  // m_methods
    kSlots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__corvane_bounded(void) { return PyModuleDef_Init(&kModuleDef); }
