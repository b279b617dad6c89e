// Builds the filter bank of each length for one processor path. The facade
// picks the factory with choose_filter_bank_path(cpu_features()) and asks it
// for the member that fits the filter length.
#pragma once

#include <array>
#include <span>

#include "border_mode.h"
#include "dwt_executor.h"
#include "factory.h"

namespace tessary {

// Each operation takes the low-pass filter h as given and derives the
// high-pass filter g[k] = (-1)^k h[L-1-k] (low_pass_to_high).
class DwtFactory {
 public:
  virtual IncompleteDwtExecutorHandle<float> wavelet_2_taps(
      BorderMode mode, const std::array<float, 2>& low_pass) const = 0;
  virtual IncompleteDwtExecutorHandle<float> wavelet_4_taps(
      BorderMode mode, const std::array<float, 4>& low_pass) const = 0;
  virtual IncompleteDwtExecutorHandle<float> wavelet_6_taps(
      BorderMode mode, const std::array<float, 6>& low_pass) const = 0;
  virtual IncompleteDwtExecutorHandle<float> wavelet_8_taps(
      BorderMode mode, const std::array<float, 8>& low_pass) const = 0;
  virtual IncompleteDwtExecutorHandle<float> wavelet_10_taps(
      BorderMode mode, const std::array<float, 10>& low_pass) const = 0;
  virtual IncompleteDwtExecutorHandle<float> wavelet_12_taps(
      BorderMode mode, const std::array<float, 12>& low_pass) const = 0;
  virtual IncompleteDwtExecutorHandle<float> wavelet_16_taps(
      BorderMode mode, const std::array<float, 16>& low_pass) const = 0;
  // Any even, non-zero length; ZeroOrOddWavelet otherwise.
  virtual TResult<IncompleteDwtExecutorHandle<float>> wavelet_n_taps(
      BorderMode mode, std::span<const float> low_pass) const = 0;

  virtual ~DwtFactory() = default;
};

// The factory of one processor path (a process-wide immutable object).
// Building banks is safe anywhere; running those of the Sse and Avx paths
// needs SSE4.2, respectively AVX2 and FMA, so callers take the path from
// choose_filter_bank_path.
const DwtFactory& make_dwt_factory(KernelPath path);

}  // namespace tessary
