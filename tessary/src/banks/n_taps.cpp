#include "banks/n_taps.h"

#include "banks/arena.h"
#include "banks/bank.h"
#include "banks/families.h"

namespace tessary {

TResult<NTapsCoefficients> NTapsCoefficients::create(BorderMode mode,
                                                     std::span<const float> low_pass) {
  if (low_pass.empty() || low_pass.size() % 2 != 0) {
    return make_error(TessaryErrorKind::ZeroOrOddWavelet);
  }
  auto h = allocate_zeroed<float>(low_pass.size());
  if (!h) return fail(std::move(h).error());
  std::copy(low_pass.begin(), low_pass.end(), h.value().begin());
  auto g = low_pass_to_high(low_pass);
  if (!g) return fail(std::move(g).error());
  return NTapsCoefficients{std::move(h).value(), std::move(g).value(), mode};
}

NTapsBank::NTapsBank(NTapsCoefficients coefficients)
    : low_pass_(std::move(coefficients.low_pass)),
      high_pass_(std::move(coefficients.high_pass)),
      filter_length_(low_pass_.size()),
      border_mode_(coefficients.mode) {}

// With E = n + L - 1 rounded down to even, the arena spans ext(-(L-2) ..
// E - 1): the last output m - 1 = E/2 - 1 reads up to 2(m-1) + L - 1 - (L-2)
// = E - 1, so A = (L - 2) + E samples (= L + E - 2).
std::uint64_t NTapsBank::required_scratch_size(std::uint64_t n) const {
  const std::uint64_t even = (n + filter_length_ - 1) & ~std::uint64_t{1};
  return filter_length_ + even - 2;
}

BandSizes NTapsBank::dwt_size(std::uint64_t n) const {
  const std::uint64_t m = taps::band_length(n, filter_length_);
  return {m, m};
}

std::uint64_t NTapsBank::idwt_size(std::uint64_t approximation_length, std::uint64_t) const {
  return taps::synthesis_length(approximation_length, filter_length_);
}

TResult<> NTapsBank::execute_forward(std::span<const float> input,
                                     std::span<float> approximation,
                                     std::span<float> details) const {
  if (auto s = taps::check_forward(input.size(), filter_length_, approximation.size(),
                                   details.size());
      !s) {
    return s;
  }
  // The arena writer fills every element of the arena.
  auto scratch = Buffer<float>::for_overwrite(required_scratch_size(input.size()));
  if (!scratch) return fail(std::move(scratch).error());
  return execute_forward_with_scratch(input, approximation, details, scratch.value());
}

TResult<> NTapsBank::execute_forward_with_scratch(std::span<const float> input,
                                                  std::span<float> approximation,
                                                  std::span<float> details,
                                                  std::span<float> scratch) const {
  const std::uint64_t n = input.size();
  if (auto s = taps::check_forward(n, filter_length_, approximation.size(), details.size()); !s) {
    return s;
  }
  const std::uint64_t arena_length = required_scratch_size(n);
  if (scratch.size() < arena_length) {
    return make_error(TessaryErrorKind::ScratchSizeMismatch, arena_length, scratch.size());
  }
  const std::uint64_t left = filter_length_ - 2;
  const std::uint64_t right = arena_length - n - left;
  const std::span<float> arena = scratch.first(arena_length);
  if (auto s = chosen_arena_writer()(input, arena, left, right, border_mode_); !s) return s;
  execute_forward_impl(arena.data(), approximation.data(), details.data(), approximation.size());
  return {};
}

TResult<> NTapsBank::execute_inverse(std::span<const float> approximation,
                                     std::span<const float> details,
                                     std::span<float> output) const {
  const std::uint64_t m = approximation.size();
  if (auto s = taps::check_inverse(m, details.size(), output.size(), filter_length_); !s) {
    return s;
  }
  execute_inverse_impl(approximation.data(), details.data(), output.data(), output.size() / 2);
  return {};
}

void WaveletNTaps::execute_forward_impl(const float* arena, float* approximation,
                                        float* details, std::uint64_t m) const {
  const taps::RuntimeCount count{filter_length()};
  const float* h = low_pass().data();
  const float* g = high_pass().data();
  for (std::uint64_t i = 0; i < m; ++i) {
    approximation[i] = taps::dot(h, arena + 2 * i, count);
    details[i] = taps::dot(g, arena + 2 * i, count);
  }
}

void WaveletNTaps::execute_inverse_impl(const float* approximation, const float* details,
                                        float* out, std::uint64_t pairs) const {
  taps::overlap_add(low_pass().data(), high_pass().data(), taps::RuntimeCount{filter_length()},
                    approximation, details, out, 2 * pairs);
}

}  // namespace tessary
