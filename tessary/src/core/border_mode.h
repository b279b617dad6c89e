// How samples beyond either end of a signal are produced.
#pragma once

#include <cstdint>

#include "core/fast_divide.h"

namespace tessary {

// Positions -3..-1 and n..n+2 of x = (a, b, c, d):
//   Clamp       a a a | a b c d | d d d
//   Wrap        b c d | a b c d | a b c
//   Reflect     c b a | a b c d | d c b
//   Reflect101  d c b | a b c d | c b a
//   Zeros       0 0 0 | a b c d | 0 0 0
enum class BorderMode : std::uint32_t {
  Clamp = 0,
  Wrap = 1,
  Reflect = 2,
  Reflect101 = 3,
  Zeros = 4,
};

// Index into x[0..n) of the sample that position s takes, for any s (inside
// the signal it is s itself), or -1 where the mode yields 0 (Zeros). `period`
// divides by n for Wrap and Reflect and by n - 1 for Reflect101 (see
// BorderInterpolation::create); n >= 1.
//
// Within one signal length of either end this is the rule drawn above. Farther
// out, Wrap stays periodic, Clamp and Zeros stay constant, and the mirror modes
// repeat the mirrored copy rather than mirroring it back:
//   Reflect     left x[(-s - 1) mod n]            right x[n - 1 - (s mod n)]
//   Reflect101  left x[1 + ((-s - 1) mod (n - 1))] right x[n - 2 - ((s - n) mod (n - 1))]
// (Reflect101 with n = 1 repeats x[0].) The filter banks never read that far.
std::int64_t border_source_index(BorderMode mode, std::int64_t s, std::int64_t n,
                                 const DividerI64& period);

// Per-call border descriptor: the divider that border_source_index needs for
// one signal length, built once so that each border sample costs a
// multiply-high instead of a division.
struct BorderInterpolation {
  DividerI64 divider;
  std::uint64_t start = 0;  // lowest valid index; every caller passes 0
  std::int64_t length = 0;  // n
  BorderMode mode = BorderMode::Zeros;

  // Divider for n (Wrap, Reflect), for n - 1 (Reflect101 with n >= 2), else for 1.
  static BorderInterpolation create(BorderMode mode, std::uint64_t start, std::int64_t length);

  // ext(s) of x[0..length); x points at index `start`.
  float sample(const float* x, std::int64_t s) const {
    const std::int64_t i = border_source_index(mode, s, length, divider);
    return i < 0 ? 0.0f : x[i];
  }
};

}  // namespace tessary
