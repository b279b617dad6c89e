// Everything the binding needs from NumPy, behind plain C++ types: the only
// file that includes NumPy's headers is numpy_bridge.cpp.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <vector>

#include "core/buffer.h"

namespace corvane_py {

enum class SampleType { Float32, Float64 };

// A borrowed view of a 1-D float array's samples, valid while the array is.
struct BorrowedSignal {
  const void* data = nullptr;
  std::size_t count = 0;
  SampleType type = SampleType::Float32;
};

// Checks that `object` is a 1-D NumPy array of native float32 (or, failing
// that, float64), aligned and contiguous when non-empty. Returns false with
// the Python exception set.
bool borrow_signal(PyObject* object, BorrowedSignal* out);

// A new writeable 1-D float32 array that takes over `samples` without
// copying; the buffer is freed when the array is. Null with an exception set
// on failure (the samples are then released).
PyObject* array_from_samples(tessary::Buffer<float>&& samples);

}  // namespace corvane_py
