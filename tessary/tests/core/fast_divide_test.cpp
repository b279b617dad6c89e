#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "core/fast_divide.h"

namespace tessary {
namespace {

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

TEST(DividerI64, PowerOfTwoNeedsNoMultiplier) {
  const DividerI64 d = DividerI64::create(8);
  EXPECT_EQ(d.magic, 0);
  EXPECT_EQ(d.more & DividerI64::kShiftMask, 3);
  EXPECT_EQ(d.more & ~DividerI64::kShiftMask, 0);
  EXPECT_EQ(d.divisor, 8);
  EXPECT_EQ(d.magnitude, 8u);
}

TEST(DividerI64, TruncatesTowardZero) {
  const DividerI64 d = DividerI64::create(7);
  EXPECT_EQ(d.divide(7), 1);
  EXPECT_EQ(d.divide(-1), 0);
  EXPECT_EQ(d.divide(-8), -1);
  EXPECT_EQ(d.divide(-15), -2);
  EXPECT_EQ(d.modulo(-15), 6);
}

TEST(DividerI64, DividerOfOneIsTheIdentity) {
  const DividerI64 d = DividerI64::create(1);
  EXPECT_EQ(d.magic, 0);
  EXPECT_EQ(d.more, 0);
  for (std::int64_t n : {kMin, std::int64_t{-3}, std::int64_t{0}, std::int64_t{5}, kMax}) {
    EXPECT_EQ(d.divide(n), n);
  }
}

// Every divisor class (powers of two, the add-flag case, negatives, the
// extremes) against the hardware division, over dividends near zero, near
// multiples of the divisor and at both ends of the range.
TEST(DividerI64, MatchesExactDivisionEverywhere) {
  std::vector<std::int64_t> divisors;
  for (std::int64_t d = -300; d <= 300; ++d) {
    if (d != 0) divisors.push_back(d);
  }
  for (int k = 2; k < 63; ++k) {
    const std::int64_t p = std::int64_t{1} << k;
    for (std::int64_t d : {p - 1, p, p + 1, -(p - 1), -p, -(p + 1)}) divisors.push_back(d);
  }
  divisors.insert(divisors.end(), {kMax, kMin, kMin + 1, 641, 6700417, 1000000007});
  std::mt19937_64 random(12345);
  for (int i = 0; i < 300; ++i) {
    const auto d = static_cast<std::int64_t>(random() >> (random() % 63));
    if (d != 0) divisors.push_back(random() % 2 ? d : -d);
  }

  std::vector<std::int64_t> dividends;
  for (std::int64_t n = -1000; n <= 1000; ++n) dividends.push_back(n);
  dividends.insert(dividends.end(), {kMin, kMin + 1, kMax, kMax - 1});
  for (int i = 0; i < 200; ++i) dividends.push_back(static_cast<std::int64_t>(random()));

  for (const std::int64_t d : divisors) {
    const DividerI64 divider = DividerI64::create(d);
    std::vector<std::int64_t> near = dividends;
    for (std::int64_t q : {std::int64_t{1}, std::int64_t{2}, std::int64_t{3}, std::int64_t{1000}}) {
      if (d > kMax / q || d < kMin / q) continue;
      // Wrapping arithmetic: at the ends of the range the neighbours wrap around.
      const auto multiple = static_cast<std::uint64_t>(q * d);
      for (std::uint64_t delta : {~std::uint64_t{0}, std::uint64_t{0}, std::uint64_t{1}}) {
        near.push_back(static_cast<std::int64_t>(multiple + delta));
        near.push_back(static_cast<std::int64_t>(std::uint64_t{0} - multiple + delta));
      }
    }
    for (const std::int64_t n : near) {
      if (n == kMin && d == -1) continue;  // overflows in any arithmetic
      ASSERT_EQ(divider.divide(n), n / d) << n << " / " << d;
      ASSERT_EQ(divider.remainder(n), n % d) << n << " % " << d;
    }
  }
}

}  // namespace
}  // namespace tessary
