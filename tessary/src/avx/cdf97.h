// CDF 9/7 by lifting with AVX2 and FMA: the checks and data flow of Cdf97,
// with every lifting update one fused multiply-add of the rounded neighbour
// sum (the scaling stays a plain multiply), so results may differ from Cdf97
// in the last place.
#pragma once

#include <cstdint>

#include "lifting/cdf97.h"

namespace tessary::avx {

class AvxCdf97 final : public Cdf97Lifting {
 public:
  void forward(const float* x, std::uint64_t n, float* s, float* d) const override;
  void inverse_in_place(float* y, const float* details, std::uint64_t n,
                        float* work) const override;
};

}  // namespace tessary::avx
