// CDF 9/7 by lifting with AVX2 and FMA: the checks and data flow of Cdf97,
// with every lifting update one fused multiply-add of the rounded neighbour
// sum (the scaling stays a plain multiply), so results may differ from Cdf97
// in the last place.
#pragma once

#include <span>

#include "../cdf97f.h"

namespace tessary::avx {

class AvxCdf97 final : public Cdf97Lifting {
 public:
  Status execute_forward(std::span<const float> input, std::span<float> approximation,
                         std::span<float> details) const override;
  void inverse_in_place(float* y, const float* details, std::uint64_t n,
                        float* work) const override;
  std::uint64_t inverse_work_length(std::uint64_t n) const override;
};

}  // namespace tessary::avx
