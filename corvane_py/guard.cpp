#include "guard.h"

namespace corvane_py {

PyObject* raise_value_error(std::string_view text) {
  // Built with its length: the text is UTF-8 and may hold any character.
  PyObject* message = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()),
                                           "replace");
  if (message == nullptr) return nullptr;
  PyErr_SetObject(PyExc_ValueError, message);
  Py_DECREF(message);
  return nullptr;
}

PyObject* raise_codec_error(const corvane::CorvaneError& error) {
  return raise_value_error(error.render());
}

}  // namespace corvane_py
