// The generic filter bank for processors with SSE4.2: the record, sizes,
// checks, scratch rule and arena of WaveletNTaps, with the sums evaluated
// four taps at a time, multiplies and adds kept separate. Results agree with
// the portable bank to within the rounding of the sums. The SSE path also
// builds it for sixteen taps. Run it only where choose_filter_bank_path says
// Sse or Avx.
#pragma once

#include <cstdint>

#include "banks/n_taps.h"

namespace tessary::sse {

class SseWaveletNTapsF32 final : public NTapsBank {
 public:
  using NTapsBank::NTapsBank;

 private:
  void execute_forward_impl(const float* arena, float* approximation, float* details,
                            std::uint64_t m) const override;
  void execute_inverse_impl(const float* approximation, const float* details, float* out,
                            std::uint64_t pairs) const override;
};

}  // namespace tessary::sse
