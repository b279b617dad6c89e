#include "core/error.h"

#include <string_view>

namespace tessary {
namespace {

// The one table of messages. "{}" marks a payload, filled from `first` and
// then `second`.
std::string_view pattern(TessaryErrorKind kind) {
  using K = TessaryErrorKind;
  switch (kind) {
    case K::AllocationFailed: return "Cannot allocate {} bytes to vector";
    case K::ApproxDetailsNotHalfLength:
      return "Approximation and details expected to be half of original signal length but it "
             "was {}";
    case K::ApproxDetailsSizeMismatch: return "Approx and details must match, but they don't {}x{}";
    case K::OutputSizeMismatch: return "Output size should be {}, but it was {}";
    case K::InputTooShort: return "Input size {} can't be less than {}";
    case K::ZeroOrOddWavelet: return "Zero or odd sized wavelet";
    case K::BufferTooSmallForLevel: return "Buffer was too small for provided level";
    case K::ApproximationSizeMismatch: return "Approximate size {} does not match required size {}";
    case K::DetailsSizeMismatch: return "Details size {} does not match required size {}";
    case K::ZeroSizedInput: return "Zero sized input is not supported";
    case K::ScratchSizeMismatch: return "Scratch size expected to be {} but it was {}";
  }
  return "Unknown wavelet engine error";
}

}  // namespace

std::string render(const TessaryError& error) {
  const std::string_view text = pattern(error.kind);
  const std::uint64_t payloads[2] = {error.first, error.second};
  std::string out;
  out.reserve(text.size() + 24);
  std::size_t next_payload = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '{' && i + 1 < text.size() && text[i + 1] == '}') {
      out += std::to_string(payloads[next_payload < 2 ? next_payload : 1]);
      ++next_payload;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace tessary
