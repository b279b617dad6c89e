// How samples beyond either end of a signal are produced.
#pragma once

#include <cstdint>

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

}  // namespace tessary
