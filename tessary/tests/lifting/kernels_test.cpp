// The AVX lifting kernels against their portable twins, and both against a
// step-by-step reference that rounds exactly as each must: the portable code
// rounds sum, product and final sum separately, the AVX code rounds the sum
// and then one fused multiply-add. A compiler contracting the portable code,
// or a kernel losing its fusion, fails here.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "lifting_executors.h"

namespace tessary {
namespace {

using testing::LiftingCase;
using testing::Wavelet;

std::vector<float> random_signal(std::uint64_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> x(n);
  for (float& v : x) v = dist(rng);
  return x;
}

// ---- reference ------------------------------------------------------------

struct Rounding {
  bool fused;
  // (left + right) * weight + target with the rounding under test.
  float operator()(float left, float right, float weight, float target) const {
    volatile float sum = left + right;
    if (fused) return std::fma(sum, weight, target);
    volatile float product = sum * weight;
    volatile float result = product + target;
    return result;
  }
};

struct Bands {
  std::vector<float> s, d;
};

void ref_update(const Rounding& lift, std::vector<float>& s, const std::vector<float>& d, float w) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const float left = d[i == 0 ? 0 : i - 1];
    const float right = d[i < d.size() ? i : d.size() - 1];
    s[i] = lift(left, right, w, s[i]);
  }
}

void ref_predict(const Rounding& lift, const std::vector<float>& s, std::vector<float>& d,
                 float w) {
  for (std::size_t i = 0; i < d.size(); ++i) {
    d[i] = lift(s[i], s[i + 1 < s.size() ? i + 1 : i], w, d[i]);
  }
}

Bands ref_forward(Wavelet w, const Rounding& lift, const std::vector<float>& x) {
  Bands b;
  for (std::size_t i = 0; i < x.size(); ++i) (i % 2 == 0 ? b.s : b.d).push_back(x[i]);
  if (w == Wavelet::Cdf53) {
    ref_predict(lift, b.s, b.d, kCdf53Predict);
    ref_update(lift, b.s, b.d, kCdf53Update);
    return b;
  }
  ref_predict(lift, b.s, b.d, kCdf97Alpha);
  ref_update(lift, b.s, b.d, kCdf97Beta);
  ref_predict(lift, b.s, b.d, kCdf97Gamma);
  ref_update(lift, b.s, b.d, kCdf97Delta);
  for (float& v : b.s) v = v * kCdf97K;
  for (float& v : b.d) v = v * kCdf97InvK;
  return b;
}

std::vector<float> ref_inverse(Wavelet w, const Rounding& lift, Bands b) {
  if (w == Wavelet::Cdf53) {
    ref_update(lift, b.s, b.d, -kCdf53Update);
    ref_predict(lift, b.s, b.d, -kCdf53Predict);
  } else {
    for (float& v : b.s) v = v * kCdf97InvK;
    for (float& v : b.d) v = v * kCdf97K;
    ref_update(lift, b.s, b.d, -kCdf97Delta);
    ref_predict(lift, b.s, b.d, -kCdf97Gamma);
    ref_update(lift, b.s, b.d, -kCdf97Beta);
    ref_predict(lift, b.s, b.d, -kCdf97Alpha);
  }
  std::vector<float> y;
  for (std::size_t i = 0; i < b.s.size(); ++i) {
    y.push_back(b.s[i]);
    if (i < b.d.size()) y.push_back(b.d[i]);
  }
  return y;
}

// Compares bit patterns (so that -0 and 0 differ, and NaN equals itself).
::testing::AssertionResult same_bits(const std::vector<float>& got,
                                     const std::vector<float>& want) {
  if (got.size() != want.size()) return ::testing::AssertionFailure() << "length differs";
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (std::signbit(got[i]) != std::signbit(want[i]) ||
        !(got[i] == want[i] || (std::isnan(got[i]) && std::isnan(want[i])))) {
      return ::testing::AssertionFailure()
             << "index " << i << ": " << got[i] << " vs " << want[i];
    }
  }
  return ::testing::AssertionSuccess();
}

// CDF 5/3 weights are powers of two, so fusion shows only when a product
// drops below the smallest normal float. With u the smallest subnormal,
// evens alternating +u, -u and odds u, every detail is u and every update
// computes 2u * 0.25 + (+-u): unfused 0.5u rounds to 0 first and gives +-u,
// fused gives 1.5u -> 2u or -0.5u -> -0.
std::vector<float> subnormal_pattern(std::uint64_t n) {
  const float u = std::numeric_limits<float>::denorm_min();
  std::vector<float> x(n);
  for (std::uint64_t i = 0; i < n; ++i) x[i] = (i % 2 == 1) ? u : ((i / 2) % 2 == 0 ? u : -u);
  return x;
}

std::vector<float> probe_signal(Wavelet w, std::uint64_t n) {
  return w == Wavelet::Cdf53 ? subnormal_pattern(n) : random_signal(n, static_cast<std::uint32_t>(n));
}

// Lengths around the vector blocks (8 and 16 positions wide) and their
// scalar borders, both parities, plus one long signal.
std::vector<std::uint64_t> probe_lengths(const LiftingCase& c) {
  std::vector<std::uint64_t> lengths;
  for (std::uint64_t n = c.shortest(); n <= 80; ++n) lengths.push_back(n);
  lengths.push_back(1001);
  return lengths;
}

class LiftingRounding : public ::testing::TestWithParam<LiftingCase> {
 protected:
  void SetUp() override { TESSARY_SKIP_WITHOUT_AVX(GetParam()); }
};

TEST_P(LiftingRounding, ForwardMatchesReferenceBitForBit) {
  const LiftingCase& c = GetParam();
  const Rounding mine{c.avx};
  const Rounding other{!c.avx};
  std::uint64_t differing = 0;
  for (std::uint64_t n : probe_lengths(c)) {
    SCOPED_TRACE(n);
    const std::vector<float> x = probe_signal(c.wavelet, n);
    std::vector<float> s(n - n / 2), d(n / 2);
    ASSERT_TRUE(c.executor->execute_forward(x, s, d).ok());
    const Bands want = ref_forward(c.wavelet, mine, x);
    EXPECT_TRUE(same_bits(s, want.s));
    EXPECT_TRUE(same_bits(d, want.d));
    const Bands other_bands = ref_forward(c.wavelet, other, x);
    differing += !same_bits(other_bands.s, want.s) || !same_bits(other_bands.d, want.d);
  }
  // The probes must tell fused from unfused, or this test proves nothing.
  EXPECT_GT(differing, 0u);
}

TEST_P(LiftingRounding, InverseMatchesReferenceBitForBit) {
  const LiftingCase& c = GetParam();
  const Rounding mine{c.avx};
  const Rounding other{!c.avx};
  std::uint64_t differing = 0;
  for (std::uint64_t n : probe_lengths(c)) {
    SCOPED_TRACE(n);
    const std::vector<float> x = probe_signal(c.wavelet, n);
    Bands b;
    for (std::size_t i = 0; i < x.size(); ++i) (i % 2 == 0 ? b.s : b.d).push_back(x[i]);
    std::vector<float> y(n);
    ASSERT_TRUE(c.executor->execute_inverse(b.s, b.d, y).ok());
    const std::vector<float> want = ref_inverse(c.wavelet, mine, b);
    EXPECT_TRUE(same_bits(y, want));
    differing += !same_bits(ref_inverse(c.wavelet, other, b), want);
  }
  EXPECT_GT(differing, 0u);
}

INSTANTIATE_TEST_SUITE_P(Executors, LiftingRounding, ::testing::ValuesIn(testing::all_cases()),
                         testing::case_name);

// ---- AVX against portable -------------------------------------------------

#if TESSARY_HAVE_X86_KERNELS

class LiftingKernelAgreement : public ::testing::TestWithParam<Wavelet> {
 protected:
  void SetUp() override {
    if (!testing::host_runs_avx_lifting()) {
      GTEST_SKIP() << "this processor (or its OS) lacks AVX2 with FMA; "
                      "the AVX lifting kernels cannot run here";
    }
  }
  // Within float rounding of values of magnitude <= ~4.
  static void expect_close(const std::vector<float>& got, const std::vector<float>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_NEAR(got[i], want[i], 4e-6f) << i;
  }
};

TEST_P(LiftingKernelAgreement, ForwardAndInverseEveryLength) {
  const auto portable = testing::portable_case(GetParam()).executor;
  const auto avx = testing::avx_case(GetParam()).executor;
  std::vector<std::uint64_t> lengths;
  for (std::uint64_t n = testing::portable_case(GetParam()).shortest(); n <= 300; ++n) {
    lengths.push_back(n);
  }
  lengths.push_back(1 << 20);
  lengths.push_back(333333);
  for (std::uint64_t n : lengths) {
    SCOPED_TRACE(n);
    const std::vector<float> x = random_signal(n, static_cast<std::uint32_t>(n) + 11);
    std::vector<float> ps(n - n / 2), pd(n / 2), as(n - n / 2), ad(n / 2);
    ASSERT_TRUE(portable->execute_forward(x, ps, pd).ok());
    ASSERT_TRUE(avx->execute_forward(x, as, ad).ok());
    expect_close(as, ps);
    expect_close(ad, pd);
    // Inverse of the same (portable) bands by both.
    std::vector<float> py(n), ay(n);
    ASSERT_TRUE(portable->execute_inverse(ps, pd, py).ok());
    ASSERT_TRUE(avx->execute_inverse(ps, pd, ay).ok());
    expect_close(ay, py);
  }
}

INSTANTIATE_TEST_SUITE_P(Wavelets, LiftingKernelAgreement,
                         ::testing::Values(Wavelet::Cdf53, Wavelet::Cdf97),
                         [](const auto& param_info) {
                           return param_info.param == Wavelet::Cdf53 ? "Cdf53" : "Cdf97";
                         });
#endif

}  // namespace
}  // namespace tessary
