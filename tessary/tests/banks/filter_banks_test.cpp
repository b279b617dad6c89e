#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "banks/factory.h"
#include "banks/families.h"
#include "banks/fixed_taps.h"
#include "banks/n_taps.h"
#include "banks/tables.h"
#include "engine_test_support.h"

namespace tessary {
namespace {

using testing_support::fixed_tap_counts;
using testing_support::kAllModes;
using testing_support::mode_name;
using testing_support::random_signal;

// Db(L/2) rounded to single precision.
std::vector<float> daubechies_floats(std::uint64_t taps) {
  const auto table = scaling_filter(static_cast<DaubechiesFamily>(taps / 2 - 1));
  return std::vector<float>(table.begin(), table.end());
}

// The portable bank for Db(L/2): the fixed-length one for every L used here.
IncompleteDwtExecutorHandle<float> fixed_bank(std::uint64_t taps, BorderMode mode) {
  auto bank = make_filter_bank_f32(KernelPath::Portable, mode, daubechies_floats(taps));
  EXPECT_TRUE(bank.ok());
  return std::move(bank).value();
}

std::shared_ptr<const WaveletNTaps> generic_bank(const std::vector<float>& h, BorderMode mode) {
  auto bank = make_n_taps_bank<WaveletNTaps>(mode, h);
  EXPECT_TRUE(bank.ok());
  return std::move(bank).value();
}

bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// The fixed-length banks compute their border samples inline and the generic
// bank reads them from the arena; both associate the sums the same way, so
// the bands agree bit for bit, for every mode (Reflect101 included) and every
// length from the shortest on.
class FixedMatchesGeneric
    : public ::testing::TestWithParam<std::tuple<std::uint64_t, BorderMode>> {};

TEST_P(FixedMatchesGeneric, ForwardAndInverseBitForBit) {
  const auto [taps, mode] = GetParam();
  const auto fixed = fixed_bank(taps, mode);
  ASSERT_EQ(fixed->filter_length(), taps);
  const auto generic = generic_bank(daubechies_floats(taps), mode);
  for (std::uint64_t n = taps; n <= taps + 40; ++n) {
    const std::vector<float> x = random_signal(n, static_cast<std::uint32_t>(n * 31 + taps));
    const BandSizes sizes = fixed->dwt_size(n);
    ASSERT_EQ(sizes, generic->dwt_size(n));
    std::vector<float> a1(sizes.approximation), d1(sizes.details);
    std::vector<float> a2(sizes.approximation), d2(sizes.details);
    ASSERT_TRUE(fixed->execute_forward(x, a1, d1).ok());
    ASSERT_TRUE(generic->execute_forward(x, a2, d2).ok());
    EXPECT_TRUE(same_bits(a1, a2)) << "approximation, n=" << n;
    EXPECT_TRUE(same_bits(d1, d2)) << "details, n=" << n;

    const std::uint64_t out_length = fixed->idwt_size(a1.size(), d1.size());
    ASSERT_EQ(out_length, generic->idwt_size(a1.size(), d1.size()));
    std::vector<float> y1(out_length), y2(out_length);
    ASSERT_TRUE(fixed->execute_inverse(a1, d1, y1).ok());
    ASSERT_TRUE(generic->execute_inverse(a1, d1, y2).ok());
    EXPECT_TRUE(same_bits(y1, y2)) << "inverse, n=" << n;
  }
}


// The sums as defined, with an extension written independently of the
// engine's border code (pads here are shorter than the signal).
float reference_ext(const std::vector<float>& x, std::int64_t s, BorderMode mode) {
  const auto n = static_cast<std::int64_t>(x.size());
  if (s >= 0 && s < n) return x[static_cast<std::size_t>(s)];
  switch (mode) {
    case BorderMode::Clamp: return s < 0 ? x.front() : x.back();
    case BorderMode::Wrap: return x[static_cast<std::size_t>(s < 0 ? s + n : s - n)];
    case BorderMode::Reflect: return x[static_cast<std::size_t>(s < 0 ? -s - 1 : 2 * n - 1 - s)];
    case BorderMode::Reflect101: return x[static_cast<std::size_t>(s < 0 ? -s : 2 * n - 2 - s)];
    case BorderMode::Zeros: break;
  }
  return 0.0f;
}

TEST_P(FixedMatchesGeneric, MatchesTheDefiningSumsBitForBit) {
  const auto [taps, mode] = GetParam();
  const auto bank = fixed_bank(taps, mode);
  const std::vector<float> h = daubechies_floats(taps);
  std::vector<float> g(taps);
  low_pass_to_high_into(h, g);
  const auto lead = static_cast<std::int64_t>(taps) - 2;
  for (std::uint64_t n = taps; n <= taps + 9; ++n) {
    const std::vector<float> x = random_signal(n, static_cast<std::uint32_t>(n + 1000));
    const std::uint64_t m = (n + taps - 1) / 2;
    std::vector<float> a(m), d(m), want_a(m), want_d(m);
    ASSERT_TRUE(bank->execute_forward(x, a, d).ok());
    for (std::uint64_t i = 0; i < m; ++i) {
      float sa = 0.0f, sd = 0.0f;
      for (std::uint64_t j = 0; j < taps; ++j) {
        const float v = reference_ext(x, static_cast<std::int64_t>(2 * i + j) - lead, mode);
        sa = sa + h[j] * v;
        sd = sd + g[j] * v;
      }
      want_a[i] = sa;
      want_d[i] = sd;
    }
    EXPECT_TRUE(same_bits(a, want_a)) << "n=" << n;
    EXPECT_TRUE(same_bits(d, want_d)) << "n=" << n;

    // Synthesis as a scatter: pair j adds h[k] a[j] + (g[k] d[j] + out[p]) at
    // p = 2j - (L-2) + k, skipping positions outside the output.
    const std::uint64_t out_length = 2 * m - taps + 2;
    std::vector<float> y(out_length, 0.5f), want_y(out_length, 0.5f);
    ASSERT_TRUE(bank->execute_inverse(a, d, y).ok());
    for (std::uint64_t j = 0; j < m; ++j) {
      for (std::uint64_t k = 0; k < taps; ++k) {
        const std::int64_t p = static_cast<std::int64_t>(2 * j + k) - lead;
        if (p < 0 || p >= static_cast<std::int64_t>(out_length)) continue;
        float& o = want_y[static_cast<std::size_t>(p)];
        o = h[k] * a[j] + (g[k] * d[j] + o);
      }
    }
    EXPECT_TRUE(same_bits(y, want_y)) << "inverse, n=" << n;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Banks, FixedMatchesGeneric,
    ::testing::Combine(::testing::ValuesIn(fixed_tap_counts()), ::testing::ValuesIn(kAllModes)),
    [](const auto& p) {
      return std::to_string(std::get<0>(p.param)) + "taps_" + mode_name(std::get<1>(p.param));
    });

// The bank rules for one L, on the fixed and the generic member alike.
class BankChecks : public ::testing::TestWithParam<bool> {
 protected:
  static constexpr std::uint64_t kTaps = 8;
  IncompleteDwtExecutorHandle<float> bank(BorderMode mode = BorderMode::Wrap) const {
    if (GetParam()) return generic_bank(daubechies_floats(kTaps), mode);
    return fixed_bank(kTaps, mode);
  }
};

TEST_P(BankChecks, SizesAroundTheFilterLength) {
  EXPECT_EQ(bank()->dwt_size(100), (BandSizes{53, 53}));
  EXPECT_EQ(bank()->idwt_size(53, 53), 100u);
  EXPECT_EQ(bank()->dwt_size(8), (BandSizes{7, 7}));
  EXPECT_EQ(bank()->idwt_size(7, 7), 8u);
  EXPECT_EQ(bank()->dwt_size(9), (BandSizes{8, 8}));
  EXPECT_EQ(bank()->idwt_size(8, 8), 10u);
}

TEST_P(BankChecks, ForwardFailuresWriteNothing) {
  const auto b = bank();
  struct Case {
    std::uint64_t n, approximation, details;
    TessaryError error;
  };
  const Case cases[] = {
      {7, 7, 7, make_error(TessaryErrorKind::InputTooShort, 7, 8)},
      {9, 8, 9, make_error(TessaryErrorKind::ApproxDetailsNotHalfLength, 9)},
      {9, 7, 8, make_error(TessaryErrorKind::ApproxDetailsNotHalfLength, 7)},
      {9, 9, 7, make_error(TessaryErrorKind::ApproxDetailsNotHalfLength, 9)},
  };
  for (const Case& c : cases) {
    const std::vector<float> x = random_signal(c.n, 1);
    std::vector<float> a(c.approximation, 42.0f), d(c.details, 42.0f);
    const TResult<> s = b->execute_forward(x, a, d);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error(), c.error) << render(s.error());
    EXPECT_EQ(a, std::vector<float>(c.approximation, 42.0f));
    EXPECT_EQ(d, std::vector<float>(c.details, 42.0f));
  }
  EXPECT_EQ(render(make_error(TessaryErrorKind::InputTooShort, 7, 8)),
            "Input size 7 can't be less than 8");
}

TEST_P(BankChecks, InverseFailuresWriteNothing) {
  const auto b = bank();
  const std::vector<float> a(8, 1.0f), d7(7, 1.0f), d8(8, 1.0f), two(2, 1.0f);
  std::vector<float> out(10, 42.0f);
  TResult<> s = b->execute_inverse(a, d7, out);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error(), make_error(TessaryErrorKind::ApproxDetailsSizeMismatch, 8, 7));
  std::vector<float> short_out(9, 42.0f);
  s = b->execute_inverse(a, d8, short_out);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(render(s.error()), "Output size should be 10, but it was 9");
  EXPECT_EQ(short_out, std::vector<float>(9, 42.0f));
  // Two band pairs of an 8-tap bank reconstruct fewer than zero samples.
  for (std::uint64_t length : {0u, 2u, 4u}) {
    std::vector<float> o(length, 42.0f);
    s = b->execute_inverse(two, two, o);
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error().kind, TessaryErrorKind::OutputSizeMismatch);
    EXPECT_EQ(o, std::vector<float>(length, 42.0f));
  }
  EXPECT_EQ(out, std::vector<float>(10, 42.0f));
}

TEST_P(BankChecks, InverseAddsToTheOutput) {
  const auto b = bank();
  const std::vector<float> x = random_signal(16, 3);
  std::vector<float> a(11), d(11);
  ASSERT_TRUE(b->execute_forward(x, a, d).ok());
  std::vector<float> fresh(16, 0.0f), offset(16, 100.0f);
  ASSERT_TRUE(b->execute_inverse(a, d, fresh).ok());
  ASSERT_TRUE(b->execute_inverse(a, d, offset).ok());
  for (std::size_t i = 0; i < 16; ++i) EXPECT_NEAR(offset[i], 100.0f + fresh[i], 1e-4f) << i;
}

// n = 8 reconstructs 8 samples, n = 9 reconstructs 10 of which the first 9
// are the signal, whatever the border mode.
TEST_P(BankChecks, InverseOfForwardAtTheShortestLengths) {
  for (const BorderMode mode : kAllModes) {
    const auto b = bank(mode);
    for (std::uint64_t n : {8u, 9u}) {
      const std::vector<float> x = random_signal(n, static_cast<std::uint32_t>(n));
      const BandSizes sizes = b->dwt_size(n);
      std::vector<float> a(sizes.approximation), d(sizes.details);
      ASSERT_TRUE(b->execute_forward(x, a, d).ok());
      std::vector<float> y(b->idwt_size(a.size(), d.size()), 0.0f);
      ASSERT_EQ(y.size(), n % 2 == 0 ? n : n + 1);
      ASSERT_TRUE(b->execute_inverse(a, d, y).ok());
      for (std::uint64_t i = 0; i < n; ++i) {
        EXPECT_NEAR(y[i], x[i], 2e-6f) << mode_name(mode) << " n=" << n << " i=" << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Banks, BankChecks, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "Generic" : "Fixed"; });

// For odd n the last output reads ext(n + L - 2), so with L = 8 and n = 9 the
// arena holds 6 + 9 + 7 = 22 samples; one fewer would end the last window
// one sample past the scratch.
TEST(WaveletNTaps, ScratchIsTheArena) {
  const auto b = generic_bank(daubechies_floats(8), BorderMode::Wrap);
  EXPECT_EQ(b->required_scratch_size(9), 22u);
  EXPECT_EQ(b->required_scratch_size(8), 20u);
  const std::vector<float> x = random_signal(9, 5);
  std::vector<float> a(8, 42.0f), d(8, 42.0f);

  std::vector<float> short_scratch(21, 42.0f);
  const TResult<> s = b->execute_forward_with_scratch(x, a, d, short_scratch);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error(), make_error(TessaryErrorKind::ScratchSizeMismatch, 22, 21));
  EXPECT_EQ(render(s.error()), "Scratch size expected to be 22 but it was 21");
  EXPECT_EQ(a, std::vector<float>(8, 42.0f));
  EXPECT_EQ(short_scratch, std::vector<float>(21, 42.0f));

  std::vector<float> scratch(100, 42.0f);
  ASSERT_TRUE(b->execute_forward_with_scratch(x, a, d, scratch).ok());
  for (std::size_t i = 22; i < scratch.size(); ++i) EXPECT_EQ(scratch[i], 42.0f) << i;
  // The arena: six wrapped samples, the signal, seven wrapped samples.
  EXPECT_EQ(scratch[0], x[3]);
  EXPECT_EQ(scratch[6], x[0]);
  EXPECT_EQ(scratch[21], x[6]);

  std::vector<float> a2(8), d2(8);
  ASSERT_TRUE(b->execute_forward(x, a2, d2).ok());
  EXPECT_EQ(a, a2);
  EXPECT_EQ(d, d2);
}

TEST(WaveletNTaps, RejectsZeroAndOddFilters) {
  for (std::size_t length : {0u, 1u, 3u, 7u}) {
    const std::vector<float> h(length, 0.5f);
    auto bank = make_n_taps_bank<WaveletNTaps>(BorderMode::Wrap, h);
    ASSERT_FALSE(bank.ok());
    EXPECT_EQ(bank.error().kind, TessaryErrorKind::ZeroOrOddWavelet);
  }
}

TEST(WaveletNTaps, FixedBanksIgnoreTheScratch) {
  const auto b = fixed_bank(8, BorderMode::Wrap);
  EXPECT_EQ(b->required_scratch_size(1000), 0u);
  const std::vector<float> x = random_signal(9, 5);
  std::vector<float> a(8), d(8);
  EXPECT_TRUE(b->execute_forward_with_scratch(x, a, d, {}).ok());
}

// Two taps: no left padding, and an odd length reads one sample past the end.
TEST(TwoTaps, OddLengthTakesOneBorderSample) {
  const std::array<float, 2> h = {0.25f, 0.75f};
  const std::vector<float> x = {1, 2, 3, 4, 5};
  const struct {
    BorderMode mode;
    float beyond;
  } cases[] = {{BorderMode::Wrap, 1}, {BorderMode::Zeros, 0}, {BorderMode::Clamp, 5},
               {BorderMode::Reflect, 5}, {BorderMode::Reflect101, 4}};
  for (const auto& c : cases) {
    const auto bank =
        make_filter_bank_f32(KernelPath::Portable, c.mode, std::span<const float>(h)).value();
    ASSERT_NE(dynamic_cast<const FixedTapsBank<2>*>(bank.get()), nullptr);
    std::vector<float> a(3), d(3);
    ASSERT_TRUE(bank->execute_forward(x, a, d).ok());
    EXPECT_EQ(a[0], 0.25f * 1 + 0.75f * 2);
    EXPECT_EQ(a[2], 0.25f * 5 + 0.75f * c.beyond) << mode_name(c.mode);
    EXPECT_EQ(d[2], 0.75f * 5 - 0.25f * c.beyond) << mode_name(c.mode);
    EXPECT_EQ(bank->idwt_size(3, 3), 6u);
  }
}

}  // namespace
}  // namespace tessary
