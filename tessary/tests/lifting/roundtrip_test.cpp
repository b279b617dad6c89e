// Behaviour of the four lifting executors through the executor interface:
// worked examples, round trips, the multi-level operations and every check.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "lifting_executors.h"

namespace tessary {
namespace {

using testing::LiftingCase;
using testing::Wavelet;
using K = TessaryErrorKind;

constexpr float kSentinel = -12345.0f;

std::vector<float> random_signal(std::uint64_t n, std::uint32_t seed, float amplitude = 1.0f) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-amplitude, amplitude);
  std::vector<float> x(n);
  for (float& v : x) v = dist(rng);
  return x;
}

// Small integers: every CDF 5/3 intermediate is a multiple of 0.125 and exact.
std::vector<float> small_integers(std::uint64_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> dist(0, 15);
  std::vector<float> x(n);
  for (float& v : x) v = static_cast<float>(dist(rng));
  return x;
}

float max_abs(const std::vector<float>& x) {
  float m = 0.0f;
  for (float v : x) m = std::max(m, std::fabs(v));
  return m;
}

class Lifting : public ::testing::TestWithParam<LiftingCase> {
 protected:
  void SetUp() override { TESSARY_SKIP_WITHOUT_AVX(GetParam()); }
  const DwtExecutor<float>& exec() const { return *GetParam().executor; }
  bool is53() const { return GetParam().wavelet == Wavelet::Cdf53; }
  std::uint64_t shortest() const { return GetParam().shortest(); }

  // Forward then inverse through the single-level steps.
  std::vector<float> round_trip(const std::vector<float>& x) const {
    const std::uint64_t n = x.size();
    std::vector<float> s(n - n / 2), d(n / 2), y(n, kSentinel);
    EXPECT_TRUE(exec().execute_forward(x, s, d).ok());
    EXPECT_TRUE(exec().execute_inverse(s, d, y).ok());
    return y;
  }
};

TEST_P(Lifting, SingleLevelRoundTrip) {
  for (std::uint64_t n = shortest(); n < 80; ++n) {
    SCOPED_TRACE(n);
    if (is53()) {
      const std::vector<float> x = small_integers(n, static_cast<std::uint32_t>(n));
      EXPECT_EQ(round_trip(x), x);
    } else {
      const std::vector<float> x = random_signal(n, static_cast<std::uint32_t>(n), 100.0f);
      const std::vector<float> y = round_trip(x);
      for (std::uint64_t i = 0; i < n; ++i) EXPECT_NEAR(y[i], x[i], 1e-5f * max_abs(x));
    }
  }
}

// Pins the 9/7 constants to the wavelet (a constant c gives details 0 and
// approximations sqrt(2) c); CDF 5/3 keeps c exactly.
TEST_P(Lifting, ConstantSignal) {
  const float gain = is53() ? 1.0f : std::sqrt(2.0f);
  const float tolerance = is53() ? 0.0f : 1e-5f;
  for (std::uint64_t n : {shortest(), shortest() + 1, std::uint64_t{64}}) {
    SCOPED_TRACE(n);
    const std::vector<float> x(n, 3.0f);
    std::vector<float> s(n - n / 2), d(n / 2);
    ASSERT_TRUE(exec().execute_forward(x, s, d).ok());
    for (float v : d) EXPECT_NEAR(v, 0.0f, tolerance);
    for (float v : s) EXPECT_NEAR(v, 3.0f * gain, tolerance);
  }
}

// Worked examples; CDF 5/3 weights are powers of two, so both executors
// give these exactly.
class Cdf53ByHand : public Lifting {};

TEST_P(Cdf53ByHand, ShortestInputs) {
  // n = 3: d0 = (x0 + x2) * -0.5 + x1; s0 = 2 d0 * 0.25 + x0; s1 = 2 d0 * 0.25 + x2.
  std::vector<float> s(2), d(1);
  ASSERT_TRUE(exec().execute_forward(std::vector<float>{1.0f, 6.0f, 3.0f}, s, d).ok());
  EXPECT_EQ(d, (std::vector<float>{4.0f}));
  EXPECT_EQ(s, (std::vector<float>{3.0f, 5.0f}));
  // n = 4: the last predict uses x[2] twice.
  std::vector<float> d2(2);
  ASSERT_TRUE(exec().execute_forward(std::vector<float>{0.0f, 1.0f, 2.0f, 3.0f}, s, d2).ok());
  EXPECT_EQ(d2, (std::vector<float>{0.0f, 1.0f}));
  EXPECT_EQ(s, (std::vector<float>{0.0f, 2.25f}));
}

TEST_P(Lifting, MultiLevelRoundTripKeepsLength) {
  // (length, levels) pairs within what each length supports for both wavelets.
  const std::vector<std::pair<std::uint64_t, std::uint64_t>> cases = {
      {shortest(), 0}, {shortest() + 1, 1}, {10, 2}, {257, 5}, {4097, 8}};
  for (const auto& [n, levels] : cases) {
    SCOPED_TRACE(::testing::Message() << "n " << n << " levels " << levels);
    const std::vector<float> x = is53() ? small_integers(n, 3) : random_signal(n, 3);
    auto fwd = exec().multi_dwt(x, levels);
    ASSERT_TRUE(fwd.ok());
    ASSERT_EQ(fwd.value().levels.size(), std::max<std::uint64_t>(levels, 1));
    MultiDwtRef<float> ref;
    for (const Dwt<float>& level : fwd.value().levels) ref.details.emplace_back(level.details);
    ref.approximation = fwd.value().levels.back().approximations;
    auto y = exec().multi_idwt(ref);
    ASSERT_TRUE(y.ok());
    ASSERT_EQ(y.value().size(), n);
    if (is53()) {
      EXPECT_EQ(y.value(), x);
    } else {
      for (std::uint64_t i = 0; i < n; ++i) EXPECT_NEAR(y.value()[i], x[i], 1e-5f);
    }
  }
}

// multi_idwt rebuilds all levels inside one buffer; it must give exactly
// what idwt gives level by level.
TEST_P(Lifting, MultiIdwtEqualsChainedIdwt) {
  for (std::uint64_t n : {std::uint64_t{37}, std::uint64_t{1001}, std::uint64_t{4096}}) {
    SCOPED_TRACE(n);
    const std::vector<float> x = random_signal(n, 9);
    auto fwd = exec().multi_dwt(x, 4);
    ASSERT_TRUE(fwd.ok());
    const auto& levels = fwd.value().levels;
    MultiDwtRef<float> ref;
    for (const Dwt<float>& level : levels) ref.details.emplace_back(level.details);
    ref.approximation = levels.back().approximations;
    auto all = exec().multi_idwt(ref);
    ASSERT_TRUE(all.ok());
    std::vector<float> y(levels.back().approximations.begin(),
                         levels.back().approximations.end());
    for (std::size_t k = levels.size(); k-- > 0;) {
      auto step = exec().idwt(DwtRef<float>{y, levels[k].details});
      ASSERT_TRUE(step.ok());
      y.assign(step.value().begin(), step.value().end());
    }
    EXPECT_EQ(all.value(), y);
  }
}

TEST_P(Lifting, MultiDwtBandLengthsOfTenSamples) {
  const std::vector<float> x = random_signal(10, 1);
  const std::uint64_t deepest_ok = is53() ? 3 : 2;
  auto ok = exec().multi_dwt(x, deepest_ok);
  ASSERT_TRUE(ok.ok());
  const std::vector<BandSizes> want = {{5, 5}, {3, 2}, {2, 1}};
  for (std::uint64_t k = 0; k < deepest_ok; ++k) {
    EXPECT_EQ(ok.value().levels[k].approximations.size(), want[k].approximation);
    EXPECT_EQ(ok.value().levels[k].details.size(), want[k].details);
  }
  // Each level decomposes the previous approximation.
  std::vector<float> s(3), d(2);
  ASSERT_TRUE(exec().execute_forward(ok.value().levels[0].approximations, s, d).ok());
  EXPECT_EQ(ok.value().levels[1].approximations, s);
  EXPECT_EQ(ok.value().levels[1].details, d);
  auto too_deep = exec().multi_dwt(x, deepest_ok + 1);
  ASSERT_FALSE(too_deep.ok());
  EXPECT_EQ(render(too_deep.error()), "Buffer was too small for provided level");
}

TEST_P(Lifting, DwtReturnsOnlyTheDeepestLevel) {
  const std::vector<float> x = random_signal(40, 2);
  auto all = exec().multi_dwt(x, 3);
  auto deepest = exec().dwt(x, 3);
  ASSERT_TRUE(all.ok());
  ASSERT_TRUE(deepest.ok());
  EXPECT_EQ(deepest.value().approximations, all.value().levels[2].approximations);
  EXPECT_EQ(deepest.value().details, all.value().levels[2].details);
  for (std::uint64_t level : {0, 1}) {
    auto one = exec().dwt(x, level);
    ASSERT_TRUE(one.ok());
    EXPECT_EQ(one.value().details, all.value().levels[0].details);
  }
}

TEST_P(Lifting, HugeLevelCountsEndInBufferTooSmall) {
  const std::vector<float> x = random_signal(1000, 4);
  for (std::uint64_t levels : {std::uint64_t{1} << 63, std::numeric_limits<std::uint64_t>::max()}) {
    auto multi = exec().multi_dwt(x, levels);
    ASSERT_FALSE(multi.ok());
    EXPECT_EQ(multi.error().kind, K::BufferTooSmallForLevel);
    auto single = exec().dwt(x, levels);
    ASSERT_FALSE(single.ok());
    EXPECT_EQ(single.error().kind, K::BufferTooSmallForLevel);
  }
}

TEST_P(Lifting, TooShortInputs) {
  const std::vector<float> x(shortest() - 1, 1.0f);
  std::vector<float> s(2, kSentinel), d(x.size() / 2, kSentinel);
  const TResult<> st = exec().execute_forward(x, s, d);
  ASSERT_FALSE(st.ok());
  EXPECT_EQ(render(st.error()), is53() ? "Input size 2 can't be less than 3"
                                       : "Input size 3 can't be less than 4");
  auto single = exec().dwt(x, 1);
  ASSERT_FALSE(single.ok());
  EXPECT_EQ(render(single.error()), "Buffer was too small for provided level");
  auto multi = exec().multi_dwt(x, 0);
  ASSERT_FALSE(multi.ok());
  EXPECT_EQ(render(multi.error()), "Buffer was too small for provided level");
  auto empty = exec().multi_dwt({}, 1);
  ASSERT_FALSE(empty.ok());
  EXPECT_EQ(empty.error().kind, K::BufferTooSmallForLevel);
}

struct ForwardMisfit {
  std::uint64_t n, a, d;
  TessaryError error;
};

// Every failed check leaves both outputs untouched.
TEST_P(Lifting, ForwardChecksWriteNothing) {
  const std::uint64_t m = shortest();
  const std::vector<ForwardMisfit> misfits = {
      {m - 1, 2, 1, make_error(K::InputTooShort, m - 1, m)},
      {9, 4, 4, make_error(K::ApproximationSizeMismatch, 4, 5)},
      {9, 6, 4, make_error(K::ApproximationSizeMismatch, 6, 5)},
      {9, 5, 5, make_error(K::DetailsSizeMismatch, 5, 4)},
      {10, 5, 4, make_error(K::DetailsSizeMismatch, 4, 5)},
  };
  for (const ForwardMisfit& f : misfits) {
    SCOPED_TRACE(render(f.error));
    const std::vector<float> x = random_signal(f.n, 5);
    std::vector<float> s(f.a, kSentinel), d(f.d, kSentinel);
    const TResult<> st = exec().execute_forward(x, s, d);
    ASSERT_FALSE(st.ok());
    EXPECT_EQ(st.error(), f.error);
    EXPECT_EQ(s, std::vector<float>(f.a, kSentinel));
    EXPECT_EQ(d, std::vector<float>(f.d, kSentinel));
  }
}

struct InverseMisfit {
  std::uint64_t a, d, n;
  TessaryError error;
};

TEST_P(Lifting, InverseChecksWriteNothing) {
  std::vector<InverseMisfit> misfits = {
      {3, 2, 6, make_error(K::OutputSizeMismatch, 5, 6)},
      {3, 1, 4, make_error(K::ApproximationSizeMismatch, 3, 2)},
      {2, 3, 5, make_error(K::ApproximationSizeMismatch, 2, 3)},
      {1, 1, 2, make_error(K::ApproximationSizeMismatch, 1, 2)},
      {2, 0, 2, make_error(K::DetailsSizeMismatch, 0, is53() ? 1 : 2)},
  };
  if (!is53()) misfits.push_back({2, 1, 3, make_error(K::DetailsSizeMismatch, 1, 2)});
  for (const InverseMisfit& f : misfits) {
    SCOPED_TRACE(render(f.error));
    const std::vector<float> s = random_signal(f.a, 6), d = random_signal(f.d, 7);
    std::vector<float> y(f.n, kSentinel);
    const TResult<> st = exec().execute_inverse(s, d, y);
    ASSERT_FALSE(st.ok());
    EXPECT_EQ(st.error(), f.error);
    EXPECT_EQ(y, std::vector<float>(f.n, kSentinel));
  }
}

TEST_P(Lifting, MultiIdwtRejectsEmptyOrMisfittingBands) {
  const std::vector<float> band(8, 1.0f);
  MultiDwtRef<float> no_levels;
  no_levels.approximation = band;
  auto r1 = exec().multi_idwt(no_levels);
  ASSERT_FALSE(r1.ok());
  EXPECT_EQ(render(r1.error()), "Zero sized input is not supported");
  MultiDwtRef<float> no_approximation;
  no_approximation.details.emplace_back(band);
  auto r2 = exec().multi_idwt(no_approximation);
  ASSERT_FALSE(r2.ok());
  EXPECT_EQ(r2.error().kind, K::ZeroSizedInput);
  // The deepest level gives 16 samples, which cannot pair with 4 details.
  MultiDwtRef<float> misfit;
  misfit.details = {std::span<const float>(band.data(), 4), std::span<const float>(band)};
  misfit.approximation = band;
  auto r3 = exec().multi_idwt(misfit);
  ASSERT_FALSE(r3.ok());
  EXPECT_EQ(r3.error(), make_error(K::ApproximationSizeMismatch, 16, 10));
  // Views may overlap, so their lengths can sum past 2^64: here to 8 + 2^64
  // - 4, which once wrapped to a 4-sample buffer below the 8-sample
  // approximation copied into it.
  const std::span<const float> huge(band.data(), std::uint64_t{1} << 61);
  MultiDwtRef<float> wrapping;
  wrapping.details.assign(8, huge);
  wrapping.details[0] = huge.first(huge.size() - 4);
  wrapping.approximation = band;
  auto r4 = exec().multi_idwt(wrapping);
  ASSERT_FALSE(r4.ok());
  EXPECT_EQ(r4.error(), make_error(K::ApproximationSizeMismatch, 8, (std::uint64_t{1} << 60) + 4));
}

TEST_P(Lifting, IdwtReturnsStepErrors) {
  const std::vector<float> a(3, 1.0f), d(1, 1.0f);
  auto r = exec().idwt(DwtRef<float>{a, d});
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error(), make_error(K::ApproximationSizeMismatch, 3, 2));
}

INSTANTIATE_TEST_SUITE_P(Executors, Lifting, ::testing::ValuesIn(testing::all_cases()),
                         testing::case_name);

INSTANTIATE_TEST_SUITE_P(Executors, Cdf53ByHand,
                         ::testing::ValuesIn(testing::cases_of(Wavelet::Cdf53)),
                         testing::case_name);

}  // namespace
}  // namespace tessary
