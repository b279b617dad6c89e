// Where failures become Python exceptions: the guard that keeps every C++
// exception out of the interpreter, and the mapping of codec errors to
// ValueError.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <new>
#include <string_view>

#include "error.h"

namespace corvane_py {

// Runs one entry point (a type slot, a function, the exec step). A C++
// exception that escapes it becomes MemoryError (std::bad_alloc) or
// SystemError, and `on_error` (nullptr or -1) is returned, as the interpreter
// expects from a call that set an exception.
template <class F, class R>
R guard(F&& body, R on_error) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_SystemError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "unexpected C++ exception in corvane");
  }
  return on_error;
}

// Raises ValueError with exactly this text. Returns nullptr for chaining.
PyObject* raise_value_error(std::string_view text);

// Every codec error reaches Python as ValueError with its rendered message.
PyObject* raise_codec_error(const corvane::CorvaneError& error);

}  // namespace corvane_py
