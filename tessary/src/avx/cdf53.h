// CDF 5/3 by lifting with AVX2 and FMA: the checks and data flow of Cdf53,
// with every lifting update one fused multiply-add of the rounded neighbour
// sum, so results may differ from Cdf53 in the last place.
#pragma once

#include <cstdint>

#include "lifting/cdf53.h"

namespace tessary::avx {

class AvxCdf53 final : public Cdf53Lifting {
 public:
  void forward(const float* x, std::uint64_t n, float* s, float* d) const override;
  void inverse_in_place(float* y, const float* details, std::uint64_t n,
                        float* work) const override;
};

}  // namespace tessary::avx
