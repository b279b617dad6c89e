#include "banks/families.h"

#include <bit>

#include "core/memory.h"

namespace tessary {

void low_pass_to_high_into(std::span<const float> low_pass, std::span<float> high_pass) {
  const std::size_t length = low_pass.size();
  for (std::size_t k = 0; k < length; ++k) {
    const auto bits = std::bit_cast<std::uint32_t>(low_pass[length - 1 - k]);
    const std::uint32_t sign = (k % 2 == 1) ? 0x80000000u : 0u;
    high_pass[k] = std::bit_cast<float>(bits ^ sign);
  }
}

TResult<std::vector<float>> low_pass_to_high(std::span<const float> low_pass) {
  auto high = allocate_zeroed<float>(low_pass.size());
  if (!high) return high;
  low_pass_to_high_into(low_pass, high.value());
  return high;
}

}  // namespace tessary
