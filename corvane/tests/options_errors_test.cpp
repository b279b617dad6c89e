#include <gtest/gtest.h>

#include "error.h"

namespace corvane {
namespace {

TEST(ErrorMessages, ByteTagsRenderAsTextOrQuestionMarks) {
  EXPECT_EQ(CorvaneError::invalid_magic({'A', 'B', 'C', 'D'}).render(),
            "Magic should be 'CRVN' but it was 'ABCD'");
  EXPECT_EQ(CorvaneError::invalid_magic({0xFF, 0xFF, 0xFF, 0xFF}).render(),
            "Magic should be 'CRVN' but it was '????'");
  EXPECT_EQ(CorvaneError::invalid_compression_kind({0xC3, 0x28}).render(),
            "Invalid compression method '??'");
  // Control characters are valid UTF-8 and stay as they are.
  EXPECT_EQ(CorvaneError::invalid_header_version({2, 0}).render(),
            std::string("Invalid header version '\x02", 25) + std::string(1, '\0') + "'");
}

}  // namespace
}  // namespace corvane
