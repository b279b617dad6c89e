#include "evaluator_type.h"

#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <string_view>

#include "arguments.h"
#include "candidates.h"
#include "guard.h"
#include "numpy_bridge.h"
#include "options.h"

namespace corvane_bounded {
namespace {

using corvane_py::guard;

struct EvaluatorObject {
  PyObject_HEAD
  corvane::CandidateEvaluator* evaluator;  // owned; never null once built
};

EvaluatorObject* as_evaluator(PyObject* self) { return reinterpret_cast<EvaluatorObject*>(self); }

// Runs a method's body under the guard and, on free-threaded interpreters,
// in the object's critical section: an evaluator keeps one method's bands
// and its scratch between calls, so two threads must not run it at once.
template <class F>
PyObject* locked(PyObject* self, F&& body) noexcept {
  PyObject* result = nullptr;
#ifdef Py_BEGIN_CRITICAL_SECTION
  Py_BEGIN_CRITICAL_SECTION(self);
  result = guard(body, static_cast<PyObject*>(nullptr));
  Py_END_CRITICAL_SECTION();
#else
  static_cast<void>(self);
  result = guard(body, static_cast<PyObject*>(nullptr));
#endif
  return result;
}

// The candidate named by (method, scale, cutoff[, coder]); the coder is
// "arans" unless given. False with ValueError (the options' own message) or
// the argument's TypeError set.
bool candidate_arguments(PyObject* args, PyObject* kwargs, const char* format, bool with_coder,
                         corvane::CompressionOptions& out) {
  static const char* keywords[] = {"method", "scale", "cutoff", "coder", nullptr};
  static const char* keywords_without_coder[] = {"method", "scale", "cutoff", nullptr};
  PyObject* method_arg = nullptr;
  PyObject* scale_arg = nullptr;
  PyObject* cutoff_arg = nullptr;
  PyObject* coder_arg = nullptr;
  if (!PyArg_ParseTupleAndKeywords(
          args, kwargs, format, const_cast<char**>(with_coder ? keywords : keywords_without_coder),
          &method_arg, &scale_arg, &cutoff_arg, &coder_arg)) {
    return false;
  }
  std::string_view method, cutoff;
  std::string_view coder = corvane::name_of(corvane::EntropyCoder::Arans);
  std::uint8_t scale = 0;
  if (!corvane_py::str_argument("method", method_arg, method)) return false;
  if (!corvane_py::u8_argument("scale", scale_arg, scale)) return false;
  if (!corvane_py::str_argument("cutoff", cutoff_arg, cutoff)) return false;
  if (coder_arg != nullptr && !corvane_py::str_argument("coder", coder_arg, coder)) return false;
  auto built = corvane::CompressionOptions::from_names(method, scale, cutoff, coder);
  if (!built) {
    corvane_py::raise_value_error(built.error());
    return false;
  }
  out = built.value();
  return true;
}

PyObject* evaluator_new_impl(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"data", nullptr};
  PyObject* data = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:Evaluator", const_cast<char**>(keywords),
                                   &data)) {
    return nullptr;
  }
  corvane_py::BorrowedSignal signal;
  if (!corvane_py::borrow_signal(data, &signal)) return nullptr;
  auto made = signal.type == corvane_py::SampleType::Float64
                  ? corvane::CandidateEvaluator::create(std::span<const double>(
                        static_cast<const double*>(signal.data), signal.count))
                  : corvane::CandidateEvaluator::create(std::span<const float>(
                        static_cast<const float*>(signal.data), signal.count));
  if (!made) return corvane_py::raise_codec_error(made.error());
  auto* evaluator = new (std::nothrow) corvane::CandidateEvaluator(std::move(made).value());
  if (evaluator == nullptr) return PyErr_NoMemory();
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) {
    delete evaluator;
    return nullptr;
  }
  as_evaluator(self)->evaluator = evaluator;
  return self;
}

PyObject* evaluator_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guard([&] { return evaluator_new_impl(type, args, kwargs); },
               static_cast<PyObject*>(nullptr));
}

void evaluator_dealloc(PyObject* self) noexcept {
  delete as_evaluator(self)->evaluator;
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  Py_DECREF(type);  // instances of a heap type hold a reference to it
}

// A method's body: the candidate from its arguments (`format` names the
// method for PyArg_ParseTupleAndKeywords), the evaluator's answer `ask`
// gives, and that answer as a Python object, or the codec's error as
// ValueError.
template <class Ask, class Convert>
PyObject* answer(PyObject* self, PyObject* args, PyObject* kwargs, const char* format,
                 bool with_coder, Ask&& ask, Convert&& convert) noexcept {
  return locked(self, [&]() -> PyObject* {
    corvane::CompressionOptions options;
    if (!candidate_arguments(args, kwargs, format, with_coder, options)) return nullptr;
    auto found = ask(*as_evaluator(self)->evaluator, options);
    if (!found) return corvane_py::raise_codec_error(found.error());
    return convert(std::move(found).value());
  });
}

PyObject* errors(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
  return answer(
      self, args, kwargs, "OOO:errors", false,
      [](corvane::CandidateEvaluator& e, const auto& o) { return e.errors(o); },
      [](const corvane::CandidateErrors& found) {
        return Py_BuildValue("(dd)", found.max_abs, found.sum_of_squares);
      });
}

PyObject* size(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
  return answer(
      self, args, kwargs, "OOO|O:size", true,
      [](corvane::CandidateEvaluator& e, const auto& o) { return e.container_size(o); },
      [](std::uint64_t found) { return PyLong_FromUnsignedLongLong(found); });
}

PyObject* size_range(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
  return answer(
      self, args, kwargs, "OOO|O:size_range", true,
      [](corvane::CandidateEvaluator& e, const auto& o) { return e.container_size_range(o); },
      [](const corvane::LengthRange& found) {
        return Py_BuildValue("(KK)", static_cast<unsigned long long>(found.lowest),
                             static_cast<unsigned long long>(found.highest));
      });
}

PyObject* decoded(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
  return answer(
      self, args, kwargs, "OOO:decoded", false,
      [](corvane::CandidateEvaluator& e, const auto& o) { return e.decoded(o); },
      [](tessary::Buffer<float>&& found) { return corvane_py::array_from_samples(std::move(found)); });
}

template <PyObject* (*F)(PyObject*, PyObject*, PyObject*) noexcept>
PyCFunction as_method() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(F));
}

PyMethodDef kMethods[] = {
    {"errors", as_method<errors>(), METH_VARARGS | METH_KEYWORDS,
     "errors(self, method, scale, cutoff)\n--\n\n"
     "Largest absolute difference and sum of squared differences, in float64,\n"
     "between decompress_signal(compress_signal(data, options)) and data."},
    {"size", as_method<size>(), METH_VARARGS | METH_KEYWORDS,
     "size(self, method, scale, cutoff, coder='arans')\n--\n\n"
     "len(compress_signal(data, options)), by running the coder."},
    {"size_range", as_method<size_range>(), METH_VARARGS | METH_KEYWORDS,
     "size_range(self, method, scale, cutoff, coder='arans')\n--\n\n"
     "Bounds (lowest, highest) on that length: from the rANS model without\n"
     "coding, exact for DEFLATE."},
    {"decoded", as_method<decoded>(), METH_VARARGS | METH_KEYWORDS,
     "decoded(self, method, scale, cutoff)\n--\n\n"
     "decompress_signal(compress_signal(data, options)), without the container."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(evaluator_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(evaluator_dealloc)},
    {Py_tp_methods, kMethods},
    {Py_tp_doc, const_cast<char*>("Evaluator(data)\n--\n\n"
                                  "Judges the options of corvane.compress_signal for the\n"
                                  "samples of `data` (a 1-D float32 or float64 array, copied).")},
    {0, nullptr},
};

#ifdef Py_TPFLAGS_IMMUTABLETYPE
constexpr unsigned long kFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;
#else
constexpr unsigned long kFlags = Py_TPFLAGS_DEFAULT;
#endif

PyType_Spec kEvaluatorShape = {
    "_corvane_bounded.Evaluator",
    static_cast<int>(sizeof(EvaluatorObject)),
    0,
    static_cast<unsigned int>(kFlags),
    kSlots,
};

}  // namespace

int add_evaluator_type(PyObject* module) {
  PyObject* type = PyType_FromSpec(&kEvaluatorShape);
  if (type == nullptr) return -1;
  const int rc = PyModule_AddType(module, reinterpret_cast<PyTypeObject*>(type));
  Py_DECREF(type);
  return rc;
}

}  // namespace corvane_bounded
