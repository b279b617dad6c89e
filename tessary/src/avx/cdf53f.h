// CDF 5/3 by lifting with AVX2 and FMA: the checks and data flow of Cdf53,
// with every lifting update one fused multiply-add of the rounded neighbour
// sum, so results may differ from Cdf53 in the last place.
#pragma once

#include <span>

#include "../cdf53f.h"

namespace tessary::avx {

class AvxCdf53 final : public Cdf53Lifting {
 public:
  Status execute_forward(std::span<const float> input, std::span<float> approximation,
                         std::span<float> details) const override;
  Status execute_inverse(std::span<const float> approximation, std::span<const float> details,
                         std::span<float> output) const override;
};

}  // namespace tessary::avx
