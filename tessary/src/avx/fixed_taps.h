// The fixed-length filter banks for processors with AVX2 and FMA: the bands
// of FixedTapsBank<L> (same sizes, checks, errors and border samples), with
// the sums evaluated for eight outputs at a time. Results agree with the
// portable bank to within the rounding of the sums, not bit for bit: the
// products of a window are summed as a tree, ((p0 + p4) + (p1 + p5)) +
// ((p2 + p6) + (p3 + p7)) with taps past eight fused onto the first eight,
// and the synthesis fuses its multiplies and adds.
//
// The coefficients are stored padded to whole registers (S floats each):
//
//   L = 2        (h0 h1) four times
//   L = 4        (h0 .. h3) twice
//   L = 6, 8     h0 .. h(L-1), zeros to 8
//   L = 10 .. 16 h0 .. h(L-1), zeros to 16
//
// and g likewise. Most outputs are computed eight at a time: with up to
// eight taps, their products sit in lane pairs against registers of
// repeated neighbouring taps (c[2t], c[2t+1]); with more, each coefficient
// is broadcast across a register, one lane per output. An output computed
// on its own (at the edges, or after the last step of eight) loads its
// window against the padded registers (their first L floats for L = 2, 4)
// and sums it in the same order. Windows are loaded unaligned and never
// past their last sample, so no lane multiplies a sample outside its window:
// a non-finite sample reaches the same outputs as in the portable bank.
//
// Members are defined in avx/fixed_taps.cpp, which builds one kernel for
// every count of FixedTapCounts. Run one only where choose_filter_bank_path
// says Avx.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "banks/fixed_taps.h"

namespace tessary::avx {

// Floats in one stored coefficient vector of an L-tap kernel.
constexpr std::size_t stored_taps(std::size_t taps) { return taps <= 8 ? 8 : 16; }

template <std::size_t L>
class AvxFixedTapsF32 final : public PaddedTapsBank<L, stored_taps(L)> {
 public:
  AvxFixedTapsF32(BorderMode mode, std::span<const float, L> low_pass);

 private:
  void execute_forward_impl(const taps::Run (&runs)[3]) const override;
  void execute_inverse_impl(const float* approximation, const float* details, float* out,
                            std::uint64_t pairs, taps::Synthesis how) const override;
};

// The AVX bank for low_pass.size() taps: AvxFixedTapsF32<L> for the counts
// of FixedTapCounts, the generic AvxWaveletNTapsF32 otherwise.
TResult<IncompleteDwtExecutorHandle<float>> make_bank_f32(BorderMode mode,
                                                          std::span<const float> low_pass);

}  // namespace tessary::avx
