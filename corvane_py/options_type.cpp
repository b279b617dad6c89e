#include "options_type.h"

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "arguments.h"
#include "guard.h"

namespace corvane_py {
namespace {

struct OptionsObject {
  PyObject_HEAD
  corvane::CompressionOptions value;
};

// Instances are freed without running a destructor.
static_assert(std::is_trivially_destructible_v<corvane::CompressionOptions>);

// Created once per process by the first exec step and kept for its life, so
// that a re-imported module (and every instance ever made) shares one class.
PyTypeObject* g_options_type = nullptr;

// Arguments are converted in signature order (a wrong Python type fails
// first); only then are the names checked, method, cutoff, scale, coder.
PyObject* build_options(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"method", "scale", "cutoff", "coder", nullptr};
  PyObject* method_arg = nullptr;
  PyObject* scale_arg = nullptr;
  PyObject* cutoff_arg = nullptr;
  PyObject* coder_arg = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OOOO:CorvnCompressionOptions",
                                   const_cast<char**>(keywords), &method_arg, &scale_arg,
                                   &cutoff_arg, &coder_arg)) {
    return nullptr;
  }
  std::string_view method = corvane::name_of(corvane::kDefaultMethod);
  std::uint8_t scale = corvane::kDefaultScale;
  std::string_view cutoff = corvane::name_of(corvane::kDefaultCutoff);
  std::optional<std::string_view> coder;  // None: the default coder
  if (method_arg != nullptr && !str_argument("method", method_arg, method)) return nullptr;
  if (scale_arg != nullptr && !u8_argument("scale", scale_arg, scale)) return nullptr;
  if (cutoff_arg != nullptr && !str_argument("cutoff", cutoff_arg, cutoff)) return nullptr;
  if (coder_arg != nullptr && coder_arg != Py_None) {
    std::string_view text;
    if (!str_argument("coder", coder_arg, text)) return nullptr;
    coder = text;
  }

  auto built = corvane::CompressionOptions::from_names(method, scale, cutoff, coder);
  if (!built) return raise_value_error(built.error());

  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  new (&reinterpret_cast<OptionsObject*>(self)->value)
      corvane::CompressionOptions(built.value());
  return self;
}

PyObject* options_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] { return build_options(type, args, kwargs); }, static_cast<PyObject*>(nullptr));
}

void options_dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  Py_DECREF(type);  // instances of a heap type hold a reference to it
}

#ifdef Py_TPFLAGS_IMMUTABLETYPE
constexpr unsigned long kFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;
#else
constexpr unsigned long kFlags = Py_TPFLAGS_DEFAULT;
#endif

// The class as CPython builds it. Its docstring is the text signature with the
// codec's defaults and nothing else (__doc__ stays empty); made on the first
// import and kept for the process.
PyType_Spec* options_type_shape() {
  static const std::string doc =
      "CorvnCompressionOptions(method=\"" + std::string(corvane::name_of(corvane::kDefaultMethod)) +
      "\", scale=" + std::to_string(corvane::kDefaultScale) + ", cutoff=\"" +
      std::string(corvane::name_of(corvane::kDefaultCutoff)) + "\", coder=None)\n--\n\n";
  static PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(options_new)},
      {Py_tp_dealloc, reinterpret_cast<void*>(options_dealloc)},
      {Py_tp_doc, const_cast<char*>(doc.c_str())},
      {0, nullptr},
  };
  static PyType_Spec shape = {
      "corvane.CorvnCompressionOptions",
      static_cast<int>(sizeof(OptionsObject)),
      0,
      static_cast<unsigned int>(kFlags),
      slots,
  };
  return &shape;
}

}  // namespace

int add_options_type(PyObject* module) {
  if (g_options_type == nullptr) {
    g_options_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(options_type_shape()));
    if (g_options_type == nullptr) return -1;
  }
  return PyModule_AddType(module, g_options_type);
}

bool options_check(PyObject* object) {
  return g_options_type != nullptr && PyObject_TypeCheck(object, g_options_type);
}

corvane::CompressionOptions options_value(PyObject* object) {
  return reinterpret_cast<OptionsObject*>(object)->value;
}

}  // namespace corvane_py
