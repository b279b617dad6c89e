#include "avx/cdf97f.h"

#include "avx/lifting_steps.h"

namespace tessary::avx {

Status AvxCdf97::execute_forward(std::span<const float> input, std::span<float> approximation,
                                 std::span<float> details) const {
  const std::uint64_t n = input.size();
  if (auto s = check_lifting_forward(n, approximation.size(), details.size(),
                                     kCdf97ShortestInput);
      !s) {
    return s;
  }
  float* s = approximation.data();
  float* d = details.data();
  AvxLiftingF32::forward_from_input(input.data(), n, s, d, kCdf97Alpha, kCdf97Beta);
  AvxLiftingF32::forward_in_place(s, d, n, kCdf97Gamma, kCdf97Delta, kCdf97K, kCdf97InvK);
  return {};
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

std::uint64_t AvxCdf97::inverse_work_length(std::uint64_t n) const { return n / 2; }

}  // namespace tessary::avx
