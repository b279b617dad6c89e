#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "banks/factory.h"
#include "banks/families.h"
#include "banks/fixed_taps.h"
#include "banks/n_taps.h"
#include "banks/tables.h"
#include "engine_test_support.h"
#include "multilevel.h"
#include "tessary.h"

namespace tessary {
namespace {

using testing_support::kAllModes;
using testing_support::mode_name;
using testing_support::random_signal;

// One family member: name, table and the facade's executor for a mode.
struct Member {
  std::string name;
  bool symlet;
  int variant;
  std::span<const double> table() const {
    return symlet ? scaling_filter(static_cast<SymletFamily>(variant))
                  : scaling_filter(static_cast<DaubechiesFamily>(variant));
  }
  DwtExecutorHandle<float> make(BorderMode mode) const {
    return symlet ? Tessary::make_symlet_f32(static_cast<SymletFamily>(variant), mode)
                  : Tessary::make_daubechies_f32(static_cast<DaubechiesFamily>(variant), mode);
  }
};

std::vector<Member> all_members() {
  std::vector<Member> members;
  for (int k = 0; k < 24; ++k) members.push_back({"Db" + std::to_string(k + 1), false, k});
  for (int t = 0; t < 19; ++t) members.push_back({"Sym" + std::to_string(t + 2), true, t});
  return members;
}

// The published orientation of each table (first and last value to twelve
// significant digits and the index of the largest magnitude), in variant
// order, Db1..Db24 then Sym2..Sym20. A reversed table fails all three.
struct Orientation {
  std::uint64_t taps;
  const char* first;
  const char* last;
  std::size_t largest;
};
const Orientation kOrientation[] = {
    {2, "0.707106781187", "0.707106781187", 0},
    {4, "0.482962913145", "-0.129409522551", 1},
    {6, "0.33267055295", "0.0352262918857", 1},
    {8, "0.230377813309", "-0.0105974017851", 1},
    {10, "0.160102397974", "0.00333572528547", 2},
    {12, "0.11154074335", "-0.00107730108531", 2},
    {14, "0.077852054085", "0.000353713799975", 2},
    {16, "0.0544158422431", "-0.000117476784125", 2},
    {18, "0.0380779473639", "3.93473203163e-05", 3},
    {20, "0.0266700579006", "-1.32642028945e-05", 3},
    {22, "0.0186942977615", "4.49427427724e-06", 3},
    {24, "0.0131122579572", "-1.52907175807e-06", 3},
    {26, "0.00920213353896", "5.22003509845e-07", 3},
    {28, "0.00646115346009", "-1.78713996831e-07", 4},
    {30, "0.00453853736158", "6.13335991331e-08", 4},
    {32, "0.00318922092535", "-2.1093396301e-08", 4},
    {34, "0.00224180700104", "7.26749296856e-09", 4},
    {36, "0.00157631021844", "-2.50793445495e-09", 4},
    {38, "0.00110866976318", "8.666848839e-10", 5},
    {40, "0.000779953613667", "-2.99883648962e-10", 5},
    {42, "0.000548822509853", "1.03880557102e-10", 5},
    {44, "0.000386263231491", "-3.60211348434e-11", 5},
    {46, "0.000271904194128", "1.25020330235e-11", 6},
    {48, "0.000191435800948", "-4.3427825038e-12", 6},
    {4, "0.482962913145", "-0.129409522551", 1},
    {6, "0.332670552951", "0.0352262918821", 1},
    {8, "0.032223100604", "-0.0757657147893", 4},
    {10, "0.0195388827353", "0.0273330683451", 5},
    {12, "-0.00780070832503", "0.015404109327", 6},
    {14, "0.0102681767085", "0.00268181456826", 5},
    {16, "0.00188995033276", "-0.00338241595101", 8},
    {18, "0.00106949003291", "0.00140091552591", 9},
    {20, "-0.000459329421005", "0.000770159809114", 10},
    {22, "0.000489263610262", "0.000171721950699", 9},
    {24, "-0.000179066586975", "0.000111967194247", 11},
    {26, "7.04298669069e-05", "6.82032526308e-05", 13},
    {28, "4.46189779915e-05", "-2.58790902654e-05", 13},
    {30, "2.86607085253e-05", "9.71241973796e-06", 13},
    {32, "-1.07979821043e-05", "6.23000670122e-06", 15},
    {34, "3.79125319433e-06", "4.29734332735e-06", 16},
    {36, "-1.51315306924e-06", "2.61261255648e-06", 18},
    {38, "1.75093679953e-06", "5.48773276822e-07", 17},
    {40, "-6.32912904478e-07", "3.69553747484e-07", 19},
};

std::string twelve_digits(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.12g", v);
  return text;
}

class Tables : public ::testing::TestWithParam<std::size_t> {};

TEST_P(Tables, OrientationAndNormalisation) {
  const Member member = all_members()[GetParam()];
  const Orientation& want = kOrientation[GetParam()];
  const std::span<const double> h = member.table();
  ASSERT_EQ(h.size(), want.taps);
  EXPECT_EQ(twelve_digits(h.front()), want.first);
  EXPECT_EQ(twelve_digits(h.back()), want.last);
  std::size_t largest = 0;
  double sum = 0.0, energy = 0.0;
  for (std::size_t k = 0; k < h.size(); ++k) {
    if (std::fabs(h[k]) > std::fabs(h[largest])) largest = k;
    sum += h[k];
    energy += h[k] * h[k];
  }
  EXPECT_EQ(largest, want.largest);
  EXPECT_NEAR(sum, std::sqrt(2.0), 1e-10);
  EXPECT_NEAR(energy, 1.0, 1e-10);
}

INSTANTIATE_TEST_SUITE_P(Families, Tables, ::testing::Range<std::size_t>(0, 43),
                         [](const auto& p) { return all_members()[p.param].name; });

TEST(Tables, CodecFiltersAreExact) {
  const double db4[] = {0.2303778133088965,    0.7148465705529157,  0.6308807679298589,
                        -0.027983769416859854, -0.18703481171909309, 0.030841381835560764,
                        0.0328830116668852,    -0.010597401785069032};
  const double sym4[] = {0.0322231006040427,  -0.012603967262037833, -0.09921954357684722,
                         0.29785779560527736, 0.8037387518059161,    0.49761866763201545,
                         -0.02963552764599851, -0.07576571478927333};
  const auto d = scaling_filter(DaubechiesFamily::Db4);
  const auto s = scaling_filter(SymletFamily::Sym4);
  for (std::size_t k = 0; k < 8; ++k) {
    EXPECT_EQ(d[k], db4[k]) << k;
    EXPECT_EQ(s[k], sym4[k]) << k;
  }
  EXPECT_EQ(std::bit_cast<std::uint32_t>(static_cast<float>(d[0])), 0x3e6be829u);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(static_cast<float>(s[4])), 0x3f4dc1d3u);
  EXPECT_EQ(scaling_filter(SymletFamily::Sym2)[0], 0.48296291314469025);
  EXPECT_EQ(scaling_filter(DaubechiesFamily::Db2)[0], 0.48296291314453416);
}

TEST(LowPassToHigh, MirrorsAndFlipsOddSigns) {
  const std::vector<float> h = {1, 2, 3, 4};
  EXPECT_EQ(low_pass_to_high(h).value(), (std::vector<float>{4, -3, 2, -1}));
  const std::vector<float> zeros = {0, 0};
  const std::vector<float> g = low_pass_to_high(zeros).value();
  ASSERT_EQ(g.size(), 2u);
  EXPECT_FALSE(std::signbit(g[0]));
  EXPECT_TRUE(std::signbit(g[1]));
  EXPECT_TRUE(low_pass_to_high({}).value().empty());
}

// Which member each table length reaches; Reflect101 etc. do not matter here.
// A processor without SSE4.2 gets the portable banks (the kernel choice for
// the other feature words is tested with the facade).
TEST(Factories, BankChosenByFilterLength) {
  constexpr CpuFeatures kPortable = 0;
  const auto bank_of = [](const TResult<DwtExecutorHandle<float>>& e) {
    return std::dynamic_pointer_cast<const CompletedDwtExecutor>(e.value())->bank();
  };
  const auto db = [&](DaubechiesFamily family, BorderMode mode = BorderMode::Wrap) {
    return bank_of(Tessary::make_daubechies_f32(kPortable, family, mode));
  };
  const auto sym = [&](SymletFamily family) {
    return bank_of(Tessary::make_symlet_f32(kPortable, family, BorderMode::Wrap));
  };
  const auto db4 = Tessary::make_daubechies_f32(kPortable, DaubechiesFamily::Db4, BorderMode::Wrap);
  EXPECT_EQ(db4.value()->filter_length(), 8u);
  EXPECT_EQ(db4.value()->dwt_size(16), (BandSizes{11, 11}));
  const auto* db4_bank = dynamic_cast<const FixedTapsBank<8>*>(bank_of(db4).get());
  ASSERT_NE(db4_bank, nullptr);
  EXPECT_EQ(db4_bank->border_mode(), BorderMode::Wrap);
  EXPECT_EQ(db4_bank->low_pass()[0], static_cast<float>(0.2303778133088965));

  const auto haar = db(DaubechiesFamily::Db1, BorderMode::Zeros);
  const auto* haar_bank = dynamic_cast<const FixedTapsBank<2>*>(haar.get());
  ASSERT_NE(haar_bank, nullptr);
  const float r = static_cast<float>(1.0 / std::sqrt(2.0));
  EXPECT_EQ(haar_bank->low_pass(), (std::array<float, 2>{r, r}));
  EXPECT_EQ(haar_bank->high_pass(), (std::array<float, 2>{r, -r}));

  for (auto family : {DaubechiesFamily::Db7, DaubechiesFamily::Db24}) {
    EXPECT_NE(dynamic_cast<const WaveletNTaps*>(db(family).get()), nullptr);
  }
  EXPECT_NE(dynamic_cast<const FixedTapsBank<16>*>(db(DaubechiesFamily::Db8).get()), nullptr);
  EXPECT_NE(dynamic_cast<const WaveletNTaps*>(sym(SymletFamily::Sym7).get()), nullptr);
  EXPECT_NE(dynamic_cast<const FixedTapsBank<16>*>(sym(SymletFamily::Sym8).get()), nullptr);
  EXPECT_NE(dynamic_cast<const FixedTapsBank<8>*>(sym(SymletFamily::Sym4).get()), nullptr);
}

// Every path builds working banks for every length it serves, and refuses
// filters the arena geometry cannot take.
TEST(Factories, EveryPathBuildsEveryLength) {
  for (KernelPath path : testing_support::kAllPaths) {
    for (const Member& member : all_members()) {
      const auto bank = make_filter_bank_f32(path, BorderMode::Wrap, member.table());
      ASSERT_TRUE(bank.ok()) << member.name;
      EXPECT_EQ(bank.value()->filter_length(), member.table().size()) << member.name;
    }
    for (const auto& h : {std::vector<float>{1, 2, 3}, std::vector<float>{}}) {
      auto bad = make_filter_bank_f32(path, BorderMode::Wrap, std::span<const float>(h));
      ASSERT_FALSE(bad.ok());
      EXPECT_EQ(render(bad.error()), "Zero or odd sized wavelet");
    }
  }
}

// Forward then inverse gives the signal back to float rounding for every
// member and every border mode; odd lengths come back one sample longer.
class RoundTrip : public ::testing::TestWithParam<std::tuple<std::size_t, BorderMode>> {};

TEST_P(RoundTrip, OneLevelAndSeveral) {
  const Member member = all_members()[std::get<0>(GetParam())];
  const BorderMode mode = std::get<1>(GetParam());
  const auto e = member.make(mode);
  const std::uint64_t taps = e->filter_length();
  for (std::uint64_t n : {taps, taps + 1, 2 * taps + 3, std::uint64_t{257}}) {
    const std::vector<float> x = random_signal(n, static_cast<std::uint32_t>(n + taps));
    auto level = e->dwt(x, 1);
    ASSERT_TRUE(level.ok());
    auto y = e->idwt({level.value().approximations, level.value().details});
    ASSERT_TRUE(y.ok());
    ASSERT_EQ(y.value().size(), n + n % 2);
    for (std::uint64_t i = 0; i < n; ++i) {
      ASSERT_NEAR(y.value()[i], x[i], 1e-5f) << "n=" << n << " i=" << i;
    }
  }
  const std::vector<float> x = random_signal(1001, 7);
  auto m = e->multi_dwt(x, 3);
  ASSERT_TRUE(m.ok());
  MultiDwtRef<float> r;
  for (const Dwt<float>& level : m.value().levels) r.details.emplace_back(level.details);
  r.approximation = m.value().levels.back().approximations;
  auto y = e->multi_idwt(r);
  ASSERT_TRUE(y.ok());
  ASSERT_EQ(y.value().size(), 1002u);
  for (std::uint64_t i = 0; i < x.size(); ++i) ASSERT_NEAR(y.value()[i], x[i], 2e-5f) << i;
}

INSTANTIATE_TEST_SUITE_P(Families, RoundTrip,
                         ::testing::Combine(::testing::Range<std::size_t>(0, 43),
                                            ::testing::ValuesIn(kAllModes)),
                         [](const auto& p) {
                           return all_members()[std::get<0>(p.param)].name + "_" +
                                  mode_name(std::get<1>(p.param));
                         });

}  // namespace
}  // namespace tessary
