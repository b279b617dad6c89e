#include <gtest/gtest.h>

#include "core/border_mode.h"

namespace tessary {
namespace {

TEST(BorderInterpolation, DividesByThePeriodOfTheMode) {
  EXPECT_EQ(BorderInterpolation::create(BorderMode::Wrap, 0, 10).divider.divisor, 10);
  EXPECT_EQ(BorderInterpolation::create(BorderMode::Reflect, 0, 10).divider.divisor, 10);
  EXPECT_EQ(BorderInterpolation::create(BorderMode::Reflect101, 0, 10).divider.divisor, 9);
  const BorderInterpolation clamp = BorderInterpolation::create(BorderMode::Clamp, 0, 10);
  EXPECT_EQ(clamp.divider.divisor, 1);
  EXPECT_EQ(clamp.divider.magic, 0);
  EXPECT_EQ(clamp.divider.more, 0);
  EXPECT_EQ(BorderInterpolation::create(BorderMode::Reflect101, 0, 1).divider.divisor, 1);
}

}  // namespace
}  // namespace tessary
