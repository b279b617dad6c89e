// Filter banks by processor path: the one place that maps a KernelPath to
// the banks of its folder (portable banks/, sse/, avx/).
#pragma once

#include <span>

#include "core/border_mode.h"
#include "core/error.h"
#include "cpu/cpu_features.h"
#include "executor.h"

namespace tessary {

// The bank of `path` for the low-pass filter h = `low_pass` (L = its length),
// with the high-pass filter g[k] = (-1)^k h[L-1-k]: the path's fixed-length
// kernel where it has one for L, its generic kernel otherwise.
// ZeroOrOddWavelet for an empty or odd L, AllocationFailed when memory runs
// out. Building runs none of the path's instructions; running a bank of the
// Sse or Avx path needs what choose_filter_bank_path asks of the processor.
// A path this build does not hold gives the portable bank.
TResult<IncompleteDwtExecutorHandle<float>> make_filter_bank_f32(
    KernelPath path, BorderMode mode, std::span<const float> low_pass);

// The same for a table in double precision, each value rounded to the
// nearest float first.
TResult<IncompleteDwtExecutorHandle<float>> make_filter_bank_f32(
    KernelPath path, BorderMode mode, std::span<const double> table);

}  // namespace tessary
