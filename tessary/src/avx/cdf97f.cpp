#include "avx/cdf97f.h"

#include <vector>

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

Status AvxCdf97::execute_inverse(std::span<const float> approximation,
                                 std::span<const float> details, std::span<float> output) const {
  const std::uint64_t n = output.size();
  if (auto s = check_lifting_inverse(approximation.size(), details.size(), n,
                                     kCdf97ShortestInput);
      !s) {
    return s;
  }
  // The first two inverse steps need working bands; the last two write the
  // output directly.
  std::vector<float> e;
  std::vector<float> o;
  if (auto s = try_resize(e, approximation.size()); !s) return s;
  if (auto s = try_resize(o, details.size()); !s) return s;
  AvxLiftingF32::inverse_to_bands(approximation.data(), details.data(), n, e.data(), o.data(),
                                  -kCdf97Delta, -kCdf97Gamma, kCdf97InvK, kCdf97K);
  AvxLiftingF32::inverse_to_signal(e.data(), o.data(), n, output.data(), -kCdf97Beta,
                                   -kCdf97Alpha);
  return {};
}

}  // namespace tessary::avx
