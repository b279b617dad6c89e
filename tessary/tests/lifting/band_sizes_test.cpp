// Band sizes are part of the container: the decoder recomputes every band
// length from the sample count, so they must not drift.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "lifting_executors.h"

namespace tessary {
namespace {

using testing::LiftingCase;
using testing::Wavelet;

struct SizeCase {
  Wavelet wavelet;
  std::uint64_t n;
  BandSizes bands;
};

void PrintTo(const SizeCase& c, std::ostream* os) {
  testing::PrintTo(c.wavelet, os);
  *os << " n=" << c.n;
}

class LiftingDwtSize : public ::testing::TestWithParam<SizeCase> {};

// Portable and AVX executors must agree, so every one of the build is asked.
TEST_P(LiftingDwtSize, MatchesTable) {
  const SizeCase& c = GetParam();
  for (const LiftingCase& e : testing::cases_of(c.wavelet)) {
    EXPECT_EQ(e.executor->dwt_size(c.n), c.bands) << e.name;
  }
}

std::string size_case_name(const ::testing::TestParamInfo<SizeCase>& info) {
  return std::string(info.param.wavelet == Wavelet::Cdf53 ? "Cdf53" : "Cdf97") + "_n" +
         std::to_string(info.param.n);
}

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Lengths, LiftingDwtSize,
    ::testing::Values(
        // Below the shortest input the floors (2, 1) resp. (2, 2) show.
        SizeCase{Wavelet::Cdf53, 0, {2, 1}}, SizeCase{Wavelet::Cdf53, 1, {2, 1}},
        SizeCase{Wavelet::Cdf53, 3, {2, 1}}, SizeCase{Wavelet::Cdf53, 4, {2, 2}},
        SizeCase{Wavelet::Cdf53, 5, {3, 2}}, SizeCase{Wavelet::Cdf53, 1000001, {500001, 500000}},
        SizeCase{Wavelet::Cdf53, kMax, {kMax / 2 + 1, kMax / 2}},
        SizeCase{Wavelet::Cdf97, 0, {2, 2}}, SizeCase{Wavelet::Cdf97, 2, {2, 2}},
        SizeCase{Wavelet::Cdf97, 3, {2, 2}}, SizeCase{Wavelet::Cdf97, 4, {2, 2}},
        SizeCase{Wavelet::Cdf97, 5, {3, 2}}, SizeCase{Wavelet::Cdf97, 10, {5, 5}}),
    size_case_name);

TEST(LiftingIdwtSize, FloorsAtTheShortestInput) {
  for (const Wavelet w : {Wavelet::Cdf53, Wavelet::Cdf97}) {
    for (const LiftingCase& c : testing::cases_of(w)) {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(c.executor->idwt_size(1, 1), c.shortest());
      EXPECT_EQ(c.executor->idwt_size(0, 0), c.shortest());
      EXPECT_EQ(c.executor->idwt_size(5, 5), 10u);
      EXPECT_EQ(c.executor->idwt_size(3, 2), 5u);
      // A sum past 64 bits saturates instead of wrapping to a small length.
      EXPECT_EQ(c.executor->idwt_size(kMax, 2), kMax);
    }
  }
}

TEST(LiftingShape, FilterLengthAndScratch) {
  for (const Wavelet w : {Wavelet::Cdf53, Wavelet::Cdf97}) {
    for (const LiftingCase& c : testing::cases_of(w)) {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(c.executor->filter_length(), w == Wavelet::Cdf53 ? 6u : 10u);
      EXPECT_EQ(c.executor->required_scratch_size(1000), 0u);
    }
  }
}

}  // namespace
}  // namespace tessary
