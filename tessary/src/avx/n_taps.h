// The generic filter bank for processors with AVX2 and FMA: the record,
// sizes, checks, scratch rule and arena of WaveletNTaps, with the sums
// evaluated for eight outputs at a time by fused multiply-adds. Results
// agree with the portable bank to within the rounding of the sums. Run it
// only where choose_filter_bank_path says Avx.
#pragma once

#include <cstdint>

#include "banks/n_taps.h"

namespace tessary::avx {

class AvxWaveletNTapsF32 final : public NTapsBank {
 public:
  using NTapsBank::NTapsBank;

 private:
  void execute_forward_impl(const float* arena, float* approximation, float* details,
                            std::uint64_t m) const override;
  void execute_inverse_impl(const float* approximation, const float* details, float* out,
                            std::uint64_t pairs) const override;
};

}  // namespace tessary::avx
