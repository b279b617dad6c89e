// The CDF 5/3 (biorthogonal 5/3) wavelet by lifting, portable.
#pragma once

#include <cstdint>

#include "lifting/levels.h"

namespace tessary {

// Forward weights; the inverse runs them negated in reverse order. No
// scaling step, so the inverse needs no working copy of the details.
inline constexpr float kCdf53Predict = -0.5f;
inline constexpr float kCdf53Update = 0.25f;

using Cdf53Lifting = LiftingExecutor<LiftingShape{
    .shortest_input = 3, .filter_length = 6, .inverse_needs_details_copy = false}>;

class Cdf53 final : public Cdf53Lifting {
 public:
  void forward(const float* x, std::uint64_t n, float* s, float* d) const override;
  void inverse_in_place(float* y, const float* details, std::uint64_t n,
                        float* work) const override;
};

}  // namespace tessary
