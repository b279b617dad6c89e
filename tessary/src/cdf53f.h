// The CDF 5/3 (biorthogonal 5/3) wavelet by lifting, portable.
#pragma once

#include <cstdint>
#include <span>

#include "lifting_levels.h"

namespace tessary {

inline constexpr std::uint64_t kCdf53ShortestInput = 3;
inline constexpr std::uint64_t kCdf53FilterLength = 6;
// Forward weights; the inverse runs them negated in reverse order. No
// scaling step.
inline constexpr float kCdf53Predict = -0.5f;
inline constexpr float kCdf53Update = 0.25f;

using Cdf53Lifting = LiftingExecutor<kCdf53ShortestInput, kCdf53FilterLength>;

class Cdf53 final : public Cdf53Lifting {
 public:
  Status execute_forward(std::span<const float> input, std::span<float> approximation,
                         std::span<float> details) const override;
  void inverse_in_place(float* y, const float* details, std::uint64_t n,
                        float* work) const override;
  std::uint64_t inverse_work_length(std::uint64_t n) const override;
};

}  // namespace tessary
