// The CDF 9/7 (biorthogonal 9/7) wavelet by lifting, portable.
#pragma once

#include <cstdint>

#include "lifting/levels.h"

namespace tessary {

// The published lifting coefficients rounded to float; each literal is the
// exact value of the float. 1/K is its own rounded constant, not 1.0f / K.
inline constexpr float kCdf97Alpha = -1.5861343145370483f;   // first predict
inline constexpr float kCdf97Beta = -0.05298011749982834f;   // first update
inline constexpr float kCdf97Gamma = 0.8829110860824585f;    // second predict
inline constexpr float kCdf97Delta = 0.4435068666934967f;    // second update
inline constexpr float kCdf97K = 1.1496044397354126f;        // approximation scale
inline constexpr float kCdf97InvK = 0.8698644638061523f;     // details scale

// The inverse unscales the details, which it may only read, into a working
// copy.
using Cdf97Lifting = LiftingExecutor<LiftingShape{
    .shortest_input = 4, .filter_length = 10, .inverse_needs_details_copy = true}>;

class Cdf97 final : public Cdf97Lifting {
 public:
  void forward(const float* x, std::uint64_t n, float* s, float* d) const override;
  void inverse_in_place(float* y, const float* details, std::uint64_t n,
                        float* work) const override;
};

}  // namespace tessary
