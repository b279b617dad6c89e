// Signed 64-bit division by a divisor fixed for a whole call, done with a
// multiply-high and shifts instead of a hardware division per border sample.
#pragma once

#include <cstdint>

namespace tessary {

// 128-bit products for the multiply-high; __extension__ keeps -Wpedantic quiet
// about the compiler's built-in types.
__extension__ using Int128 = __int128;
__extension__ using UInt128 = unsigned __int128;

// Granlund-Montgomery magic numbers for truncating division by `divisor`.
// Quotients equal the exact n / divisor for every signed 64-bit n (the one
// exception being INT64_MIN / -1, which overflows in any arithmetic).
struct DividerI64 {
  static constexpr std::uint8_t kShiftMask = 0x3f;
  static constexpr std::uint8_t kAddFlag = 0x40;
  static constexpr std::uint8_t kNegativeFlag = 0x80;

  std::int64_t magic = 0;       // 0 when |divisor| is a power of two
  std::int64_t divisor = 1;
  std::uint64_t magnitude = 1;  // |divisor|
  std::uint8_t more = 0;        // shift | kAddFlag | kNegativeFlag

  // Precondition: divisor != 0.
  static DividerI64 create(std::int64_t divisor);

  std::int64_t divide(std::int64_t n) const {
    const unsigned shift = more & kShiftMask;
    const auto un = static_cast<std::uint64_t>(n);
    // Signed/negative flag as an all-ones or all-zeros mask.
    const std::uint64_t sign = (more & kNegativeFlag) ? ~std::uint64_t{0} : 0;
    if (magic == 0) {
      // Power of two: bias negative dividends so the shift truncates toward zero.
      const std::uint64_t bias = (n < 0) ? ((std::uint64_t{1} << shift) - 1) : 0;
      const std::uint64_t q = static_cast<std::uint64_t>(static_cast<std::int64_t>(un + bias) >> shift);
      return static_cast<std::int64_t>((q ^ sign) - sign);
    }
    const Int128 product = static_cast<Int128>(magic) * n;
    auto t = static_cast<std::uint64_t>(static_cast<UInt128>(product) >> 64);
    if (more & kAddFlag) t += (un ^ sign) - sign;  // adds n, or subtracts it for a negative divisor
    const std::int64_t q = static_cast<std::int64_t>(t) >> shift;
    return q + (q < 0 ? 1 : 0);
  }

  std::int64_t remainder(std::int64_t n) const { return n - divide(n) * divisor; }

  // The non-negative remainder, for n >= 0 and a positive divisor the same
  // as remainder(); used by the periodic and mirrored border rules.
  std::int64_t modulo(std::int64_t n) const {
    const std::int64_t r = remainder(n);
    return r < 0 ? r + static_cast<std::int64_t>(magnitude) : r;
  }
};

}  // namespace tessary
