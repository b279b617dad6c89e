// The CDF 9/7 (biorthogonal 9/7) wavelet by lifting, portable.
#pragma once

#include <cstdint>
#include <span>

#include "lifting_levels.h"

namespace tessary {

inline constexpr std::uint64_t kCdf97ShortestInput = 4;
inline constexpr std::uint64_t kCdf97FilterLength = 10;

// The published lifting coefficients rounded to float; each literal is the
// exact value of the float. 1/K is its own rounded constant, not 1.0f / K.
inline constexpr float kCdf97Alpha = -1.5861343145370483f;   // first predict
inline constexpr float kCdf97Beta = -0.05298011749982834f;   // first update
inline constexpr float kCdf97Gamma = 0.8829110860824585f;    // second predict
inline constexpr float kCdf97Delta = 0.4435068666934967f;    // second update
inline constexpr float kCdf97K = 1.1496044397354126f;        // approximation scale
inline constexpr float kCdf97InvK = 0.8698644638061523f;     // details scale

using Cdf97Lifting = LiftingExecutor<kCdf97ShortestInput, kCdf97FilterLength>;

class Cdf97 final : public Cdf97Lifting {
 public:
  Status execute_forward(std::span<const float> input, std::span<float> approximation,
                         std::span<float> details) const override;
  void inverse_in_place(float* y, const float* details, std::uint64_t n,
                        float* work) const override;
  std::uint64_t inverse_work_length(std::uint64_t n) const override;
};

}  // namespace tessary
