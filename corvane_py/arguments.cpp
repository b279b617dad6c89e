#include "arguments.h"

namespace corvane_py {
namespace {

// Re-raises the pending TypeError as "argument 'NAME': <its message>", the
// original kept as the cause. Other exceptions pass through unchanged.
void name_pending_type_error(const char* name) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
#if PY_VERSION_HEX >= 0x030C0000
  PyObject* original = PyErr_GetRaisedException();
#else
  PyObject *type = nullptr, *original = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &original, &traceback);
  PyErr_NormalizeException(&type, &original, &traceback);
  if (traceback != nullptr) PyException_SetTraceback(original, traceback);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
#endif
  PyObject* renamed = nullptr;
  if (PyObject* text = PyObject_Str(original)) {
    renamed = PyUnicode_FromFormat("argument '%s': %U", name, text);
    Py_DECREF(text);
  }
  if (renamed == nullptr) {  // keep the new failure (e.g. MemoryError)
    Py_DECREF(original);
    return;
  }
  PyObject* error = PyObject_CallOneArg(PyExc_TypeError, renamed);
  Py_DECREF(renamed);
  if (error == nullptr) {
    Py_DECREF(original);
    return;
  }
  PyException_SetCause(error, original);  // steals `original`
  PyErr_SetObject(PyExc_TypeError, error);
  Py_DECREF(error);
}

}  // namespace

PyObject* raise_cannot_convert(const char* name, PyObject* given, const char* target) {
  // The qualified name, as Python shows types ('int', 'ndarray').
  PyObject* type_name = PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(given)),
                                               "__qualname__");
  if (type_name == nullptr) return nullptr;
  PyErr_Format(PyExc_TypeError, "argument '%s': '%U' object cannot be converted to '%s'", name,
               type_name, target);
  Py_DECREF(type_name);
  return nullptr;
}

bool str_argument(const char* name, PyObject* given, std::string_view& out) {
  if (!PyUnicode_Check(given)) {
    raise_cannot_convert(name, given, "PyString");
    return false;
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(given, &size);
  if (utf8 == nullptr) return false;
  out = std::string_view(utf8, static_cast<std::size_t>(size));
  return true;
}

bool u8_argument(const char* name, PyObject* given, std::uint8_t& out) {
  PyObject* index = PyNumber_Index(given);
  if (index == nullptr) {
    name_pending_type_error(name);
    return false;
  }
  int overflow = 0;
  const long value = PyLong_AsLongAndOverflow(index, &overflow);
  Py_DECREF(index);
  if (value == -1 && PyErr_Occurred()) return false;
  if (overflow != 0 || value < 0 || value > 255) {
    PyErr_Format(PyExc_OverflowError, "argument '%s': integer out of range 0..255", name);
    return false;
  }
  out = static_cast<std::uint8_t>(value);
  return true;
}

}  // namespace corvane_py
