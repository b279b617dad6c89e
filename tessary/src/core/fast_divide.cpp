#include "core/fast_divide.h"

#include <bit>

namespace tessary {

// With k = floor(log2 m) for m = |d| not a power of two, the multiplier
// p + 1 = ceil(2^(63+k) / m) (or, when that is not precise enough for every
// dividend, the 65-bit ceil(2^(64+k) / m) whose top bit is restored by adding
// n back after the multiply-high) gives floor(n * magic / 2^(64+shift)) equal
// to n / m rounded toward minus infinity for n >= 0; adding 1 to negative
// results turns that into truncation toward zero.
DividerI64 DividerI64::create(std::int64_t d) {
  DividerI64 result;
  result.divisor = d;
  const std::uint64_t m = d < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(d)
                                : static_cast<std::uint64_t>(d);
  result.magnitude = m;
  const auto k = static_cast<std::uint8_t>(std::bit_width(m) - 1);
  const std::uint8_t negative = d < 0 ? kNegativeFlag : 0;
  if ((m & (m - 1)) == 0) {
    result.magic = 0;
    result.more = static_cast<std::uint8_t>(k | negative);
    return result;
  }
  const UInt128 dividend = static_cast<UInt128>(1) << (63 + k);
  auto p = static_cast<std::uint64_t>(dividend / m);
  const auto r = static_cast<std::uint64_t>(dividend - static_cast<UInt128>(p) * m);
  const std::uint64_t e = m - r;
  std::uint8_t more = 0;
  if (e < (std::uint64_t{1} << k)) {
    more = static_cast<std::uint8_t>(k - 1);
  } else {
    p += p;
    const std::uint64_t twice_r = r + r;
    if (twice_r >= m || twice_r < r) p += 1;
    more = static_cast<std::uint8_t>(k | kAddFlag);
  }
  p += 1;
  auto magic = static_cast<std::int64_t>(p);
  if (d < 0) {
    more = static_cast<std::uint8_t>(more | kNegativeFlag);
    magic = static_cast<std::int64_t>(std::uint64_t{0} - p);
  }
  result.magic = magic;
  result.more = more;
  return result;
}

}  // namespace tessary
