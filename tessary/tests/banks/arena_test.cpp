#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "banks/arena.h"
#include "core/border_mode.h"
#include "cpu/cpu_features.h"
#include "engine_test_support.h"

namespace tessary {
namespace {

using testing_support::kAllModes;
using testing_support::kAllWriterPaths;
using testing_support::mode_name;

std::string path_name(ArenaWriterPath path) {
  switch (path) {
    case ArenaWriterPath::Portable: return "Portable";
    case ArenaWriterPath::Sse41: return "Sse41";
    case ArenaWriterPath::Avx2: return "Avx2";
  }
  return "Unknown";
}

bool host_runs(ArenaWriterPath path) { return supports(cpu_features(), path); }

std::vector<float> arena_of(ArenaWriterPath path, const std::vector<float>& x, std::uint64_t left,
                            std::uint64_t right, BorderMode mode) {
  std::vector<float> arena(left + x.size() + right, -99.0f);
  EXPECT_TRUE(arena_writer(path)(x, arena, left, right, mode).ok());
  return arena;
}

struct ArenaCase {
  BorderMode mode;
  std::vector<float> x;
  std::uint64_t left;
  std::uint64_t right;
  std::vector<float> expected;
};

class HandWorkedArena
    : public ::testing::TestWithParam<std::tuple<ArenaWriterPath, ArenaCase>> {};

TEST_P(HandWorkedArena, MatchesTable) {
  const ArenaWriterPath path = std::get<0>(GetParam());
  const ArenaCase& c = std::get<1>(GetParam());
  if (!host_runs(path)) GTEST_SKIP() << "this processor lacks " << path_name(path);
  EXPECT_EQ(arena_of(path, c.x, c.left, c.right, c.mode), c.expected);
}

const ArenaCase kHandWorked[] = {
    // x = (a, b, c, d) with two samples of padding on each side.
    {BorderMode::Clamp, {1, 2, 3, 4}, 2, 2, {1, 1, 1, 2, 3, 4, 4, 4}},
    {BorderMode::Wrap, {1, 2, 3, 4}, 2, 2, {3, 4, 1, 2, 3, 4, 1, 2}},
    {BorderMode::Reflect, {1, 2, 3, 4}, 2, 2, {2, 1, 1, 2, 3, 4, 4, 3}},
    {BorderMode::Reflect101, {1, 2, 3, 4}, 2, 2, {3, 2, 1, 2, 3, 4, 3, 2}},
    {BorderMode::Zeros, {1, 2, 3, 4}, 2, 2, {0, 0, 1, 2, 3, 4, 0, 0}},
    // Three on each side: the deepest a mirror reaches within one signal length.
    {BorderMode::Wrap, {1, 2, 3, 4}, 3, 3, {2, 3, 4, 1, 2, 3, 4, 1, 2, 3}},
    {BorderMode::Reflect, {1, 2, 3, 4}, 3, 3, {3, 2, 1, 1, 2, 3, 4, 4, 3, 2}},
    {BorderMode::Reflect101, {1, 2, 3, 4}, 3, 3, {4, 3, 2, 1, 2, 3, 4, 3, 2, 1}},
    // Pads longer than the signal: Wrap stays periodic, the mirrors repeat the
    // mirrored copy.
    {BorderMode::Clamp, {1, 2, 3}, 7, 7, {1, 1, 1, 1, 1, 1, 1, 1, 2, 3, 3, 3, 3, 3, 3, 3, 3}},
    {BorderMode::Wrap, {1, 2, 3}, 7, 7, {3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1}},
    {BorderMode::Reflect, {1, 2, 3}, 7, 7, {1, 3, 2, 1, 3, 2, 1, 1, 2, 3, 3, 2, 1, 3, 2, 1, 3}},
    {BorderMode::Reflect101, {1, 2, 3}, 7, 7, {2, 3, 2, 3, 2, 3, 2, 1, 2, 3, 2, 1, 2, 1, 2, 1, 2}},
    {BorderMode::Zeros, {1, 2, 3}, 7, 7, {0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 0, 0, 0, 0, 0, 0, 0}},
    // A one-sample signal pads with copies of that sample, Reflect101 included.
    {BorderMode::Reflect101, {5}, 3, 2, {5, 5, 5, 5, 5, 5}},
    {BorderMode::Wrap, {5}, 2, 3, {5, 5, 5, 5, 5, 5}},
    {BorderMode::Reflect, {5}, 1, 1, {5, 5, 5}},
    // Without pads the arena is the signal.
    {BorderMode::Reflect101, {1, 2, 3}, 0, 0, {1, 2, 3}},
};

std::string hand_worked_name(
    const ::testing::TestParamInfo<std::tuple<ArenaWriterPath, ArenaCase>>& p) {
  const ArenaCase& c = std::get<1>(p.param);
  return path_name(std::get<0>(p.param)) + "_" + mode_name(c.mode) + "_n" +
         std::to_string(c.x.size()) + "_pads" + std::to_string(c.left) + "x" +
         std::to_string(c.right) + "_" + std::to_string(p.index);
}

INSTANTIATE_TEST_SUITE_P(
    Writers, HandWorkedArena,
    ::testing::Combine(::testing::ValuesIn(kAllWriterPaths),
                       ::testing::ValuesIn(kHandWorked)),
    hand_worked_name);

// Every writer lays out the same bits as a sample-by-sample walk of the border
// rule, for every mode, many lengths and pads up to several signal lengths.
class WriterAgreement : public ::testing::TestWithParam<std::tuple<ArenaWriterPath, BorderMode>> {};

TEST_P(WriterAgreement, SameBitsAsTheBorderRule) {
  const ArenaWriterPath path = std::get<0>(GetParam());
  const BorderMode mode = std::get<1>(GetParam());
  if (!host_runs(path)) GTEST_SKIP() << "this processor lacks " << path_name(path);
  const std::uint64_t pads[] = {0, 1, 2, 3, 5, 7, 8, 9, 14, 15, 16, 17, 31, 33, 46, 70};
  for (std::uint64_t n = 1; n <= 40; ++n) {
    std::vector<float> x(n);
    for (std::uint64_t i = 0; i < n; ++i) x[i] = static_cast<float>(i) * 1.25f - 7.0f;
    x[0] = -0.0f;  // a sign that only a bit copy keeps
    const BorderInterpolation border =
        BorderInterpolation::create(mode, 0, static_cast<std::int64_t>(n));
    for (const std::uint64_t left : pads) {
      for (const std::uint64_t right : pads) {
        std::vector<float> expected(left + n + right);
        for (std::uint64_t k = 0; k < expected.size(); ++k) {
          expected[k] = border.sample(x.data(), static_cast<std::int64_t>(k) -
                                                    static_cast<std::int64_t>(left));
        }
        const std::vector<float> got = arena_of(path, x, left, right, mode);
        ASSERT_EQ(std::memcmp(got.data(), expected.data(), got.size() * sizeof(float)), 0)
            << "n=" << n << " left=" << left << " right=" << right;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Writers, WriterAgreement,
    ::testing::Combine(::testing::ValuesIn(kAllWriterPaths),
                       ::testing::ValuesIn(kAllModes)),
    [](const auto& p) {
      return path_name(std::get<0>(p.param)) + "_" + mode_name(std::get<1>(p.param));
    });

class WriterPaths : public ::testing::TestWithParam<ArenaWriterPath> {};

TEST_P(WriterPaths, WrongArenaLengthWritesNothing) {
  if (!host_runs(GetParam())) GTEST_SKIP() << "this processor lacks " << path_name(GetParam());
  const std::vector<float> x = {1, 2, 3, 4};
  std::vector<float> arena(9, -1.0f);
  const TResult<> s = arena_writer(GetParam())(x, arena, 2, 2, BorderMode::Wrap);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error(), make_error(TessaryErrorKind::ScratchSizeMismatch, 8, 9));
  EXPECT_EQ(arena, std::vector<float>(9, -1.0f));
  // Pads whose sum wraps around 64 bits must not pass for a short arena.
  std::vector<float> small(3, -1.0f);
  EXPECT_FALSE(arena_writer(GetParam())(x, small, ~std::uint64_t{0}, 0, BorderMode::Wrap).ok());
  EXPECT_EQ(small, std::vector<float>(3, -1.0f));
}

TEST_P(WriterPaths, EmptySignalPadsWithZeros) {
  if (!host_runs(GetParam())) GTEST_SKIP() << "this processor lacks " << path_name(GetParam());
  for (const BorderMode mode : kAllModes) {
    EXPECT_EQ(arena_of(GetParam(), {}, 2, 3, mode), std::vector<float>(5, 0.0f));
  }
}

INSTANTIATE_TEST_SUITE_P(Writers, WriterPaths,
                         ::testing::ValuesIn(kAllWriterPaths),
                         [](const auto& p) { return path_name(p.param); });

TEST(ArenaWriterChoice, FixedOnceFromTheFeatureWord) {
  const ArenaWriter chosen = chosen_arena_writer();
  EXPECT_EQ(chosen, arena_writer(choose_arena_writer_path(cpu_features())));
  EXPECT_EQ(chosen, chosen_arena_writer());
}

}  // namespace
}  // namespace tessary
