#include "err.h"

#include <array>
#include <string_view>

namespace tessary {
namespace {

// One entry per kind, in enumeration order. "{}" marks a payload, filled
// from `first` and then `second`.
constexpr std::array<std::string_view, 16> kMessages = {
    "Cannot allocate {} bytes to vector",
    "Approximation and details expected to be half of original signal length but it was {}",
    "Approx and details must match, but they don't {}x{}",
    "Input must be divisible by {}",
    "Overflow is happened",
    "Output size should be {}, but it was {}",
    "Input size {} can't be less than {}",
    "Input size {} does not match output size {}",
    "Zero or odd sized wavelet",
    "Filter center {} was larger than filter size {}",
    "Buffer was too small for provided level",
    "Approximate size {} does not match required size {}",
    "Details size {} does not match required size {}",
    "Zero sized input is not supported",
    "Input size expected to be {} but it was {}",
    "Scratch size expected to be {} but it was {}",
};

}  // namespace

std::string render(const TessaryError& error) {
  const auto index = static_cast<std::size_t>(error.kind);
  if (index >= kMessages.size()) return "Unknown wavelet engine error";
  const std::string_view pattern = kMessages[index];
  const std::uint64_t payloads[2] = {error.first, error.second};
  std::string out;
  out.reserve(pattern.size() + 24);
  std::size_t next_payload = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '{' && i + 1 < pattern.size() && pattern[i + 1] == '}') {
      out += std::to_string(payloads[next_payload < 2 ? next_payload : 1]);
      ++next_payload;
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

}  // namespace tessary
