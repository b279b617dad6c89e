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
  Status execute_inverse(std::span<const float> approximation, std::span<const float> details,
                         std::span<float> output) const override;
};

}  // namespace tessary::avx
