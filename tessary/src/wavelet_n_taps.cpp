#include "wavelet_n_taps.h"

#include "filter_padding.h"
#include "wavelet_families.h"
#include "wavelet_taps.h"

namespace tessary {

WaveletNTaps::WaveletNTaps(std::vector<float> low_pass, std::vector<float> high_pass,
                           BorderMode mode)
    : low_pass_(std::move(low_pass)),
      high_pass_(std::move(high_pass)),
      filter_length_(low_pass_.size()),
      border_mode_(mode) {}

TResult<std::shared_ptr<const WaveletNTaps>> WaveletNTaps::create(
    BorderMode mode, std::span<const float> low_pass) {
  if (low_pass.empty() || low_pass.size() % 2 != 0) {
    return make_error(TessaryErrorKind::ZeroOrOddWavelet);
  }
  auto h = allocate_zeroed<float>(low_pass.size());
  if (!h) return fail(std::move(h).error());
  std::copy(low_pass.begin(), low_pass.end(), h.value().begin());
  auto g = low_pass_to_high(low_pass);
  if (!g) return fail(std::move(g).error());
  return std::shared_ptr<const WaveletNTaps>(
      new WaveletNTaps(std::move(h).value(), std::move(g).value(), mode));
}

// With E = n + L - 1 rounded down to even, the arena spans ext(-(L-2) ..
// E - 1): the last output m - 1 = E/2 - 1 reads up to 2(m-1) + L - 1 - (L-2)
// = E - 1, so A = (L - 2) + E samples (= L + E - 2).
std::uint64_t WaveletNTaps::required_scratch_size(std::uint64_t n) const {
  const std::uint64_t even = (n + filter_length_ - 1) & ~std::uint64_t{1};
  return filter_length_ + even - 2;
}

BandSizes WaveletNTaps::dwt_size(std::uint64_t n) const {
  const std::uint64_t m = taps::band_length(n, filter_length_);
  return {m, m};
}

std::uint64_t WaveletNTaps::idwt_size(std::uint64_t approximation_length, std::uint64_t) const {
  return taps::synthesis_length(approximation_length, filter_length_);
}

Status WaveletNTaps::execute_forward(std::span<const float> input,
                                     std::span<float> approximation,
                                     std::span<float> details) const {
  // Checked before the scratch is obtained, so that a bad call allocates nothing.
  if (auto s = taps::check_forward(input.size(), filter_length_, approximation.size(),
                                   details.size());
      !s) {
    return s;
  }
  auto scratch = allocate_zeroed<float>(required_scratch_size(input.size()));
  if (!scratch) return fail(std::move(scratch).error());
  return execute_forward_with_scratch(input, approximation, details, scratch.value());
}

Status WaveletNTaps::execute_forward_with_scratch(std::span<const float> input,
                                                  std::span<float> approximation,
                                                  std::span<float> details,
                                                  std::span<float> scratch) const {
  const std::uint64_t n = input.size();
  const std::uint64_t taps_count = filter_length_;
  if (auto s = taps::check_forward(n, taps_count, approximation.size(), details.size()); !s) {
    return s;
  }
  const std::uint64_t arena_length = required_scratch_size(n);
  if (scratch.size() < arena_length) {
    return make_error(TessaryErrorKind::ScratchSizeMismatch, arena_length, scratch.size());
  }
  const std::uint64_t left = taps_count - 2;
  const std::uint64_t right = arena_length - n - left;
  const std::span<float> arena = scratch.first(arena_length);
  const ArenaWriter1d write_arena = MakeArenaFactoryProvider<float>::make_arena_writer_1d_executor();
  if (auto s = write_arena(input, arena, left, right, border_mode_); !s) return s;

  const taps::RuntimeCount count{taps_count};
  const float* h = low_pass_.data();
  const float* g = high_pass_.data();
  const float* a = arena.data();
  for (std::uint64_t i = 0; i < approximation.size(); ++i) {
    approximation[i] = taps::dot(h, a + 2 * i, count);
    details[i] = taps::dot(g, a + 2 * i, count);
  }
  return {};
}

Status WaveletNTaps::execute_inverse(std::span<const float> approximation,
                                     std::span<const float> details,
                                     std::span<float> output) const {
  const std::uint64_t m = approximation.size();
  if (auto s = taps::check_inverse(m, details.size(), output.size(), filter_length_); !s) {
    return s;
  }
  taps::overlap_add(low_pass_.data(), high_pass_.data(), taps::RuntimeCount{filter_length_},
                    approximation.data(), details.data(), output.data(), output.size());
  return {};
}

}  // namespace tessary
