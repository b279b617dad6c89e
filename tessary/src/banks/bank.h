// What every convolution filter bank shares, fixed-length and generic,
// portable and wide alike: the band-size rules, the checks in their order,
// the defining sums and the synthesis.
//
// One level with low-pass h[0..L), high-pass g[0..L) and n input samples:
//
//   m = (n + L - 1) / 2 bands of each kind
//   approx[i]  = sum_j h[j] * ext(2i + j - (L - 2))      j = 0 .. L-1
//   details[i] = sum_j g[j] * ext(2i + j - (L - 2))
//
// and the synthesis, the transpose of that map, over 2m - L + 2 outputs:
//
//   out[2j - (L - 2) + k] += h[k] * approx[j] + g[k] * details[j]
//
// The portable banks sum in ascending j from zero with separate multiplies
// and adds, and their synthesis adds the details product to the old value
// before the approximation product, so every portable bank computes
// bit-identical bands for the same coefficients; the SSE and AVX kernels
// associate the sums differently and agree to within their rounding. Banks
// add into `out`: callers pass it zero-filled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/error.h"

namespace tessary {

namespace taps {

inline std::uint64_t band_length(std::uint64_t n, std::uint64_t taps) {
  return (n + taps - 1) / 2;
}

// Machine-word arithmetic: wraps for bands too short to reconstruct anything,
// so that no output length matches them.
inline std::uint64_t synthesis_length(std::uint64_t m, std::uint64_t taps) {
  return 2 * m - taps + 2;
}

// InputTooShort, then ApproxDetailsNotHalfLength for the approximation and
// then the details band.
TResult<> check_forward(std::uint64_t n, std::uint64_t taps, std::uint64_t approximation_length,
                        std::uint64_t details_length);

// ApproxDetailsSizeMismatch, then OutputSizeMismatch (expected, given).
TResult<> check_inverse(std::uint64_t approximation_length, std::uint64_t details_length,
                        std::uint64_t output_length, std::uint64_t taps);

// Tap counts are either a compile-time constant (the fixed banks, where the
// loops unroll) or a run-time value (the generic bank); both go through the
// same loops so that their sums are associated identically.
template <std::size_t L>
struct FixedCount {
  static constexpr std::uint64_t value = L;
};
struct RuntimeCount {
  std::uint64_t value;
};

template <class Count>
inline float dot(const float* coefficients, const float* window, Count taps) {
  float sum = 0.0f;
  for (std::uint64_t j = 0; j < taps.value; ++j) sum = sum + coefficients[j] * window[j];
  return sum;
}

// The synthesis of m band pairs into out[0..out_length), out_length =
// 2m - L + 2. Written as the scatter above, band pair j adds to
// out[2j - (L-2) + k] for every k; each output p receives one term per j
// (k = p + L - 2 - 2j), in ascending j. Gathered per output pair instead:
//
//   out[2q]     += terms of j = q + t with k = L - 2 - 2t,  t = 0 .. L/2 - 1
//   out[2q + 1] += terms of j = q + t with k = L - 1 - 2t
//
// and q + L/2 - 1 <= m - 1 for every output, so no term falls outside the
// bands and no output needs a bounds test. Applying the terms in ascending t
// (= ascending j) to a register keeps the scatter's exact order of additions.
//
// With kOverwrite the outputs start from +0 instead of their old values: the
// bits a zero-filled output would end with, without clearing it first.
template <bool kOverwrite = false, class Count>
void overlap_add(const float* h, const float* g, Count taps, const float* approximation,
                 const float* details, float* out, std::uint64_t out_length) {
  const std::uint64_t half = taps.value / 2;
  for (std::uint64_t q = 0; q < out_length / 2; ++q) {
    float even = kOverwrite ? 0.0f : out[2 * q];
    float odd = kOverwrite ? 0.0f : out[2 * q + 1];
    const float* a = approximation + q;
    const float* d = details + q;
    for (std::uint64_t t = 0; t < half; ++t) {
      const std::uint64_t k = taps.value - 2 - 2 * t;
      even = h[k] * a[t] + (g[k] * d[t] + even);
      odd = h[k + 1] * a[t] + (g[k + 1] * d[t] + odd);
    }
    out[2 * q] = even;
    out[2 * q + 1] = odd;
  }
}

// How a synthesis body treats its output: adds into it (the public
// operation's contract), or writes over it as if it had been zero-filled.
enum class Synthesis { AddInto, Overwrite };

}  // namespace taps

// Banks that can write their synthesis over an output they do not read. The
// multi-level inverse uses it to skip clearing each level's output (a pass
// over memory as long as the synthesis itself); the public operation keeps
// its add-into contract.
class OverwritingSynthesis {
 public:
  // What execute_inverse leaves in a zero-filled `output`, bit for bit, with
  // the same checks and errors; `output`'s old contents are never read.
  virtual TResult<> execute_inverse_overwriting(std::span<const float> approximation,
                                                std::span<const float> details,
                                                std::span<float> output) const = 0;

 protected:
  ~OverwritingSynthesis() = default;
};

}  // namespace tessary
