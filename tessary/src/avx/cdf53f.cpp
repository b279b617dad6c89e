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

void AvxCdf53::inverse_in_place(float* y, const float* details, std::uint64_t n,
                                float* /*work*/) const {
  AvxLiftingF32::inverse_to_signal(y + n / 2, details, n, y, -kCdf53Update, -kCdf53Predict);
}

std::uint64_t AvxCdf53::inverse_work_length(std::uint64_t /*n*/) const { return 0; }

}  // namespace tessary::avx
