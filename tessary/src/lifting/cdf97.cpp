#include "lifting/cdf97.h"

#include "lifting/steps.h"

namespace tessary {

void Cdf97::forward(const float* x, std::uint64_t n, float* s, float* d) const {
  lift_predict_from_input(x, n, d, kCdf97Alpha);
  lift_update_from_input(x, n, d, s, kCdf97Beta);
  lift_predict_odd(s, d, n, kCdf97Gamma);
  lift_update_even(s, d, n, kCdf97Delta);
  lift_scale(s, n - n / 2, kCdf97K, s);
  lift_scale(d, n / 2, kCdf97InvK, d);
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

}  // namespace tessary
