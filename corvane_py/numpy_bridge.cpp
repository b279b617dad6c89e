#include "numpy_bridge.h"

#include <atomic>
#include <new>

#include <numpy/arrayobject.h>
#include <numpy/npy_2_compat.h>

namespace corvane_py {
namespace {

constexpr const char* kNotASignal = "expected a 1-D float32 or float64 NumPy array";

// Loads NumPy's C-API table on first use; cheap afterwards.
bool ensure_numpy() { return PyArray_ImportNumPyAPI() >= 0; }

// Owner of a decoded buffer, set as the base of the array that shows it:
// NumPy reads the codec's own (huge-page backed) memory, no copy is made.
struct SampleBuffer {
  PyObject_HEAD
  tessary::Buffer<float>* samples;
};

void sample_buffer_dealloc(PyObject* self) {
  auto* buffer = reinterpret_cast<SampleBuffer*>(self);
  delete buffer->samples;
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  Py_DECREF(type);
}

PyType_Slot kSampleBufferSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(sample_buffer_dealloc)},
    {0, nullptr},
};

PyType_Spec kSampleBufferShape = {
    "corvane._SampleBuffer",
    sizeof(SampleBuffer),
    0,
    Py_TPFLAGS_DEFAULT,
    kSampleBufferSlots,
};

std::atomic<PyTypeObject*> g_sample_buffer_type{nullptr};

// Created on first use and kept for the life of the process. Threads racing
// on a free-threaded interpreter keep the first type stored.
PyTypeObject* sample_buffer_type() {
  PyTypeObject* type = g_sample_buffer_type.load(std::memory_order_acquire);
  if (type != nullptr) return type;
  auto* made = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&kSampleBufferShape));
  if (made == nullptr) return nullptr;
  if (!g_sample_buffer_type.compare_exchange_strong(type, made, std::memory_order_acq_rel)) {
    Py_DECREF(made);
    return type;
  }
  return made;
}

}  // namespace

bool borrow_signal(PyObject* object, BorrowedSignal* out) {
  if (!ensure_numpy()) return false;
  if (!PyArray_Check(object)) {
    PyErr_SetString(PyExc_ValueError, kNotASignal);
    return false;
  }
  auto* array = reinterpret_cast<PyArrayObject*>(object);
  if (PyArray_NDIM(array) != 1) {
    PyErr_SetString(PyExc_ValueError, kNotASignal);
    return false;
  }
  PyArray_Descr* descr = PyArray_DESCR(array);
  PyArray_Descr* f32 = PyArray_DescrFromType(NPY_FLOAT32);
  PyArray_Descr* f64 = PyArray_DescrFromType(NPY_FLOAT64);
  const bool is_f32 = PyArray_EquivTypes(descr, f32);
  const bool is_f64 = !is_f32 && PyArray_EquivTypes(descr, f64);
  Py_DECREF(f32);
  Py_DECREF(f64);
  if (!is_f32 && !is_f64) {
    PyErr_SetString(PyExc_ValueError, kNotASignal);
    return false;
  }
  const npy_intp count = PyArray_DIM(array, 0);
  if (count > 0 && !(PyArray_IS_C_CONTIGUOUS(array) && PyArray_ISALIGNED(array))) {
    PyErr_SetString(PyExc_TypeError, "The given array is not contiguous or is misaligned.");
    return false;
  }
  out->data = PyArray_DATA(array);
  out->count = static_cast<std::size_t>(count);
  out->type = is_f32 ? SampleType::Float32 : SampleType::Float64;
  return true;
}

PyObject* array_from_samples(tessary::Buffer<float>&& samples) {
  if (!ensure_numpy()) return nullptr;
  PyTypeObject* type = sample_buffer_type();
  if (type == nullptr) return nullptr;
  auto* owned = new (std::nothrow) tessary::Buffer<float>(std::move(samples));
  if (owned == nullptr) return PyErr_NoMemory();
  auto* owner = PyObject_New(SampleBuffer, type);
  if (owner == nullptr) {
    delete owned;
    return nullptr;
  }
  owner->samples = owned;
  npy_intp dims[1] = {static_cast<npy_intp>(owned->size())};
  PyObject* array = PyArray_SimpleNewFromData(1, dims, NPY_FLOAT32, owned->data());
  if (array == nullptr) {
    Py_DECREF(owner);
    return nullptr;
  }
  // SetBaseObject steals the owner reference, also when it fails.
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array),
                            reinterpret_cast<PyObject*>(owner)) < 0) {
    Py_DECREF(array);
    return nullptr;
  }
  return array;
}

}  // namespace corvane_py
