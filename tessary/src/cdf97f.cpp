#include "cdf97f.h"

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

void Cdf97::inverse_in_place(float* y, const float* details, std::uint64_t n,
                             float* work) const {
  const std::uint64_t m = n / 2;
  // The approximation is unscaled where it lies; the details get an
  // unscaled working copy, as they are read only.
  float* e = y + m;
  float* o = work;
  lift_scale(e, n - m, kCdf97InvK, e);
  lift_scale(details, m, kCdf97K, o);
  lift_update_even(e, o, n, -kCdf97Delta);
  lift_predict_odd(e, o, n, -kCdf97Gamma);
  lift_inverse_interleaved(e, o, n, y, -kCdf97Beta, -kCdf97Alpha);
}

std::uint64_t Cdf97::inverse_work_length(std::uint64_t n) const { return n / 2; }

}  // namespace tessary
