#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <vector>

#include "banks/factory.h"
#include "banks/tables.h"
#include "engine_test_support.h"
#include "multilevel.h"

namespace tessary {
namespace {

using testing_support::random_signal;

// The portable bank of a Daubechies member, completed.
std::shared_ptr<const CompletedDwtExecutor> completed(DaubechiesFamily family,
                                                      BorderMode mode = BorderMode::Wrap) {
  return std::make_shared<const CompletedDwtExecutor>(
      make_filter_bank_f32(KernelPath::Portable, mode, scaling_filter(family)).value());
}

std::shared_ptr<const CompletedDwtExecutor> db4() { return completed(DaubechiesFamily::Db4); }

MultiDwtRef<float> pyramid(const MultiDwt<float>& m) {
  MultiDwtRef<float> r;
  for (const Dwt<float>& level : m.levels) r.details.emplace_back(level.details);
  r.approximation = m.levels.back().approximations;
  return r;
}

TEST(CompletedDwtExecutor, ForwardsTheSingleLevelOperations) {
  const auto e = db4();
  EXPECT_EQ(e->filter_length(), 8u);
  EXPECT_EQ(e->dwt_size(100), e->bank()->dwt_size(100));
  EXPECT_EQ(e->idwt_size(53, 53), 100u);
  EXPECT_EQ(e->required_scratch_size(100), 0u);
  const std::vector<float> x = random_signal(16, 1);
  std::vector<float> a(11), d(11), a2(11), d2(11);
  ASSERT_TRUE(e->execute_forward(x, a, d).ok());
  ASSERT_TRUE(e->bank()->execute_forward(x, a2, d2).ok());
  EXPECT_EQ(a, a2);
  EXPECT_EQ(d, d2);
}

TEST(CompletedDwtExecutor, LevelLengthsOfAHundredSamples) {
  const auto e = db4();
  const std::vector<float> x = random_signal(100, 2);
  auto m = e->multi_dwt(x, 3);
  ASSERT_TRUE(m.ok());
  ASSERT_EQ(m.value().levels.size(), 3u);
  const std::uint64_t expected[] = {53, 30, 18};
  for (std::size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(m.value().levels[k].approximations.size(), expected[k]);
    EXPECT_EQ(m.value().levels[k].details.size(), expected[k]);
  }
  // Each entry's approximation is what the next entry decomposed.
  auto next = e->dwt(m.value().levels[0].approximations, 1);
  ASSERT_TRUE(next.ok());
  EXPECT_EQ(next.value().details, m.value().levels[1].details);

  EXPECT_TRUE(e->multi_dwt(x, 7).ok());  // 100, 53, 30, 18, 12, 9, 8 all >= 8
  for (std::uint64_t levels : {std::uint64_t{8}, std::uint64_t{1000},
                               std::numeric_limits<std::uint64_t>::max()}) {
    auto too_deep = e->multi_dwt(x, levels);
    ASSERT_FALSE(too_deep.ok());
    EXPECT_EQ(too_deep.error(), make_error(TessaryErrorKind::BufferTooSmallForLevel));
    auto too_deep_single = e->dwt(x, levels);
    ASSERT_FALSE(too_deep_single.ok());
    EXPECT_EQ(too_deep_single.error(), make_error(TessaryErrorKind::BufferTooSmallForLevel));
  }
}

TEST(CompletedDwtExecutor, DeepDwtIsTheLastLevelOfMultiDwt) {
  const auto e = db4();
  const std::vector<float> x = random_signal(300, 3);
  auto m = e->multi_dwt(x, 4);
  auto deep = e->dwt(x, 4);
  ASSERT_TRUE(m.ok());
  ASSERT_TRUE(deep.ok());
  EXPECT_EQ(deep.value().approximations, m.value().levels[3].approximations);
  EXPECT_EQ(deep.value().details, m.value().levels[3].details);
  for (std::uint64_t levels : {0u, 1u}) {
    auto one = e->multi_dwt(x, levels);
    ASSERT_TRUE(one.ok());
    ASSERT_EQ(one.value().levels.size(), 1u);
    EXPECT_EQ(one.value().levels[0].details, m.value().levels[0].details);
  }
}

// The deepest step reconstructs 2*18 - 6 = 30 samples, the middle one 54 that
// are cut to 53, the finest 100.
TEST(CompletedDwtExecutor, MultiIdwtCutsEveryLevelButTheFinest) {
  const auto e = db4();
  for (std::uint64_t n : {100u, 101u}) {
    const std::vector<float> x = random_signal(n, static_cast<std::uint32_t>(n));
    auto m = e->multi_dwt(x, 3);
    ASSERT_TRUE(m.ok());
    auto y = e->multi_idwt(pyramid(m.value()));
    ASSERT_TRUE(y.ok()) << render(y.error());
    ASSERT_EQ(y.value().size(), n % 2 == 0 ? n : n + 1);
    for (std::uint64_t i = 0; i < n; ++i) EXPECT_NEAR(y.value()[i], x[i], 5e-6f) << i;
  }
  const std::vector<float> x = random_signal(100, 4);
  auto m = e->multi_dwt(x, 3);
  ASSERT_TRUE(m.ok());
  auto deepest = e->idwt({m.value().levels[2].approximations, m.value().levels[2].details});
  ASSERT_TRUE(deepest.ok());
  EXPECT_EQ(deepest.value().size(), 30u);
  auto middle = e->idwt({std::span<const float>(m.value().levels[1].approximations),
                         m.value().levels[1].details});
  ASSERT_TRUE(middle.ok());
  EXPECT_EQ(middle.value().size(), 54u);
}

// multi_dwt lends one padded working copy to every level of a generic bank,
// and multi_idwt rebuilds the levels in two buffers taking turns (cleared
// between uses); each must match the levels taken one at a time exactly, for
// even and odd level counts and for fixed and generic banks.
struct ChainCase {
  DaubechiesFamily family;
  std::uint64_t levels;
};

class CompletedChain : public ::testing::TestWithParam<ChainCase> {};

TEST_P(CompletedChain, MultiLevelCallsMatchSingleLevelSteps) {
  const ChainCase c = GetParam();
  const auto e = completed(c.family);
  const std::vector<float> x = random_signal(1001, static_cast<std::uint32_t>(c.levels));
  auto m = e->multi_dwt(x, c.levels);
  ASSERT_TRUE(m.ok()) << render(m.error());
  ASSERT_EQ(m.value().levels.size(), c.levels);
  std::vector<float> input = x;
  for (std::uint64_t k = 0; k < c.levels; ++k) {
    auto one = e->dwt(input, 1);
    ASSERT_TRUE(one.ok());
    EXPECT_EQ(one.value().approximations, m.value().levels[k].approximations) << k;
    EXPECT_EQ(one.value().details, m.value().levels[k].details) << k;
    input.assign(one.value().approximations.begin(), one.value().approximations.end());
  }
  const auto& deepest = m.value().levels.back().approximations;
  std::vector<float> y(deepest.begin(), deepest.end());
  for (std::uint64_t k = c.levels; k-- > 0;) {
    const auto& details = m.value().levels[k].details;
    auto step = e->idwt({std::span<const float>(y).first(details.size()), details});
    ASSERT_TRUE(step.ok()) << render(step.error());
    y.assign(step.value().begin(), step.value().end());
  }
  auto all = e->multi_idwt(pyramid(m.value()));
  ASSERT_TRUE(all.ok()) << render(all.error());
  EXPECT_EQ(all.value(), y);
}

INSTANTIATE_TEST_SUITE_P(
    Banks, CompletedChain,
    ::testing::Values(ChainCase{DaubechiesFamily::Db4, 1}, ChainCase{DaubechiesFamily::Db4, 4},
                      ChainCase{DaubechiesFamily::Db4, 5}, ChainCase{DaubechiesFamily::Db7, 4},
                      ChainCase{DaubechiesFamily::Db7, 5}),
    [](const ::testing::TestParamInfo<ChainCase>& param) {
      return std::string(param.param.family == DaubechiesFamily::Db4 ? "db4" : "db7") + "_" +
             std::to_string(param.param.levels) + "_levels";
    });

TEST(CompletedDwtExecutor, InverseFailures) {
  const auto e = db4();
  const std::vector<float> a(53, 1.0f), d(52, 1.0f), empty;
  auto r = e->idwt({a, d});
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(render(r.error()), "Approx and details must match, but they don't 53x52");

  MultiDwtRef<float> no_levels;
  no_levels.approximation = a;
  EXPECT_EQ(e->multi_idwt(no_levels).error(), make_error(TessaryErrorKind::ZeroSizedInput));
  MultiDwtRef<float> no_approximation;
  no_approximation.details.emplace_back(d);
  EXPECT_EQ(e->multi_idwt(no_approximation).error(),
            make_error(TessaryErrorKind::ZeroSizedInput));

  // A finer details band longer than what the coarser level rebuilds.
  const std::vector<float> deep(18, 1.0f), fine(40, 1.0f);
  MultiDwtRef<float> mismatched;
  mismatched.details = {fine, deep};
  mismatched.approximation = deep;
  EXPECT_EQ(e->multi_idwt(mismatched).error(),
            make_error(TessaryErrorKind::ApproxDetailsSizeMismatch, 30, 40));
}

TEST(CompletedDwtExecutor, ShortSignals) {
  const auto e = db4();
  const std::vector<float> x = random_signal(5, 6);
  auto one = e->dwt(x, 1);
  ASSERT_FALSE(one.ok());
  EXPECT_EQ(render(one.error()), "Input size 5 can't be less than 8");
  auto two = e->dwt(x, 2);
  ASSERT_FALSE(two.ok());
  EXPECT_EQ(render(two.error()), "Buffer was too small for provided level");
  auto multi = e->multi_dwt(x, 1);
  ASSERT_FALSE(multi.ok());
  EXPECT_EQ(multi.error(), make_error(TessaryErrorKind::InputTooShort, 5, 8));
  EXPECT_EQ(e->multi_dwt(x, 2).error(), make_error(TessaryErrorKind::BufferTooSmallForLevel));
}

}  // namespace
}  // namespace tessary
