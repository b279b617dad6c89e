// Helpers shared by the wavelet engine tests.
#pragma once

#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "banks/fixed_taps.h"
#include "core/border_mode.h"
#include "cpu/cpu_features.h"

namespace tessary::testing_support {

inline constexpr BorderMode kAllModes[] = {BorderMode::Clamp, BorderMode::Wrap,
                                           BorderMode::Reflect, BorderMode::Reflect101,
                                           BorderMode::Zeros};

// The paths this build holds: the x86 ones only on x86 targets.
inline constexpr KernelPath kAllPaths[] = {
    KernelPath::Portable,
#if TESSARY_HAVE_X86_KERNELS
    KernelPath::Sse, KernelPath::Avx,
#endif
};
inline constexpr ArenaWriterPath kAllWriterPaths[] = {
    ArenaWriterPath::Portable,
#if TESSARY_HAVE_X86_KERNELS
    ArenaWriterPath::Sse41, ArenaWriterPath::Avx2,
#endif
};

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

inline std::string path_name(KernelPath path) {
  switch (path) {
    case KernelPath::Portable: return "Portable";
    case KernelPath::Sse: return "Sse";
    case KernelPath::Avx: return "Avx";
  }
  return "Unknown";
}

// Whether this processor can run the kernels of `path`.
inline bool host_runs(KernelPath path) { return supports(cpu_features(), path); }

// Every count of FixedTapCounts, for tests over all fixed-length banks.
inline std::vector<std::uint64_t> fixed_tap_counts() {
  return []<std::size_t... L>(std::index_sequence<L...>) {
    return std::vector<std::uint64_t>{L...};
  }(FixedTapCounts{});
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

// Failure messages name the mode and the path instead of dumping their bytes.
inline void PrintTo(BorderMode mode, std::ostream* os) { *os << testing_support::mode_name(mode); }
inline void PrintTo(KernelPath path, std::ostream* os) { *os << testing_support::path_name(path); }

}  // namespace tessary
