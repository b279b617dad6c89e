// What every convolution filter bank shares: the band-size rules, the checks
// and the two sums, plus the fixed-length bank template behind Wavelet2Taps
// ... Wavelet16Taps.
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
// Sums run in ascending j from zero with separate multiplies and adds, and
// the synthesis adds the details product to the old value before the
// approximation product, so every bank computes bit-identical bands for the
// same coefficients. Banks add into `out`: callers pass it zero-filled.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "border_mode.h"
#include "dwt_executor.h"

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
Status check_forward(std::uint64_t n, std::uint64_t taps, std::uint64_t approximation_length,
                     std::uint64_t details_length);

// ApproxDetailsSizeMismatch, then OutputSizeMismatch (expected, given).
Status check_inverse(std::uint64_t approximation_length, std::uint64_t details_length,
                     std::uint64_t output_length, std::uint64_t taps);

// Tap counts are either a compile-time constant (the fixed banks, where the
// loops unroll) or a run-time value (WaveletNTaps); both go through the same
// loops so that their sums are associated identically.
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
template <class Count>
void overlap_add(const float* h, const float* g, Count taps, const float* approximation,
                 const float* details, float* out, std::uint64_t out_length) {
  const std::uint64_t half = taps.value / 2;
  for (std::uint64_t q = 0; q < out_length / 2; ++q) {
    float even = out[2 * q];
    float odd = out[2 * q + 1];
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

}  // namespace taps

// A bank with L taps held inline. The first L/2 - 1 outputs (and the last
// L/2 - 1 for even n, L/2 for odd n) reach past the signal and build their
// window sample by sample through the border rule; the outputs between read
// the input directly.
template <std::size_t L>
class FixedTapsBank final : public IncompleteDwtExecutor<float> {
 public:
  using Taps = std::array<float, L>;

  FixedTapsBank(BorderMode mode, const Taps& low_pass, const Taps& high_pass)
      : mode_(mode), low_pass_(low_pass), high_pass_(high_pass) {}

  Status execute_forward(std::span<const float> input, std::span<float> approximation,
                         std::span<float> details) const override;
  // The scratch is not used (nor checked).
  Status execute_forward_with_scratch(std::span<const float> input,
                                      std::span<float> approximation, std::span<float> details,
                                      std::span<float> scratch) const override;
  std::uint64_t required_scratch_size(std::uint64_t) const override { return 0; }
  BandSizes dwt_size(std::uint64_t n) const override {
    const std::uint64_t m = taps::band_length(n, L);
    return {m, m};
  }
  Status execute_inverse(std::span<const float> approximation, std::span<const float> details,
                         std::span<float> output) const override;
  std::uint64_t idwt_size(std::uint64_t approximation_length, std::uint64_t) const override {
    return taps::synthesis_length(approximation_length, L);
  }
  std::uint64_t filter_length() const override { return L; }

  BorderMode border_mode() const { return mode_; }
  const Taps& low_pass() const { return low_pass_; }
  const Taps& high_pass() const { return high_pass_; }

 private:
  BorderMode mode_;
  Taps low_pass_;
  Taps high_pass_;
};

template <std::size_t L>
Status FixedTapsBank<L>::execute_forward(std::span<const float> input,
                                         std::span<float> approximation,
                                         std::span<float> details) const {
  const std::uint64_t n = input.size();
  if (auto s = taps::check_forward(n, L, approximation.size(), details.size()); !s) return s;
  static_assert(L >= 2 && L % 2 == 0, "filter banks have an even number of taps");
  constexpr taps::FixedCount<L> kTaps;
  constexpr std::uint64_t kLead = L - 2;
  const std::uint64_t m = approximation.size();
  const float* x = input.data();
  const float* h = low_pass_.data();
  const float* g = high_pass_.data();
  // Output i reads ext(2i - kLead .. 2i + 1): it needs no left-border sample
  // from i = kLead / 2 on and no right-border sample while 2i + 1 < n.
  const std::uint64_t head_end = kLead / 2;
  const std::uint64_t tail_begin = n / 2;
  if (head_end > 0 || tail_begin < m) {
    const BorderInterpolation border =
        BorderInterpolation::create(mode_, 0, static_cast<std::int64_t>(n));
    auto at_border = [&](std::uint64_t i) {
      float window[L];
      const std::int64_t first = static_cast<std::int64_t>(2 * i) - static_cast<std::int64_t>(kLead);
      for (std::size_t j = 0; j < L; ++j) window[j] = border.sample(x, first + static_cast<std::int64_t>(j));
      approximation[i] = taps::dot(h, window, kTaps);
      details[i] = taps::dot(g, window, kTaps);
    };
    for (std::uint64_t i = 0; i < head_end; ++i) at_border(i);
    for (std::uint64_t i = tail_begin; i < m; ++i) at_border(i);
  }
  for (std::uint64_t i = head_end; i < tail_begin; ++i) {
    const float* window = x + (2 * i - kLead);
    approximation[i] = taps::dot(h, window, kTaps);
    details[i] = taps::dot(g, window, kTaps);
  }
  return {};
}

template <std::size_t L>
Status FixedTapsBank<L>::execute_forward_with_scratch(std::span<const float> input,
                                                      std::span<float> approximation,
                                                      std::span<float> details,
                                                      std::span<float>) const {
  return execute_forward(input, approximation, details);
}

template <std::size_t L>
Status FixedTapsBank<L>::execute_inverse(std::span<const float> approximation,
                                         std::span<const float> details,
                                         std::span<float> output) const {
  const std::uint64_t m = approximation.size();
  if (auto s = taps::check_inverse(m, details.size(), output.size(), L); !s) return s;
  taps::overlap_add(low_pass_.data(), high_pass_.data(), taps::FixedCount<L>{},
                    approximation.data(), details.data(), output.data(), output.size());
  return {};
}

}  // namespace tessary
