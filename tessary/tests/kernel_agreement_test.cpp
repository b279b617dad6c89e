// Each SSE and AVX filter-bank kernel, built directly, against the portable
// bank with the same coefficients: the same sizes, checks and errors, and
// bands that agree to within the rounding of the sums (the kernels associate
// the sums differently and the AVX ones fuse multiplies and adds).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "avx/wavelet10taps.h"
#include "avx/wavelet12taps.h"
#include "avx/wavelet16taps.h"
#include "avx/wavelet2taps.h"
#include "avx/wavelet4taps.h"
#include "avx/wavelet6taps.h"
#include "avx/wavelet8taps.h"
#include "avx/wavelet_n_taps.h"
#include "completed.h"
#include "dwt_factory.h"
#include "engine_test_support.h"
#include "factory.h"
#include "sse/wavelet10taps.h"
#include "sse/wavelet12taps.h"
#include "sse/wavelet2taps.h"
#include "sse/wavelet4taps.h"
#include "sse/wavelet6taps.h"
#include "sse/wavelet8taps.h"
#include "sse/wavelet_n_taps.h"
#include "wavelet_families.h"
#include "wavelet_tables.h"

namespace tessary {
namespace {

using testing_support::kAllModes;
using testing_support::mode_name;
using testing_support::random_signal;

using Builder = IncompleteDwtExecutorHandle<float> (*)(BorderMode, std::span<const float>);

template <class Bank, std::size_t L>
IncompleteDwtExecutorHandle<float> build_fixed(BorderMode mode, std::span<const float> h) {
  std::array<float, L> taps{};
  std::copy(h.begin(), h.end(), taps.begin());
  return std::make_shared<const Bank>(mode, taps);
}

template <class Bank>
IncompleteDwtExecutorHandle<float> build_generic(BorderMode mode, std::span<const float> h) {
  return make_n_taps_bank<Bank>(mode, h).value();
}

struct Kernel {
  const char* name;
  KernelPath path;
  std::uint64_t taps;
  Builder build;
};

void PrintTo(const Kernel& kernel, std::ostream* os) { *os << kernel.name; }

// Every kernel, and the generic ones at a length no fixed kernel has and at
// the longest family member.
const Kernel kKernels[] = {
    {"AvxWavelet2TapsF32", KernelPath::Avx, 2, build_fixed<avx::AvxWavelet2TapsF32, 2>},
    {"AvxWavelet4TapsF32", KernelPath::Avx, 4, build_fixed<avx::AvxWavelet4TapsF32, 4>},
    {"AvxWavelet6TapsF32", KernelPath::Avx, 6, build_fixed<avx::AvxWavelet6TapsF32, 6>},
    {"AvxWavelet8TapsF32", KernelPath::Avx, 8, build_fixed<avx::AvxWavelet8TapsF32, 8>},
    {"AvxWavelet10TapsF32", KernelPath::Avx, 10, build_fixed<avx::AvxWavelet10TapsF32, 10>},
    {"AvxWavelet12TapsF32", KernelPath::Avx, 12, build_fixed<avx::AvxWavelet12TapsF32, 12>},
    {"AvxWavelet16TapsF32", KernelPath::Avx, 16, build_fixed<avx::AvxWavelet16TapsF32, 16>},
    {"AvxWaveletNTapsF32_14", KernelPath::Avx, 14, build_generic<avx::AvxWaveletNTapsF32>},
    {"AvxWaveletNTapsF32_48", KernelPath::Avx, 48, build_generic<avx::AvxWaveletNTapsF32>},
    {"SseWavelet2TapsF32", KernelPath::Sse, 2, build_fixed<sse::SseWavelet2TapsF32, 2>},
    {"SseWavelet4TapsF32", KernelPath::Sse, 4, build_fixed<sse::SseWavelet4TapsF32, 4>},
    {"SseWavelet6TapsF32", KernelPath::Sse, 6, build_fixed<sse::SseWavelet6TapsF32, 6>},
    {"SseWavelet8TapsF32", KernelPath::Sse, 8, build_fixed<sse::SseWavelet8TapsF32, 8>},
    {"SseWavelet10TapsF32", KernelPath::Sse, 10, build_fixed<sse::SseWavelet10TapsF32, 10>},
    {"SseWavelet12TapsF32", KernelPath::Sse, 12, build_fixed<sse::SseWavelet12TapsF32, 12>},
    {"SseWaveletNTapsF32_14", KernelPath::Sse, 14, build_generic<sse::SseWaveletNTapsF32>},
    {"SseWaveletNTapsF32_16", KernelPath::Sse, 16, build_generic<sse::SseWaveletNTapsF32>},
    {"SseWaveletNTapsF32_48", KernelPath::Sse, 48, build_generic<sse::SseWaveletNTapsF32>},
};

// Skips the calling test when this processor cannot run `path`.
#define SKIP_UNLESS_HOST_RUNS(path)                                                  \
  do {                                                                               \
    const CpuFeatures f = cpu_features();                                            \
    if ((path) == KernelPath::Avx && !((f & kCpuAvx2) && (f & kCpuFma))) {           \
      GTEST_SKIP() << "this processor (or its OS) lacks AVX2 and FMA";               \
    }                                                                                \
    if ((path) == KernelPath::Sse && !(f & kCpuSse42)) {                             \
      GTEST_SKIP() << "this processor lacks SSE4.2";                                 \
    }                                                                                \
  } while (false)

// Db(L/2) rounded to single precision.
std::vector<float> daubechies_floats(std::uint64_t taps) {
  const auto table = daubechies_table(static_cast<DaubechiesFamily>(taps / 2 - 1));
  return std::vector<float>(table.begin(), table.end());
}

IncompleteDwtExecutorHandle<float> portable_bank(std::uint64_t taps, BorderMode mode) {
  return make_filter_bank(make_dwt_factory(KernelPath::Portable),
                          daubechies_table(static_cast<DaubechiesFamily>(taps / 2 - 1)), mode);
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
  const auto wide = kernel.build(mode, h);
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
  const auto wide = kernel.build(mode, daubechies_floats(taps));
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
  const auto bank = kernel.build(mode, daubechies_floats(taps));
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

INSTANTIATE_TEST_SUITE_P(Kernels, PeriodicWindows, ::testing::ValuesIn(kKernels),
                         [](const auto& p) { return std::string(p.param.name); });

INSTANTIATE_TEST_SUITE_P(Kernels, BankKernelAgreement,
                         ::testing::Combine(::testing::ValuesIn(kKernels),
                                            ::testing::ValuesIn(kAllModes)),
                         [](const auto& p) {
                           return std::string(std::get<0>(p.param).name) + "_" +
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
  const auto wide = kernel.build(BorderMode::Wrap, daubechies_floats(taps));
  const auto portable = portable_bank(taps, BorderMode::Wrap);
  constexpr float kUntouched = 42.0f;
  int failures = 0;
  for (const std::uint64_t n : {std::uint64_t{0}, std::uint64_t{1}, taps - 1, taps, taps + 1}) {
    const std::vector<float> x = random_signal(n, 3);
    for (const std::uint64_t la : around((n + taps - 1) / 2)) {
      for (const std::uint64_t ld : around((n + taps - 1) / 2)) {
        std::vector<float> a(la, kUntouched), d(ld, kUntouched), pa = a, pd = d;
        const Status got = wide->execute_forward(x, a, d);
        const Status want = portable->execute_forward(x, pa, pd);
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
        const Status got = wide->execute_inverse(a, d, out);
        const Status want = portable->execute_inverse(a, d, pout);
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

INSTANTIATE_TEST_SUITE_P(Kernels, KernelChecks, ::testing::ValuesIn(kKernels),
                         [](const auto& p) { return std::string(p.param.name); });

// The SSE path has no sixteen-tap kernel: its factory builds the generic one,
// which needs the arena as scratch where the fixed-length banks need none.
TEST(SseSixteenTaps, IsTheGenericKernelWithItsScratch) {
  SKIP_UNLESS_HOST_RUNS(KernelPath::Sse);
  const auto table = daubechies_table(DaubechiesFamily::Db8);
  const auto bank = make_filter_bank(make_dwt_factory(KernelPath::Sse), table, BorderMode::Wrap);
  ASSERT_NE(dynamic_cast<const sse::SseWaveletNTapsF32*>(bank.get()), nullptr);
  // n = 17: E = 17 + 15 = 32, arena 14 + 17 + 15 = 16 + 32 - 2 = 46.
  EXPECT_EQ(bank->required_scratch_size(17), 46u);
  EXPECT_EQ(portable_bank(16, BorderMode::Wrap)->required_scratch_size(17), 0u);
  EXPECT_EQ(make_filter_bank(make_dwt_factory(KernelPath::Avx), table, BorderMode::Wrap)
                ->required_scratch_size(17),
            0u);

  const std::vector<float> x = random_signal(17, 9);
  std::vector<float> a(16, 42.0f), d(16, 42.0f);
  std::vector<float> short_scratch(45, 42.0f);
  const Status s = bank->execute_forward_with_scratch(x, a, d, short_scratch);
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

// The codec's two wavelets (8 taps, periodic border) through each processor
// path, as the compressor and decompressor use them: every level's bands
// agree with the portable ones within rounding, and each path reconstructs
// the signal equally well.
class CodecWavelets : public ::testing::TestWithParam<bool> {};

DwtExecutorHandle<float> codec_executor(bool symlet, CpuFeatures features) {
  return symlet ? make_symlet_f32_for(features, SymletFamily::Sym4, BorderMode::Wrap)
                : make_daubechies_f32_for(features, DaubechiesFamily::Db4, BorderMode::Wrap);
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
  const auto bank = make_filter_bank(make_dwt_factory(path),
                                     daubechies_table(static_cast<DaubechiesFamily>(taps / 2 - 1)),
                                     BorderMode::Wrap);
  const auto* overwriting = dynamic_cast<const OverwritingSynthesis*>(bank.get());
  if (path == KernelPath::Sse && taps == 16) {
    GTEST_SKIP() << "SSE runs sixteen taps in the generic kernel";
  }
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
    ::testing::Combine(::testing::Values(KernelPath::Portable, KernelPath::Sse, KernelPath::Avx),
                       ::testing::Values<std::uint64_t>(2, 4, 6, 8, 10, 12, 16)),
    [](const auto& p) {
      const KernelPath path = std::get<0>(p.param);
      return std::string(path == KernelPath::Avx   ? "Avx"
                         : path == KernelPath::Sse ? "Sse"
                                                   : "Portable") +
             std::to_string(std::get<1>(p.param));
    });

}  // namespace
}  // namespace tessary
