#include "functions.h"

#include <cstdint>
#include <new>
#include <span>
#include <vector>

#include "compressor.h"
#include "decompressor.h"
#include "arguments.h"
#include "guard.h"
#include "numpy_bridge.h"
#include "options_type.h"

namespace corvane_py {
namespace {

PyObject* bytes_from(std::span<const std::uint8_t> container) {
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(container.data()),
                                   static_cast<Py_ssize_t>(container.size()));
}

PyObject* compress_signal_impl(PyObject* /*module*/, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"data", "options", nullptr};
  PyObject* data = nullptr;
  PyObject* options_object = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:compress_signal",
                                   const_cast<char**>(keywords), &data, &options_object)) {
    return nullptr;
  }
  // Options are checked before the data.
  corvane::CompressionOptions options;
  if (options_object != Py_None) {
    if (!options_check(options_object)) {
      return raise_cannot_convert("options", options_object, "CorvnCompressionOptions");
    }
    options = options_value(options_object);
  }
  BorrowedSignal signal;
  if (!borrow_signal(data, &signal)) return nullptr;

  // float64 samples are rounded to float as the codec copies them (values
  // beyond the float range become infinities, which it then sanitises).
  auto container =
      signal.type == SampleType::Float64
          ? corvane::compress(
                std::span<const double>(static_cast<const double*>(signal.data), signal.count),
                options)
          : corvane::compress(
                std::span<const float>(static_cast<const float*>(signal.data), signal.count),
                options);
  if (!container) return raise_codec_error(container.error());
  return bytes_from(container.value());
}

PyObject* decompress_signal_impl(PyObject* /*module*/, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"data", nullptr};
  PyObject* data = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:decompress_signal",
                                   const_cast<char**>(keywords), &data)) {
    return nullptr;
  }
  if (!PyBytes_Check(data)) return raise_cannot_convert("data", data, "PyBytes");
  const std::span<const std::uint8_t> bytes(
      reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(data)),
      static_cast<std::size_t>(PyBytes_GET_SIZE(data)));
  auto samples = corvane::decompress(bytes);
  if (!samples) return raise_codec_error(samples.error());
  return array_from_samples(std::move(samples).value());
}

PyObject* compress_signal(PyObject* module, PyObject* args, PyObject* kwargs) {
  return guard([&] { return compress_signal_impl(module, args, kwargs); },
               static_cast<PyObject*>(nullptr));
}

PyObject* decompress_signal(PyObject* module, PyObject* args, PyObject* kwargs) {
  return guard([&] { return decompress_signal_impl(module, args, kwargs); },
               static_cast<PyObject*>(nullptr));
}

PyMethodDef kCompressSignal = {
    "compress_signal",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(compress_signal)),
    METH_VARARGS | METH_KEYWORDS,
    "compress_signal(data, options=None)\n--\n\n"
    "Compress a 1-D float32 **or** float64 NumPy array into Corvane `bytes`.\n"
    "\n"
    "float64 input is downcast to float32 before compression (the codec works in\n"
    "f32 internally and always reconstructs f32 on decompress).\n"
    "\n"
    "A numpy.ma.MaskedArray is compressed with the hidden values under its mask;\n"
    "pass array.filled(value) or the unmasked samples instead.",
};

PyMethodDef kDecompressSignal = {
    "decompress_signal",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(decompress_signal)),
    METH_VARARGS | METH_KEYWORDS,
    "decompress_signal(data)\n--\n\n"
    "Decompress a Corvane bytes object into a 1-D float32 NumPy array.",
};

int add_function(PyMethodDef* def, PyObject* module) {
  PyObject* module_name = PyModule_GetNameObject(module);
  if (module_name == nullptr) return -1;
  PyObject* function = PyCFunction_NewEx(def, module, module_name);
  Py_DECREF(module_name);
  if (function == nullptr) return -1;
  const int rc = PyModule_AddObjectRef(module, def->ml_name, function);
  Py_DECREF(function);
  return rc;
}

}  // namespace

int add_compress_signal(PyObject* module) { return add_function(&kCompressSignal, module); }

int add_decompress_signal(PyObject* module) { return add_function(&kDecompressSignal, module); }

}  // namespace corvane_py
