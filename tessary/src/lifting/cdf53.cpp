#include "lifting/cdf53.h"

#include "lifting/steps.h"

namespace tessary {

void Cdf53::forward(const float* x, std::uint64_t n, float* s, float* d) const {
  lift_predict_from_input(x, n, d, kCdf53Predict);
  lift_update_from_input(x, n, d, s, kCdf53Update);
}

void Cdf53::inverse_in_place(float* y, const float* details, std::uint64_t n,
                             float* /*work*/) const {
  lift_inverse_interleaved(y + n / 2, details, n, y, -kCdf53Update, -kCdf53Predict);
}

}  // namespace tessary
