// Each SSE and AVX filter-bank kernel, built for its path whatever the host,
// against the portable bank with the same coefficients: the same sizes,
// checks and errors, and bands that agree to within the rounding of the sums
// (the kernels associate the sums differently and the AVX ones fuse
// multiplies and adds). Builds without the x86 kernels keep the tests that
// cover the portable banks too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "banks/factory.h"
#include "banks/families.h"
#include "banks/n_taps.h"
#include "banks/tables.h"
#include "engine_test_support.h"
#include "multilevel.h"
#include "tessary.h"
#if TESSARY_HAVE_X86_KERNELS
#include "avx/fixed_taps.h"
#include "sse/fixed_taps.h"
#include "sse/n_taps.h"
#endif

namespace tessary {
namespace {

using testing_support::fixed_tap_counts;
using testing_support::host_runs;
using testing_support::kAllModes;
using testing_support::mode_name;
using testing_support::path_name;
using testing_support::random_signal;

// Skips the calling test when this processor cannot run `path`.
#define SKIP_UNLESS_HOST_RUNS(path)                                              \
  do {                                                                           \
    if (!host_runs(path)) {                                                      \
      GTEST_SKIP() << "this processor (or its OS) cannot run the "               \
                   << path_name(path) << " kernels";                             \
    }                                                                            \
  } while (false)

// Db(L/2) rounded to single precision.
std::vector<float> daubechies_floats(std::uint64_t taps) {
  const auto table = scaling_filter(static_cast<DaubechiesFamily>(taps / 2 - 1));
  return std::vector<float>(table.begin(), table.end());
}

// ---- each wide kernel against the portable bank ----------------------------

#if TESSARY_HAVE_X86_KERNELS
struct Kernel {
  std::string name;
  KernelPath path;
  std::uint64_t taps;
  bool generic;  // the path's generic kernel rather than a fixed-length one
};

void PrintTo(const Kernel& kernel, std::ostream* os) { *os << kernel.name; }

// The shortest even tap count without a fixed-length bank.
std::uint64_t shortest_generic_taps() {
  const std::vector<std::uint64_t> fixed = fixed_tap_counts();
  std::uint64_t taps = 2;
  while (std::find(fixed.begin(), fixed.end(), taps) != fixed.end()) taps += 2;
  return taps;
}

// Every fixed-length kernel of both paths, and the generic ones at a length
// no fixed kernel has, at the longest family member and, on SSE, at sixteen
// taps, which its fixed kernels stop short of.
std::vector<Kernel> all_kernels() {
  std::vector<Kernel> kernels;
  for (const KernelPath path : {KernelPath::Avx, KernelPath::Sse}) {
    const std::uint64_t longest = path == KernelPath::Sse ? sse::kLongestFixedTaps : 16;
    for (const std::uint64_t taps : fixed_tap_counts()) {
      const bool generic = taps > longest;
      kernels.push_back({path_name(path) + (generic ? "Generic" : "Fixed") + std::to_string(taps),
                         path, taps, generic});
    }
    for (const std::uint64_t taps : {shortest_generic_taps(), std::uint64_t{48}}) {
      kernels.push_back({path_name(path) + "Generic" + std::to_string(taps), path, taps, true});
    }
  }
  return kernels;
}

// The kernel, built through the factory of its path and checked to be the
// member the case names.
IncompleteDwtExecutorHandle<float> build(const Kernel& kernel, BorderMode mode,
                                         std::span<const float> h) {
  auto bank = make_filter_bank_f32(kernel.path, mode, h);
  EXPECT_TRUE(bank.ok());
  if (!bank.ok()) return nullptr;
  EXPECT_EQ(dynamic_cast<const NTapsBank*>(bank.value().get()) != nullptr, kernel.generic)
      << kernel.name;
  return std::move(bank).value();
}

IncompleteDwtExecutorHandle<float> portable_bank(std::uint64_t taps, BorderMode mode) {
  return make_filter_bank_f32(KernelPath::Portable, mode, daubechies_floats(taps)).value();
}

// Either sum may be off by about L roundings of the largest partial sum,
// which is bounded by the sum of the magnitudes of its terms.
double allowed_difference(double magnitude, std::uint64_t taps) {
  return static_cast<double>(2 * taps + 8) * std::ldexp(magnitude, -24) + 1e-37;
}

// Sum of |c_j| |ext(2i + j - (L-2))| for output i, by the engine's border rule.
std::vector<double> forward_magnitudes(const std::vector<float>& x, std::span<const float> c,
                                       BorderMode mode) {
  const auto n = static_cast<std::int64_t>(x.size());
  const auto taps = static_cast<std::int64_t>(c.size());
  const BorderInterpolation border = BorderInterpolation::create(mode, 0, n);
  std::vector<double> sums(static_cast<std::size_t>((n + taps - 1) / 2));
  for (std::size_t i = 0; i < sums.size(); ++i) {
    for (std::int64_t j = 0; j < taps; ++j) {
      const std::int64_t s = 2 * static_cast<std::int64_t>(i) + j - (taps - 2);
      sums[i] += std::fabs(c[static_cast<std::size_t>(j)] * border.sample(x.data(), s));
    }
  }
  return sums;
}

// |out[p]| plus the magnitudes of every synthesis term landing on p.
std::vector<double> inverse_magnitudes(const std::vector<float>& out,
                                       const std::vector<float>& a, const std::vector<float>& d,
                                       std::span<const float> h, std::span<const float> g) {
  std::vector<double> sums(out.begin(), out.end());
  for (double& s : sums) s = std::fabs(s);
  const auto taps = static_cast<std::int64_t>(h.size());
  for (std::size_t j = 0; j < a.size(); ++j) {
    for (std::int64_t k = 0; k < taps; ++k) {
      const std::int64_t p = 2 * static_cast<std::int64_t>(j) + k - (taps - 2);
      if (p < 0 || p >= static_cast<std::int64_t>(out.size())) continue;
      const auto kk = static_cast<std::size_t>(k);
      sums[static_cast<std::size_t>(p)] += std::fabs(h[kk] * a[j]) + std::fabs(g[kk] * d[j]);
    }
  }
  return sums;
}

// Index of the first element outside the allowed difference, or the size.
std::size_t first_disagreement(const std::vector<float>& got, const std::vector<float>& want,
                               const std::vector<double>& magnitudes, std::uint64_t taps) {
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (!(std::fabs(double{got[i]} - double{want[i]}) <= allowed_difference(magnitudes[i], taps))) {
      return i;
    }
  }
  return got.size();
}

class BankKernelAgreement : public ::testing::TestWithParam<std::tuple<Kernel, BorderMode>> {};

// Lengths L .. L + 40 cover the shortest inputs (one body output between head
// and tail at n = L, the longer odd tail at n = L + 1) and every remainder of
// the vector steps; the long signal runs the steps themselves. The inverse
// adds into an output that already holds values.
TEST_P(BankKernelAgreement, ForwardAndInverseMatchThePortableBank) {
  const auto& [kernel, mode] = GetParam();
  SKIP_UNLESS_HOST_RUNS(kernel.path);
  const std::uint64_t taps = kernel.taps;
  const std::vector<float> h = daubechies_floats(taps);
  std::vector<float> g(taps);
  low_pass_to_high_into(h, g);
  const auto wide = build(kernel, mode, h);
  const auto portable = portable_bank(taps, mode);
  ASSERT_EQ(wide->filter_length(), taps);

  std::vector<std::uint64_t> lengths;
  for (std::uint64_t n = taps; n <= taps + 40; ++n) lengths.push_back(n);
  lengths.push_back(100003);
  for (const std::uint64_t n : lengths) {
    const std::vector<float> x = random_signal(n, static_cast<std::uint32_t>(n * 7 + taps));
    const BandSizes sizes = portable->dwt_size(n);
    ASSERT_EQ(wide->dwt_size(n), sizes);
    std::vector<float> a(sizes.approximation), d(sizes.details);
    std::vector<float> want_a(sizes.approximation), want_d(sizes.details);
    ASSERT_TRUE(wide->execute_forward(x, a, d).ok());
    ASSERT_TRUE(portable->execute_forward(x, want_a, want_d).ok());
    const std::size_t bad_a = first_disagreement(a, want_a, forward_magnitudes(x, h, mode), taps);
    ASSERT_EQ(bad_a, a.size()) << "approximation " << bad_a << ", n=" << n << ": "
                               << a[bad_a] << " vs " << want_a[bad_a];
    const std::size_t bad_d = first_disagreement(d, want_d, forward_magnitudes(x, g, mode), taps);
    ASSERT_EQ(bad_d, d.size()) << "details " << bad_d << ", n=" << n << ": " << d[bad_d]
                               << " vs " << want_d[bad_d];

    const std::uint64_t out_length = portable->idwt_size(a.size(), d.size());
    ASSERT_EQ(wide->idwt_size(a.size(), d.size()), out_length);
    const std::vector<float> before = random_signal(out_length, static_cast<std::uint32_t>(n));
    std::vector<float> y = before, want_y = before;
    ASSERT_TRUE(wide->execute_inverse(want_a, want_d, y).ok());
    ASSERT_TRUE(portable->execute_inverse(want_a, want_d, want_y).ok());
    const std::size_t bad_y =
        first_disagreement(y, want_y, inverse_magnitudes(before, want_a, want_d, h, g), taps);
    ASSERT_EQ(bad_y, y.size()) << "inverse " << bad_y << ", n=" << n << ": " << y[bad_y]
                               << " vs " << want_y[bad_y];
  }
}

// The padded coefficient lanes are zero; a kernel that loaded samples past a
// window into them would turn an infinite neighbour into NaN. Each output
// must become non-finite exactly where the portable one does.
TEST_P(BankKernelAgreement, NonFiniteSamplesReachTheSameOutputs) {
  const auto& [kernel, mode] = GetParam();
  SKIP_UNLESS_HOST_RUNS(kernel.path);
  const std::uint64_t taps = kernel.taps;
  const auto wide = build(kernel, mode, daubechies_floats(taps));
  const auto portable = portable_bank(taps, mode);
  for (const std::uint64_t n : {taps, taps + 1, 2 * taps + 9}) {
    for (const std::uint64_t at : {std::uint64_t{0}, std::uint64_t{1}, n / 2, n - 2, n - 1}) {
      std::vector<float> x = random_signal(n, static_cast<std::uint32_t>(n + at));
      x[at] = std::numeric_limits<float>::infinity();
      const BandSizes sizes = portable->dwt_size(n);
      std::vector<float> a(sizes.approximation), d(sizes.details);
      std::vector<float> want_a(sizes.approximation), want_d(sizes.details);
      ASSERT_TRUE(wide->execute_forward(x, a, d).ok());
      ASSERT_TRUE(portable->execute_forward(x, want_a, want_d).ok());
      for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(std::isfinite(a[i]), std::isfinite(want_a[i])) << "n=" << n << " at=" << at << " i=" << i;
        EXPECT_EQ(std::isfinite(d[i]), std::isfinite(want_d[i])) << "n=" << n << " at=" << at << " i=" << i;
      }
    }
  }
}

// With the periodic border, the windows of outputs i and i + s (mod n/2)
// hold the same samples after the signal is rotated by 2s, so they must give
// the same bits wherever the kernel computes them: in a vector step, in the
// single outputs after the last step, or at the edges.
class PeriodicWindows : public ::testing::TestWithParam<Kernel> {};

TEST_P(PeriodicWindows, SameWindowSameBitsWhereverComputed) {
  const Kernel& kernel = GetParam();
  constexpr BorderMode mode = BorderMode::Wrap;
  SKIP_UNLESS_HOST_RUNS(kernel.path);
  const std::uint64_t taps = kernel.taps;
  const auto bank = build(kernel, mode, daubechies_floats(taps));
  for (const std::uint64_t n : {2 * taps + 2, 2 * taps + 38, std::uint64_t{202}}) {
    const std::vector<float> x = random_signal(n, static_cast<std::uint32_t>(n + taps));
    const BandSizes sizes = bank->dwt_size(n);
    std::vector<float> a(sizes.approximation), d(sizes.details);
    ASSERT_TRUE(bank->execute_forward(x, a, d).ok());
    for (std::uint64_t shift = 1; shift < n / 2; ++shift) {
      std::vector<float> rotated(n);
      for (std::uint64_t k = 0; k < n; ++k) rotated[k] = x[(k + 2 * shift) % n];
      std::vector<float> ra(sizes.approximation), rd(sizes.details);
      ASSERT_TRUE(bank->execute_forward(rotated, ra, rd).ok());
      for (std::uint64_t i = 0; i < ra.size(); ++i) {
        const std::uint64_t same = (i + shift) % (n / 2);
        ASSERT_EQ(0, std::memcmp(&ra[i], &a[same], sizeof(float)))
            << "n=" << n << " shift=" << shift << " output " << i << " vs " << same << ": "
            << ra[i] << " vs " << a[same];
        ASSERT_EQ(0, std::memcmp(&rd[i], &d[same], sizeof(float)))
            << "details, n=" << n << " shift=" << shift << " output " << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kernels, PeriodicWindows, ::testing::ValuesIn(all_kernels()),
                         [](const auto& p) { return p.param.name; });

INSTANTIATE_TEST_SUITE_P(Kernels, BankKernelAgreement,
                         ::testing::Combine(::testing::ValuesIn(all_kernels()),
                                            ::testing::ValuesIn(kAllModes)),
                         [](const auto& p) {
                           return std::get<0>(p.param).name + "_" +
                                  mode_name(std::get<1>(p.param));
                         });

class KernelChecks : public ::testing::TestWithParam<Kernel> {};

std::vector<std::uint64_t> around(std::uint64_t v) {
  std::vector<std::uint64_t> values = {v, v + 1};
  if (v > 0) values.push_back(v - 1);
  return values;
}

// Every check, its order and its payload as the portable bank has them, and
// no band or output written by a failed call (the kernels only check; this
// runs them too, so it needs the instruction set).
TEST_P(KernelChecks, SameErrorsAsThePortableBankAndNothingWritten) {
  const Kernel& kernel = GetParam();
  SKIP_UNLESS_HOST_RUNS(kernel.path);
  const std::uint64_t taps = kernel.taps;
  const auto wide = build(kernel, BorderMode::Wrap, daubechies_floats(taps));
  const auto portable = portable_bank(taps, BorderMode::Wrap);
  constexpr float kUntouched = 42.0f;
  int failures = 0;
  for (const std::uint64_t n : {std::uint64_t{0}, std::uint64_t{1}, taps - 1, taps, taps + 1}) {
    const std::vector<float> x = random_signal(n, 3);
    for (const std::uint64_t la : around((n + taps - 1) / 2)) {
      for (const std::uint64_t ld : around((n + taps - 1) / 2)) {
        std::vector<float> a(la, kUntouched), d(ld, kUntouched), pa = a, pd = d;
        const TResult<> got = wide->execute_forward(x, a, d);
        const TResult<> want = portable->execute_forward(x, pa, pd);
        ASSERT_EQ(got.ok(), want.ok()) << "n=" << n << " a=" << la << " d=" << ld;
        if (got.ok()) continue;
        ++failures;
        EXPECT_EQ(got.error(), want.error()) << render(got.error());
        EXPECT_EQ(a, std::vector<float>(la, kUntouched));
        EXPECT_EQ(d, std::vector<float>(ld, kUntouched));
      }
    }
  }
  const std::uint64_t half = taps / 2;
  for (const std::uint64_t m : {std::uint64_t{0}, std::uint64_t{1}, half - 1, half, half + 1, taps + 3}) {
    const std::vector<float> a = random_signal(m, 4);
    // Machine-word arithmetic, as idwt_size: short bands wrap to huge lengths.
    const std::uint64_t expected = 2 * m - taps + 2;
    for (const std::uint64_t ld : {m, m + 1}) {
      const std::vector<float> d = random_signal(ld, 5);
      for (const std::uint64_t lo : {std::uint64_t{0}, expected - 1, expected, expected + 1}) {
        if (lo > 1000) continue;
        std::vector<float> out(lo, kUntouched), pout = out;
        const TResult<> got = wide->execute_inverse(a, d, out);
        const TResult<> want = portable->execute_inverse(a, d, pout);
        ASSERT_EQ(got.ok(), want.ok()) << "m=" << m << " d=" << ld << " out=" << lo;
        if (got.ok()) continue;
        ++failures;
        EXPECT_EQ(got.error(), want.error()) << render(got.error());
        EXPECT_EQ(out, std::vector<float>(lo, kUntouched));
      }
    }
  }
  EXPECT_GT(failures, 20);
}

INSTANTIATE_TEST_SUITE_P(Kernels, KernelChecks, ::testing::ValuesIn(all_kernels()),
                         [](const auto& p) { return p.param.name; });

// The SSE path has no sixteen-tap kernel: its factory builds the generic one,
// which needs the arena as scratch where the fixed-length banks need none.
TEST(SseSixteenTaps, IsTheGenericKernelWithItsScratch) {
  SKIP_UNLESS_HOST_RUNS(KernelPath::Sse);
  const auto table = scaling_filter(DaubechiesFamily::Db8);
  const auto bank = make_filter_bank_f32(KernelPath::Sse, BorderMode::Wrap, table).value();
  ASSERT_NE(dynamic_cast<const sse::SseWaveletNTapsF32*>(bank.get()), nullptr);
  // n = 17: E = 17 + 15 = 32, arena 14 + 17 + 15 = 16 + 32 - 2 = 46.
  EXPECT_EQ(bank->required_scratch_size(17), 46u);
  EXPECT_EQ(portable_bank(16, BorderMode::Wrap)->required_scratch_size(17), 0u);
  EXPECT_EQ(make_filter_bank_f32(KernelPath::Avx, BorderMode::Wrap, table)
                .value()
                ->required_scratch_size(17),
            0u);

  const std::vector<float> x = random_signal(17, 9);
  std::vector<float> a(16, 42.0f), d(16, 42.0f);
  std::vector<float> short_scratch(45, 42.0f);
  const TResult<> s = bank->execute_forward_with_scratch(x, a, d, short_scratch);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error(), make_error(TessaryErrorKind::ScratchSizeMismatch, 46, 45));
  EXPECT_EQ(a, std::vector<float>(16, 42.0f));
  EXPECT_EQ(short_scratch, std::vector<float>(45, 42.0f));

  std::vector<float> scratch(46);
  ASSERT_TRUE(bank->execute_forward_with_scratch(x, a, d, scratch).ok());
  std::vector<float> a2(16), d2(16);
  ASSERT_TRUE(bank->execute_forward(x, a2, d2).ok());  // with a temporary arena
  EXPECT_EQ(a, a2);
  EXPECT_EQ(d, d2);
}

#endif  // TESSARY_HAVE_X86_KERNELS

// The codec's two wavelets (8 taps, periodic border) through each processor
// path, as the compressor and decompressor use them: every level's bands
// agree with the portable ones within rounding, and each path reconstructs
// the signal equally well.
class CodecWavelets : public ::testing::TestWithParam<bool> {};

DwtExecutorHandle<float> codec_executor(bool symlet, CpuFeatures features) {
  return symlet ? Tessary::make_symlet_f32(features, SymletFamily::Sym4, BorderMode::Wrap).value()
                : Tessary::make_daubechies_f32(features, DaubechiesFamily::Db4, BorderMode::Wrap)
                      .value();
}

MultiDwtRef<float> pyramid(const MultiDwt<float>& m) {
  MultiDwtRef<float> r;
  for (const Dwt<float>& level : m.levels) r.details.emplace_back(level.details);
  r.approximation = m.levels.back().approximations;
  return r;
}

float max_difference(std::span<const float> a, std::span<const float> b) {
  float worst = 0.0f;
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    worst = std::max(worst, std::fabs(a[i] - b[i]));
  }
  return worst;
}

TEST_P(CodecWavelets, DecodeAlikeOnEveryPath) {
  const bool symlet = GetParam();
  constexpr std::uint64_t kLevels = 8;
  const std::vector<float> x = random_signal(20011, 11);
  const auto portable = codec_executor(symlet, 0);
  auto want = portable->multi_dwt(x, kLevels);
  ASSERT_TRUE(want.ok());
  auto want_y = portable->multi_idwt(pyramid(want.value()));
  ASSERT_TRUE(want_y.ok());
  const CpuFeatures host = cpu_features();
  const struct {
    const char* name;
    CpuFeatures word;
  } paths[] = {{"Sse", kCpuSse41 | kCpuSse42}, {"Avx", kCpuAvx2 | kCpuFma}};
  int ran = 0;
  for (const auto& path : paths) {
    if ((host & path.word) != path.word) continue;
    ++ran;
    const auto e = codec_executor(symlet, path.word);
    ASSERT_EQ(e->filter_length(), 8u);
    auto got = e->multi_dwt(x, kLevels);
    ASSERT_TRUE(got.ok());
    ASSERT_EQ(got.value().levels.size(), kLevels);
    // Bands grow by up to sqrt(2) per level, and so does their rounding.
    for (std::size_t k = 0; k < kLevels; ++k) {
      const auto& g = got.value().levels[k];
      const auto& w = want.value().levels[k];
      const float tolerance = 4e-7f * std::pow(2.0f, static_cast<float>(k + 1));
      EXPECT_LE(max_difference(g.approximations, w.approximations), tolerance) << path.name << k;
      EXPECT_LE(max_difference(g.details, w.details), tolerance) << path.name << k;
    }
    auto y = e->multi_idwt(pyramid(got.value()));
    ASSERT_TRUE(y.ok());
    ASSERT_EQ(y.value().size(), want_y.value().size());
    const std::vector<float> signal_part(y.value().begin(), y.value().begin() + x.size());
    EXPECT_LE(max_difference(signal_part, x), 4e-6f) << path.name;
    EXPECT_LE(max_difference(y.value(), want_y.value()), 4e-6f) << path.name;
  }
  if (ran == 0) GTEST_SKIP() << "this processor runs neither the SSE nor the AVX kernels";
}

INSTANTIATE_TEST_SUITE_P(Wavelets, CodecWavelets, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "Sym4" : "Db4"; });

// The multi-level inverse has the fixed-length banks write each level over
// an output it does not clear. That must leave exactly the bits the public
// add-into operation leaves in a zero-filled output (including the sign of
// zero sums), whatever the output held, with the same checks. Every fixed
// bank of every path offers it; the generic banks do not need to.
class OverwritingSynthesisBits
    : public ::testing::TestWithParam<std::tuple<KernelPath, std::uint64_t>> {};

std::vector<float> negative_zeros_and_noise(std::uint64_t n, std::uint32_t seed) {
  std::vector<float> v = random_signal(n, seed);
  for (std::size_t i = 0; i < v.size(); i += 3) v[i] = -0.0f;
  return v;
}

TEST_P(OverwritingSynthesisBits, EqualsAddingIntoZeroes) {
  const auto& [path, taps] = GetParam();
  SKIP_UNLESS_HOST_RUNS(path);
  const auto bank = make_filter_bank_f32(path, BorderMode::Wrap, daubechies_floats(taps)).value();
  const auto* overwriting = dynamic_cast<const OverwritingSynthesis*>(bank.get());
#if TESSARY_HAVE_X86_KERNELS
  if (path == KernelPath::Sse && taps > sse::kLongestFixedTaps) {
    GTEST_SKIP() << "SSE runs " << taps << " taps in the generic kernel";
  }
#endif
  ASSERT_NE(overwriting, nullptr);
  std::vector<std::uint64_t> band_lengths;
  for (std::uint64_t m = taps / 2; m <= taps / 2 + 40; ++m) band_lengths.push_back(m);
  band_lengths.push_back(50001);
  for (const std::uint64_t m : band_lengths) {
    const auto seed = static_cast<std::uint32_t>(m * 3 + taps);
    // All-negative-zero bands make every sum -0; the add into +0 turns it to +0.
    for (const bool zeros : {false, true}) {
      std::vector<float> a = negative_zeros_and_noise(m, seed);
      std::vector<float> d = negative_zeros_and_noise(m, seed + 1);
      if (zeros) std::fill(a.begin(), a.end(), -0.0f), std::fill(d.begin(), d.end(), -0.0f);
      const std::uint64_t length = bank->idwt_size(m, m);
      std::vector<float> want(length, 0.0f);
      std::vector<float> got(length, std::numeric_limits<float>::quiet_NaN());
      ASSERT_TRUE(bank->execute_inverse(a, d, want).ok());
      ASSERT_TRUE(overwriting->execute_inverse_overwriting(a, d, got).ok());
      ASSERT_EQ(0, std::memcmp(got.data(), want.data(), length * sizeof(float)))
          << "m=" << m << " zeros=" << zeros;
    }
  }
  // Same checks; a failed call writes nothing.
  std::vector<float> a(20), d(19), out(bank->idwt_size(20, 20), 5.0f);
  const auto add_into = bank->execute_inverse(a, d, out);
  const auto over = overwriting->execute_inverse_overwriting(a, d, out);
  ASSERT_FALSE(over.ok());
  EXPECT_EQ(render(over.error()), render(add_into.error()));
  d.resize(20);
  out.push_back(5.0f);
  const auto long_add_into = bank->execute_inverse(a, d, out);
  const auto long_over = overwriting->execute_inverse_overwriting(a, d, out);
  ASSERT_FALSE(long_over.ok());
  EXPECT_EQ(render(long_over.error()), render(long_add_into.error()));
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](float v) { return v == 5.0f; }));
}

INSTANTIATE_TEST_SUITE_P(
    FixedBanks, OverwritingSynthesisBits,
    ::testing::Combine(::testing::ValuesIn(testing_support::kAllPaths),
                       ::testing::ValuesIn(fixed_tap_counts())),
    [](const auto& p) {
      return path_name(std::get<0>(p.param)) + std::to_string(std::get<1>(p.param));
    });

}  // namespace
}  // namespace tessary
