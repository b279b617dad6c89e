#include "avx/cdf53.h"

#include "avx/steps.h"

namespace tessary::avx {

void AvxCdf53::forward(const float* x, std::uint64_t n, float* s, float* d) const {
  AvxLiftingF32::forward_from_input(x, n, s, d, kCdf53Predict, kCdf53Update);
}

void AvxCdf53::inverse_in_place(float* y, const float* details, std::uint64_t n,
                                float* /*work*/) const {
  AvxLiftingF32::inverse_to_signal(y + n / 2, details, n, y, -kCdf53Update, -kCdf53Predict);
}

}  // namespace tessary::avx
