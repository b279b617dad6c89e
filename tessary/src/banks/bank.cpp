#include "banks/bank.h"

namespace tessary::taps {

TResult<> check_forward(std::uint64_t n, std::uint64_t taps, std::uint64_t approximation_length,
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

TResult<> check_inverse(std::uint64_t approximation_length, std::uint64_t details_length,
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

}  // namespace tessary::taps
