#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/error.h"
#include "core/memory.h"

namespace tessary {
namespace {

struct MessageCase {
  TessaryError error;
  const char* text;
};

class TessaryMessages : public ::testing::TestWithParam<MessageCase> {};

TEST_P(TessaryMessages, RenderExactly) { EXPECT_EQ(render(GetParam().error), GetParam().text); }

using K = TessaryErrorKind;
INSTANTIATE_TEST_SUITE_P(
    AllKinds, TessaryMessages,
    ::testing::Values(
        MessageCase{make_error(K::AllocationFailed, 40), "Cannot allocate 40 bytes to vector"},
        MessageCase{make_error(K::ApproxDetailsNotHalfLength, 54),
                    "Approximation and details expected to be half of original signal length "
                    "but it was 54"},
        MessageCase{make_error(K::ApproxDetailsSizeMismatch, 53, 52),
                    "Approx and details must match, but they don't 53x52"},
        MessageCase{make_error(K::OutputSizeMismatch, 5, 6),
                    "Output size should be 5, but it was 6"},
        MessageCase{make_error(K::InputTooShort, 2, 3), "Input size 2 can't be less than 3"},
        MessageCase{make_error(K::ZeroOrOddWavelet), "Zero or odd sized wavelet"},
        MessageCase{make_error(K::BufferTooSmallForLevel),
                    "Buffer was too small for provided level"},
        MessageCase{make_error(K::ApproximationSizeMismatch, 3, 2),
                    "Approximate size 3 does not match required size 2"},
        MessageCase{make_error(K::DetailsSizeMismatch, 1, 2),
                    "Details size 1 does not match required size 2"},
        MessageCase{make_error(K::ZeroSizedInput), "Zero sized input is not supported"},
        MessageCase{make_error(K::ScratchSizeMismatch, 21, 20),
                    "Scratch size expected to be 21 but it was 20"},
        MessageCase{make_error(K::AllocationFailed, 18446744073709551615ull),
                    "Cannot allocate 18446744073709551615 bytes to vector"}));

// The numbers are part of the engine's contract; removed kinds leave gaps.
TEST(TessaryErrorKinds, KeepTheirNumbers) {
  EXPECT_EQ(static_cast<int>(K::AllocationFailed), 0);
  EXPECT_EQ(static_cast<int>(K::ApproxDetailsNotHalfLength), 1);
  EXPECT_EQ(static_cast<int>(K::ApproxDetailsSizeMismatch), 2);
  EXPECT_EQ(static_cast<int>(K::OutputSizeMismatch), 5);
  EXPECT_EQ(static_cast<int>(K::InputTooShort), 6);
  EXPECT_EQ(static_cast<int>(K::ZeroOrOddWavelet), 8);
  EXPECT_EQ(static_cast<int>(K::BufferTooSmallForLevel), 10);
  EXPECT_EQ(static_cast<int>(K::ApproximationSizeMismatch), 11);
  EXPECT_EQ(static_cast<int>(K::DetailsSizeMismatch), 12);
  EXPECT_EQ(static_cast<int>(K::ZeroSizedInput), 13);
  EXPECT_EQ(static_cast<int>(K::ScratchSizeMismatch), 15);
}

// ASan's operator new aborts instead of throwing, so scripts/sanitize.sh
// leaves this one to the normal build.
TEST(AllocationHelper, ImpossibleSizeIsAValueNotAnException) {
  auto r = allocate_zeroed<float>(std::uint64_t{1} << 60);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, K::AllocationFailed);
  EXPECT_EQ(r.error().first, std::uint64_t{1} << 62);
  // Past what a vector can hold (std::length_error): the bytes saturate.
  std::vector<double> v;
  auto too_long = try_reserve(v, ~std::uint64_t{0});
  ASSERT_FALSE(too_long.ok());
  EXPECT_EQ(too_long.error(), make_error(K::AllocationFailed, ~std::uint64_t{0}));
  EXPECT_TRUE(v.empty());
}

}  // namespace
}  // namespace tessary
