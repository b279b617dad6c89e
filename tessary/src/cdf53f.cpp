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

Status Cdf53::execute_inverse(std::span<const float> approximation,
                              std::span<const float> details, std::span<float> output) const {
  if (auto s = check_lifting_inverse(approximation.size(), details.size(), output.size(),
                                     kCdf53ShortestInput);
      !s) {
    return s;
  }
  // Both inverse steps write the output directly: the even samples are final
  // before the first odd one reads them.
  lift_inverse_interleaved(approximation.data(), details.data(), output.size(), output.data(),
                           -kCdf53Update, -kCdf53Predict);
  return {};
}

}  // namespace tessary
