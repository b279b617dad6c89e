#include "avx/wavelet_n_taps.h"

#include <immintrin.h>

#include "util.h"

namespace tessary::avx {
namespace {

TESSARY_TARGET_AVX2_FMA inline __m256i first_lanes(std::uint64_t count) {
  return _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int>(count)),
                            _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

// Lane sums of four approximation and four details registers:
// [a0 a1 a2 a3 | d0 d1 d2 d3], each ((p0 + p1) + (p2 + p3)) + ((p4 + p5) + (p6 + p7)).
TESSARY_TARGET_AVX2_FMA inline __m256 sum_four_pairs(__m256 a0, __m256 a1, __m256 a2, __m256 a3,
                                                     __m256 d0, __m256 d1, __m256 d2,
                                                     __m256 d3) {
  const __m256 a = _mm256_hadd_ps(_mm256_hadd_ps(a0, a1), _mm256_hadd_ps(a2, a3));
  const __m256 d = _mm256_hadd_ps(_mm256_hadd_ps(d0, d1), _mm256_hadd_ps(d2, d3));
  return _mm256_add_ps(_mm256_permute2f128_ps(a, d, 0x20), _mm256_permute2f128_ps(a, d, 0x31));
}

TESSARY_TARGET_AVX2_FMA inline float fused(float x, float y, float z) {
  return _mm_cvtss_f32(_mm_fmadd_ss(_mm_set_ss(x), _mm_set_ss(y), _mm_set_ss(z)));
}

// Output i reads arena[2i .. 2i + L): the taps go eight at a time into one
// accumulator per band and output, fused, and the last L mod 8 taps through
// a masked load (lanes past the window load nothing and stay exact zeros).
// Four outputs per step, then single outputs.
TESSARY_TARGET_AVX2_FMA void analysis(const float* h, const float* g, std::uint64_t taps,
                                      const float* arena, float* approximation, float* details,
                                      std::uint64_t m) {
  const std::uint64_t whole = taps / 8 * 8;
  const std::uint64_t rest = taps - whole;
  const __m256i mask = first_lanes(rest);
  const __m256 h_rest = _mm256_maskload_ps(h + whole, mask);
  const __m256 g_rest = _mm256_maskload_ps(g + whole, mask);
  std::uint64_t i = 0;
  for (; i + 4 <= m; i += 4) {
    const float* w = arena + 2 * i;
    __m256 a[4] = {_mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps(),
                   _mm256_setzero_ps()};
    __m256 d[4] = {a[0], a[0], a[0], a[0]};
    for (std::uint64_t j = 0; j < whole; j += 8) {
      const __m256 hv = _mm256_loadu_ps(h + j);
      const __m256 gv = _mm256_loadu_ps(g + j);
      for (int k = 0; k < 4; ++k) {
        const __m256 x = _mm256_loadu_ps(w + 2 * k + j);
        a[k] = _mm256_fmadd_ps(hv, x, a[k]);
        d[k] = _mm256_fmadd_ps(gv, x, d[k]);
      }
    }
    if (rest != 0) {
      for (int k = 0; k < 4; ++k) {
        const __m256 x = _mm256_maskload_ps(w + 2 * k + whole, mask);
        a[k] = _mm256_fmadd_ps(h_rest, x, a[k]);
        d[k] = _mm256_fmadd_ps(g_rest, x, d[k]);
      }
    }
    const __m256 s = sum_four_pairs(a[0], a[1], a[2], a[3], d[0], d[1], d[2], d[3]);
    _mm_storeu_ps(approximation + i, _mm256_castps256_ps128(s));
    _mm_storeu_ps(details + i, _mm256_extractf128_ps(s, 1));
  }
  for (; i < m; ++i) {
    const float* w = arena + 2 * i;
    __m256 a = _mm256_setzero_ps();
    __m256 d = _mm256_setzero_ps();
    for (std::uint64_t j = 0; j < whole; j += 8) {
      const __m256 x = _mm256_loadu_ps(w + j);
      a = _mm256_fmadd_ps(_mm256_loadu_ps(h + j), x, a);
      d = _mm256_fmadd_ps(_mm256_loadu_ps(g + j), x, d);
    }
    const __m256 x = _mm256_maskload_ps(w + whole, mask);
    a = _mm256_fmadd_ps(h_rest, x, a);
    d = _mm256_fmadd_ps(g_rest, x, d);
    // ((p0 + p4) + (p1 + p5)) + ((p2 + p6) + (p3 + p7)), both bands at once.
    const __m128 a4 = _mm_add_ps(_mm256_castps256_ps128(a), _mm256_extractf128_ps(a, 1));
    const __m128 d4 = _mm_add_ps(_mm256_castps256_ps128(d), _mm256_extractf128_ps(d, 1));
    const __m128 s2 = _mm_hadd_ps(a4, d4);
    const __m128 s = _mm_hadd_ps(s2, s2);
    approximation[i] = _mm_cvtss_f32(s);
    details[i] = _mm_cvtss_f32(_mm_movehdup_ps(s));
  }
}

// The synthesis gathered per output pair (see taps::overlap_add), eight
// pairs per step with the coefficients broadcast from memory.
TESSARY_TARGET_AVX2_FMA void synthesis(const float* h, const float* g, std::uint64_t taps,
                                       const float* a, const float* d, float* out,
                                       std::uint64_t pairs) {
  const std::uint64_t half = taps / 2;
  std::uint64_t q = 0;
  for (; q + 8 <= pairs; q += 8) {
    __m256 even = _mm256_setzero_ps();
    __m256 odd = _mm256_setzero_ps();
    for (std::uint64_t t = 0; t < half; ++t) {
      const std::uint64_t k = taps - 2 - 2 * t;
      const __m256 av = _mm256_loadu_ps(a + q + t);
      const __m256 dv = _mm256_loadu_ps(d + q + t);
      even = _mm256_fmadd_ps(_mm256_broadcast_ss(h + k), av,
                             _mm256_fmadd_ps(_mm256_broadcast_ss(g + k), dv, even));
      odd = _mm256_fmadd_ps(_mm256_broadcast_ss(h + k + 1), av,
                            _mm256_fmadd_ps(_mm256_broadcast_ss(g + k + 1), dv, odd));
    }
    const __m256 lo = _mm256_unpacklo_ps(even, odd);
    const __m256 hi = _mm256_unpackhi_ps(even, odd);
    float* o = out + 2 * q;
    _mm256_storeu_ps(o, _mm256_add_ps(_mm256_loadu_ps(o), _mm256_permute2f128_ps(lo, hi, 0x20)));
    _mm256_storeu_ps(o + 8,
                     _mm256_add_ps(_mm256_loadu_ps(o + 8), _mm256_permute2f128_ps(lo, hi, 0x31)));
  }
  for (; q < pairs; ++q) {
    float even = 0.0f;
    float odd = 0.0f;
    for (std::uint64_t t = 0; t < half; ++t) {
      const std::uint64_t k = taps - 2 - 2 * t;
      even = fused(h[k], a[q + t], fused(g[k], d[q + t], even));
      odd = fused(h[k + 1], a[q + t], fused(g[k + 1], d[q + t], odd));
    }
    out[2 * q] += even;
    out[2 * q + 1] += odd;
  }
}

}  // namespace

AvxWaveletNTapsF32::AvxWaveletNTapsF32(NTapsCoefficients coefficients)
    : NTapsBank(std::move(coefficients)) {}

TResult<std::shared_ptr<const AvxWaveletNTapsF32>> AvxWaveletNTapsF32::create(
    BorderMode mode, std::span<const float> low_pass) {
  return make_n_taps_bank<AvxWaveletNTapsF32>(mode, low_pass);
}

void AvxWaveletNTapsF32::execute_forward_impl(const float* arena, float* approximation,
                                              float* details, std::uint64_t m) const {
  analysis(low_pass().data(), high_pass().data(), filter_length(), arena, approximation,
           details, m);
}

void AvxWaveletNTapsF32::execute_inverse_impl(const float* approximation, const float* details,
                                              float* out, std::uint64_t pairs) const {
  synthesis(low_pass().data(), high_pass().data(), filter_length(), approximation, details, out,
            pairs);
}

}  // namespace tessary::avx
