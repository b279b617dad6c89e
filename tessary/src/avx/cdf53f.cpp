#include "avx/cdf53f.h"

#include "avx/lifting_steps.h"

namespace tessary::avx {

Status AvxCdf53::execute_forward(std::span<const float> input, std::span<float> approximation,
                                 std::span<float> details) const {
  const std::uint64_t n = input.size();
  if (auto s = check_lifting_forward(n, approximation.size(), details.size(),
                                     kCdf53ShortestInput);
      !s) {
    return s;
  }
  AvxLiftingF32::forward_from_input(input.data(), n, approximation.data(), details.data(),
                                    kCdf53Predict, kCdf53Update);
  return {};
}

Status AvxCdf53::execute_inverse(std::span<const float> approximation,
                                 std::span<const float> details, std::span<float> output) const {
  if (auto s = check_lifting_inverse(approximation.size(), details.size(), output.size(),
                                     kCdf53ShortestInput);
      !s) {
    return s;
  }
  AvxLiftingF32::inverse_to_signal(approximation.data(), details.data(), output.size(),
                                   output.data(), -kCdf53Update, -kCdf53Predict);
  return {};
}

}  // namespace tessary::avx
