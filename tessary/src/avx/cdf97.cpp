#include "avx/cdf97.h"

#include "avx/steps.h"

namespace tessary::avx {

void AvxCdf97::forward(const float* x, std::uint64_t n, float* s, float* d) const {
  AvxLiftingF32::forward_from_input(x, n, s, d, kCdf97Alpha, kCdf97Beta);
  AvxLiftingF32::forward_in_place(s, d, n, kCdf97Gamma, kCdf97Delta, kCdf97K, kCdf97InvK);
}

void AvxCdf97::inverse_in_place(float* y, const float* details, std::uint64_t n,
                                float* work) const {
  // Unscale and undo the second update and predict: the approximation in
  // place, the details into `work`; then the first pair into y.
  float* e = y + n / 2;
  AvxLiftingF32::inverse_to_bands(e, details, n, e, work, -kCdf97Delta, -kCdf97Gamma, kCdf97InvK,
                                  kCdf97K);
  AvxLiftingF32::inverse_to_signal(e, work, n, y, -kCdf97Beta, -kCdf97Alpha);
}

}  // namespace tessary::avx
