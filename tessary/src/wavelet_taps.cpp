#include "wavelet_taps.h"

namespace tessary::taps {

Status check_forward(std::uint64_t n, std::uint64_t taps, std::uint64_t approximation_length,
                     std::uint64_t details_length) {
  if (n < taps) return make_error(TessaryErrorKind::InputTooShort, n, taps);
  const std::uint64_t m = band_length(n, taps);
  if (approximation_length != m) {
    return make_error(TessaryErrorKind::ApproxDetailsNotHalfLength, approximation_length);
  }
  if (details_length != m) {
    return make_error(TessaryErrorKind::ApproxDetailsNotHalfLength, details_length);
  }
  return {};
}

Status check_inverse(std::uint64_t approximation_length, std::uint64_t details_length,
                     std::uint64_t output_length, std::uint64_t taps) {
  if (approximation_length != details_length) {
    return make_error(TessaryErrorKind::ApproxDetailsSizeMismatch, approximation_length,
                      details_length);
  }
  const std::uint64_t expected = synthesis_length(approximation_length, taps);
  if (output_length != expected) {
    return make_error(TessaryErrorKind::OutputSizeMismatch, expected, output_length);
  }
  return {};
}


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

}  // namespace tessary::taps
