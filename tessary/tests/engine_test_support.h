// Helpers shared by the wavelet engine tests.
#pragma once

#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "border_mode.h"

namespace tessary::testing_support {

inline constexpr BorderMode kAllModes[] = {BorderMode::Clamp, BorderMode::Wrap,
                                           BorderMode::Reflect, BorderMode::Reflect101,
                                           BorderMode::Zeros};

inline std::string mode_name(BorderMode mode) {
  switch (mode) {
    case BorderMode::Clamp: return "Clamp";
    case BorderMode::Wrap: return "Wrap";
    case BorderMode::Reflect: return "Reflect";
    case BorderMode::Reflect101: return "Reflect101";
    case BorderMode::Zeros: return "Zeros";
  }
  return "Unknown";
}

inline std::vector<float> random_signal(std::uint64_t n, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  std::vector<float> x(n);
  for (float& v : x) v = value(random);
  return x;
}

}  // namespace tessary::testing_support

namespace tessary {

// Failure messages name the mode instead of dumping its bytes.
inline void PrintTo(BorderMode mode, std::ostream* os) { *os << testing_support::mode_name(mode); }

}  // namespace tessary
