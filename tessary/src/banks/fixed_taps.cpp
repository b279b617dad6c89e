#include "banks/fixed_taps.h"

namespace tessary {

namespace taps {

EdgeSplit extend_edges(std::span<const float> x, BorderMode mode, std::uint64_t taps,
                       float* head, float* tail) {
  const std::uint64_t n = x.size();
  const std::uint64_t lead = taps - 2;
  const EdgeSplit split{lead / 2, n / 2};
  const std::uint64_t m = band_length(n, taps);
  const std::uint64_t head_count = 2 * split.head_end + lead;
  const std::uint64_t tail_count = 2 * (m - split.tail_begin) + lead;
  if (head_count == 0 && m == split.tail_begin) return split;
  const BorderInterpolation border =
      BorderInterpolation::create(mode, 0, static_cast<std::int64_t>(n));
  const auto signed_lead = static_cast<std::int64_t>(lead);
  for (std::uint64_t k = 0; k < head_count; ++k) {
    head[k] = border.sample(x.data(), static_cast<std::int64_t>(k) - signed_lead);
  }
  const auto tail_first = static_cast<std::int64_t>(2 * split.tail_begin) - signed_lead;
  for (std::uint64_t k = 0; k < tail_count; ++k) {
    tail[k] = border.sample(x.data(), tail_first + static_cast<std::int64_t>(k));
  }
  return split;
}

}  // namespace taps

template <std::size_t L>
FixedTapsBank<L>::FixedTapsBank(BorderMode mode, std::span<const float, L> low_pass)
    : PaddedTapsBank<L, L>(mode, low_pass) {}

template <std::size_t L>
void FixedTapsBank<L>::execute_forward_impl(const taps::Run (&runs)[3]) const {
  constexpr taps::FixedCount<L> kTaps;
  const float* h = this->low_pass().data();
  const float* g = this->high_pass().data();
  for (const taps::Run& run : runs) {
    for (std::uint64_t k = 0; k < run.count; ++k) {
      run.approximation[k] = taps::dot(h, run.window + 2 * k, kTaps);
      run.details[k] = taps::dot(g, run.window + 2 * k, kTaps);
    }
  }
}

template <std::size_t L>
void FixedTapsBank<L>::execute_inverse_impl(const float* approximation, const float* details,
                                            float* out, std::uint64_t pairs,
                                            taps::Synthesis how) const {
  const float* h = this->low_pass().data();
  const float* g = this->high_pass().data();
  if (how == taps::Synthesis::Overwrite) {
    taps::overlap_add<true>(h, g, taps::FixedCount<L>{}, approximation, details, out, 2 * pairs);
  } else {
    taps::overlap_add<false>(h, g, taps::FixedCount<L>{}, approximation, details, out,
                             2 * pairs);
  }
}

TResult<IncompleteDwtExecutorHandle<float>> make_bank_f32(BorderMode mode,
                                                          std::span<const float> low_pass) {
  return make_path_bank<FixedTapsBank, WaveletNTaps>(mode, low_pass);
}

}  // namespace tessary
