#include "cdf97f.h"

#include <vector>

#include "lifting_steps.h"

namespace tessary {

Status Cdf97::execute_forward(std::span<const float> input, std::span<float> approximation,
                              std::span<float> details) const {
  const std::uint64_t n = input.size();
  if (auto s = check_lifting_forward(n, approximation.size(), details.size(),
                                     kCdf97ShortestInput);
      !s) {
    return s;
  }
  float* s = approximation.data();
  float* d = details.data();
  lift_predict_from_input(input.data(), n, d, kCdf97Alpha);
  lift_update_from_input(input.data(), n, d, s, kCdf97Beta);
  lift_predict_odd(s, d, n, kCdf97Gamma);
  lift_update_even(s, d, n, kCdf97Delta);
  lift_scale(s, approximation.size(), kCdf97K, s);
  lift_scale(d, details.size(), kCdf97InvK, d);
  return {};
}

Status Cdf97::execute_inverse(std::span<const float> approximation,
                              std::span<const float> details, std::span<float> output) const {
  const std::uint64_t n = output.size();
  if (auto s = check_lifting_inverse(approximation.size(), details.size(), n,
                                     kCdf97ShortestInput);
      !s) {
    return s;
  }
  // Unscaled working copies of the bands for the first two inverse steps;
  // the last two write the output directly.
  std::vector<float> e;
  std::vector<float> o;
  if (auto s = try_resize(e, approximation.size()); !s) return s;
  if (auto s = try_resize(o, details.size()); !s) return s;
  lift_scale(approximation.data(), e.size(), kCdf97InvK, e.data());
  lift_scale(details.data(), o.size(), kCdf97K, o.data());
  lift_update_even(e.data(), o.data(), n, -kCdf97Delta);
  lift_predict_odd(e.data(), o.data(), n, -kCdf97Gamma);
  lift_inverse_interleaved(e.data(), o.data(), n, output.data(), -kCdf97Beta, -kCdf97Alpha);
  return {};
}

}  // namespace tessary
