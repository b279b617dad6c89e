// What every convolution filter bank shares: the band-size rules, the checks
// and the two sums, the frame of the fixed-length banks (portable, SSE and
// AVX alike) and the portable bank template behind Wavelet2Taps ...
// Wavelet16Taps.
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

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "border_mode.h"
#include "dwt_executor.h"
#include "wavelet_families.h"

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

// The outputs of a fixed-length bank that reach past the signal: [0,
// head_end) read left of it, [tail_begin, m) right of it, the ones between
// read the input only. Output i reads ext(2i - (L-2) .. 2i + 1), so the head
// ends at i = (L-2)/2 and the tail begins where 2i + 1 >= n, at i = n/2.
struct EdgeSplit {
  std::uint64_t head_end;
  std::uint64_t tail_begin;
};

// Longest edge window extend_edges writes for `taps` taps.
constexpr std::size_t edge_capacity(std::size_t taps) { return 2 * taps - 2; }

// The extended samples the edge outputs of an L-tap bank read, by one border
// descriptor per call (n = x.size() >= L):
//
//   head[0 .. L-3 + L-2]        = ext(-(L-2) .. L-3)             outputs 0 .. head_end-1
//   tail[0 .. 2(m-tb) + L-3]    = ext(2 tb - (L-2) .. 2m - 1)    outputs tb .. m-1
//
// (tb = tail_begin), so edge output i reads its window at head + 2i or at
// tail + 2(i - tb), exactly as a body output reads x + 2i - (L-2). Both
// windows hold at most edge_capacity(L) samples (2L-4 head, 2L-2 tail for odd n).
EdgeSplit extend_edges(std::span<const float> x, BorderMode mode, std::uint64_t taps,
                       float* head, float* tail);

// A run of consecutive outputs whose windows start two samples apart:
// output k of the run reads window[2k .. 2k + L - 1].
struct Run {
  const float* window;
  std::uint64_t count;
  float* approximation;
  float* details;
};

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
  virtual Status execute_inverse_overwriting(std::span<const float> approximation,
                                             std::span<const float> details,
                                             std::span<float> output) const = 0;

 protected:
  ~OverwritingSynthesis() = default;
};

// What every fixed-length bank shares, whatever evaluates its sums: the
// sizes, the checks in their order, the edge windows and the stored filters,
// each padded to S >= L floats (repeated when L divides S, followed by zeros
// otherwise) so that a wide kernel loads whole registers. A bank supplies
// two bodies:
//   execute_forward_impl  the bands of three runs: the head outputs (windows
//                         from the left edge samples), the body (windows in
//                         the input) and the tail (right edge samples);
//   execute_inverse_impl  the synthesis of out_length / 2 output pairs.
// They run only after the checks passed, so a failed call writes nothing.
template <std::size_t L, std::size_t S>
class PaddedTapsBank : public IncompleteDwtExecutor<float>, public OverwritingSynthesis {
  static_assert(L >= 2 && L % 2 == 0 && S >= L, "filter banks have an even number of taps");

 public:
  using Stored = std::array<float, S>;

  Status execute_forward(std::span<const float> input, std::span<float> approximation,
                         std::span<float> details) const final {
    const std::uint64_t n = input.size();
    if (auto s = taps::check_forward(n, L, approximation.size(), details.size()); !s) return s;
    const std::uint64_t m = approximation.size();
    float head[taps::edge_capacity(L)];
    float tail[taps::edge_capacity(L)];
    const taps::EdgeSplit split = taps::extend_edges(input, mode_, L, head, tail);
    float* a = approximation.data();
    float* d = details.data();
    const std::uint64_t body = split.tail_begin - split.head_end;
    const taps::Run runs[3] = {
        {head, split.head_end, a, d},
        {input.data(), body, a + split.head_end, d + split.head_end},
        {tail, m - split.tail_begin, a + split.tail_begin, d + split.tail_begin},
    };
    execute_forward_impl(runs);
    return {};
  }
  // The scratch is not used (nor checked).
  Status execute_forward_with_scratch(std::span<const float> input,
                                      std::span<float> approximation, std::span<float> details,
                                      std::span<float>) const final {
    return execute_forward(input, approximation, details);
  }
  std::uint64_t required_scratch_size(std::uint64_t) const final { return 0; }
  BandSizes dwt_size(std::uint64_t n) const final {
    const std::uint64_t m = taps::band_length(n, L);
    return {m, m};
  }
  Status execute_inverse(std::span<const float> approximation, std::span<const float> details,
                         std::span<float> output) const final {
    const std::uint64_t m = approximation.size();
    if (auto s = taps::check_inverse(m, details.size(), output.size(), L); !s) return s;
    execute_inverse_impl(approximation.data(), details.data(), output.data(), output.size() / 2,
                         taps::Synthesis::AddInto);
    return {};
  }
  Status execute_inverse_overwriting(std::span<const float> approximation,
                                     std::span<const float> details,
                                     std::span<float> output) const final {
    const std::uint64_t m = approximation.size();
    if (auto s = taps::check_inverse(m, details.size(), output.size(), L); !s) return s;
    execute_inverse_impl(approximation.data(), details.data(), output.data(), output.size() / 2,
                         taps::Synthesis::Overwrite);
    return {};
  }
  std::uint64_t idwt_size(std::uint64_t approximation_length, std::uint64_t) const final {
    return taps::synthesis_length(approximation_length, L);
  }
  std::uint64_t filter_length() const final { return L; }

  BorderMode border_mode() const { return mode_; }
  // h and g as stored; their first L floats are the filters.
  const Stored& low_pass() const { return low_pass_; }
  const Stored& high_pass() const { return high_pass_; }

 protected:
  // Derives g[k] = (-1)^k h[L-1-k] and lays out both filters.
  PaddedTapsBank(BorderMode mode, const std::array<float, L>& low_pass)
      : mode_(mode), low_pass_{}, high_pass_{} {
    std::array<float, L> high{};
    low_pass_to_high_into(low_pass, high);
    const std::size_t copies = S % L == 0 ? S / L : 1;
    for (std::size_t c = 0; c < copies; ++c) {
      std::copy(low_pass.begin(), low_pass.end(), low_pass_.begin() + c * L);
      std::copy(high.begin(), high.end(), high_pass_.begin() + c * L);
    }
  }

 private:
  virtual void execute_forward_impl(const taps::Run (&runs)[3]) const = 0;
  // The synthesis into out[0 .. 2 pairs), pairs = m - L/2 + 1, added or
  // written over as `how` says.
  virtual void execute_inverse_impl(const float* approximation, const float* details,
                                    float* out, std::uint64_t pairs,
                                    taps::Synthesis how) const = 0;

  BorderMode mode_;
  Stored low_pass_;
  Stored high_pass_;
};

// The portable bank: sums in ascending tap order, multiplies and adds kept
// separate.
template <std::size_t L>
class FixedTapsBank final : public PaddedTapsBank<L, L> {
 public:
  FixedTapsBank(BorderMode mode, const std::array<float, L>& low_pass)
      : PaddedTapsBank<L, L>(mode, low_pass) {}

 private:
  void execute_forward_impl(const taps::Run (&runs)[3]) const override {
    constexpr taps::FixedCount<L> kTaps;
    const float* h = this->low_pass().data();
    const float* g = this->high_pass().data();
    for (const taps::Run& run : runs) {
      for (std::uint64_t k = 0; k < run.count; ++k) {
        run.approximation[k] = taps::dot(h, run.window + 2 * k, kTaps);
        run.details[k] = taps::dot(g, run.window + 2 * k, kTaps);
      }
    }
  }
  void execute_inverse_impl(const float* approximation, const float* details, float* out,
                            std::uint64_t pairs, taps::Synthesis how) const override {
    const float* h = this->low_pass().data();
    const float* g = this->high_pass().data();
    if (how == taps::Synthesis::Overwrite) {
      taps::overlap_add<true>(h, g, taps::FixedCount<L>{}, approximation, details, out, 2 * pairs);
    } else {
      taps::overlap_add<false>(h, g, taps::FixedCount<L>{}, approximation, details, out,
                               2 * pairs);
    }
  }
};

}  // namespace tessary
