// Turning Python arguments into C++ values. Each helper returns false with a
// Python exception set when the argument does not convert; a wrong Python
// type is a TypeError that names the argument.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <string_view>

namespace corvane_py {

// TypeError "argument 'NAME': 'T' object cannot be converted to 'TARGET'",
// T being the type name of `given`. Returns nullptr for chaining.
PyObject* raise_cannot_convert(const char* name, PyObject* given, const char* target);

// A str argument as UTF-8, borrowed from the str object (valid while the
// object lives). A str holding a lone surrogate has no UTF-8 form and fails
// with the interpreter's UnicodeEncodeError.
bool str_argument(const char* name, PyObject* given, std::string_view& out);

// An integer argument (anything with __index__) in 0..255. Other types are a
// TypeError naming the argument; integers outside the range an OverflowError.
bool u8_argument(const char* name, PyObject* given, std::uint8_t& out);

}  // namespace corvane_py
