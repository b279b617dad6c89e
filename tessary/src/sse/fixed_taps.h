// The fixed-length filter banks for processors with SSE4.2: the bands of
// FixedTapsBank<L> (same sizes, checks, errors and border samples), with the
// sums evaluated for four outputs at a time, multiplies and adds kept
// separate. Results agree with the portable bank to within the rounding of
// the sums: the products of a window are summed as a tree (lane l collects
// taps l, l + 4, l + 8, then (s0 + s1) + (s2 + s3)) rather than one after
// another.
//
// The coefficients are stored padded to whole registers (S floats each):
//
//   L = 2        (h0 h1) twice
//   L = 4, 8, 12 h0 .. h(L-1)
//   L = 6, 10    h0 .. h(L-1), 0, 0
//
// and g likewise. Most outputs take each coefficient broadcast across a
// register, one lane per output; an output computed on its own (at the
// edges, or after the last step of four) loads its window against the
// padded registers and sums it in the same order. Windows are loaded
// unaligned and never past their last sample, so no lane multiplies a
// sample outside its window.
//
// The kernels stop at twelve taps: sixteen (and every longer count) take the
// generic SseWaveletNTapsF32, with its scratch rule.
//
// Members are defined in sse/fixed_taps.cpp, which builds one kernel for
// every count of FixedTapCounts up to kLongestFixedTaps. Run one only where
// choose_filter_bank_path says Sse or Avx.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "banks/fixed_taps.h"

namespace tessary::sse {

inline constexpr std::size_t kLongestFixedTaps = 12;

// Floats in one stored coefficient vector of an L-tap kernel.
constexpr std::size_t stored_taps(std::size_t taps) { return (taps + 3) / 4 * 4; }

template <std::size_t L>
class SseFixedTapsF32 final : public PaddedTapsBank<L, stored_taps(L)> {
 public:
  SseFixedTapsF32(BorderMode mode, std::span<const float, L> low_pass);

 private:
  void execute_forward_impl(const taps::Run (&runs)[3]) const override;
  void execute_inverse_impl(const float* approximation, const float* details, float* out,
                            std::uint64_t pairs, taps::Synthesis how) const override;
};

// The SSE bank for low_pass.size() taps: SseFixedTapsF32<L> for the counts of
// FixedTapCounts up to kLongestFixedTaps, the generic SseWaveletNTapsF32
// otherwise.
TResult<IncompleteDwtExecutorHandle<float>> make_bank_f32(BorderMode mode,
                                                          std::span<const float> low_pass);

}  // namespace tessary::sse
