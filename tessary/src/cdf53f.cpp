#include "cdf53f.h"

#include "lifting_steps.h"

namespace tessary {

Status Cdf53::execute_forward(std::span<const float> input, std::span<float> approximation,
                              std::span<float> details) const {
  const std::uint64_t n = input.size();
  if (auto s = check_lifting_forward(n, approximation.size(), details.size(),
                                     kCdf53ShortestInput);
      !s) {
    return s;
  }
  lift_predict_from_input(input.data(), n, details.data(), kCdf53Predict);
  lift_update_from_input(input.data(), n, details.data(), approximation.data(), kCdf53Update);
  return {};
}

void Cdf53::inverse_in_place(float* y, const float* details, std::uint64_t n,
                             float* /*work*/) const {
  lift_inverse_interleaved(y + n / 2, details, n, y, -kCdf53Update, -kCdf53Predict);
}

std::uint64_t Cdf53::inverse_work_length(std::uint64_t /*n*/) const { return 0; }

}  // namespace tessary
