#include "avx/n_taps.h"

#include <immintrin.h>

#include "core/target.h"

namespace tessary::avx {
namespace {

TESSARY_TARGET_AVX2_FMA inline float fused(float x, float y, float z) {
  return _mm_cvtss_f32(_mm_fmadd_ss(_mm_set_ss(x), _mm_set_ss(y), _mm_set_ss(z)));
}

// Output i reads arena[2i .. 2i + L). Its even taps and its odd taps are
// summed in two fused chains from zero, in ascending tap order, and the two
// chains added:
//
//   approx[i] = sum_t h[2t] arena[2i + 2t]  +  sum_t h[2t+1] arena[2i + 2t + 1]
//
// Eight outputs per step, one per lane: a load of sixteen samples at
// arena + 2i + 2t holds samples 2t and 2t + 1 of the eight windows, one
// shuffle picks the even ones and one the odd ones (lane order
// [0 1 4 5 | 2 3 6 7], undone by a 64-bit permute at the end). The loads end
// at the last sample of the eighth window. Outputs left over take the same
// arithmetic one at a time.
TESSARY_TARGET_AVX2_FMA void analysis(const float* h, const float* g, std::uint64_t taps,
                                      const float* arena, float* approximation, float* details,
                                      std::uint64_t m) {
  const std::uint64_t half = taps / 2;
  std::uint64_t i = 0;
  for (; i + 8 <= m; i += 8) {
    const float* w = arena + 2 * i;
    __m256 a_even = _mm256_setzero_ps();
    __m256 a_odd = _mm256_setzero_ps();
    __m256 d_even = _mm256_setzero_ps();
    __m256 d_odd = _mm256_setzero_ps();
    for (std::uint64_t t = 0; t < half; ++t) {
      const __m256 lo = _mm256_loadu_ps(w + 2 * t);
      const __m256 hi = _mm256_loadu_ps(w + 2 * t + 8);
      const __m256 even = _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
      const __m256 odd = _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
      a_even = _mm256_fmadd_ps(_mm256_broadcast_ss(h + 2 * t), even, a_even);
      a_odd = _mm256_fmadd_ps(_mm256_broadcast_ss(h + 2 * t + 1), odd, a_odd);
      d_even = _mm256_fmadd_ps(_mm256_broadcast_ss(g + 2 * t), even, d_even);
      d_odd = _mm256_fmadd_ps(_mm256_broadcast_ss(g + 2 * t + 1), odd, d_odd);
    }
    constexpr int kInOrder = _MM_SHUFFLE(3, 1, 2, 0);
    const __m256d a = _mm256_castps_pd(_mm256_add_ps(a_even, a_odd));
    const __m256d d = _mm256_castps_pd(_mm256_add_ps(d_even, d_odd));
    _mm256_storeu_ps(approximation + i, _mm256_castpd_ps(_mm256_permute4x64_pd(a, kInOrder)));
    _mm256_storeu_ps(details + i, _mm256_castpd_ps(_mm256_permute4x64_pd(d, kInOrder)));
  }
  for (; i < m; ++i) {
    const float* w = arena + 2 * i;
    float a_even = 0.0f, a_odd = 0.0f, d_even = 0.0f, d_odd = 0.0f;
    for (std::uint64_t t = 0; t < half; ++t) {
      a_even = fused(h[2 * t], w[2 * t], a_even);
      a_odd = fused(h[2 * t + 1], w[2 * t + 1], a_odd);
      d_even = fused(g[2 * t], w[2 * t], d_even);
      d_odd = fused(g[2 * t + 1], w[2 * t + 1], d_odd);
    }
    approximation[i] = a_even + a_odd;
    details[i] = d_even + d_odd;
  }
}

// The synthesis gathered per output pair (see taps::overlap_add): each sum
// from zero in ascending t, each coefficient pair by two fused
// multiply-adds, details first, then added to the output. Sixteen pairs per
// step in two blocks of eight sharing the broadcast coefficients, then eight,
// then single pairs with the same arithmetic.
TESSARY_TARGET_AVX2_FMA inline void synthesis_blocks(const float* h, const float* g,
                                                     std::uint64_t taps, const float* a,
                                                     const float* d, float* out,
                                                     std::uint64_t blocks) {
  __m256 even[2] = {_mm256_setzero_ps(), _mm256_setzero_ps()};
  __m256 odd[2] = {_mm256_setzero_ps(), _mm256_setzero_ps()};
  for (std::uint64_t t = 0; t < taps / 2; ++t) {
    const std::uint64_t k = taps - 2 - 2 * t;
    const __m256 he = _mm256_broadcast_ss(h + k);
    const __m256 ge = _mm256_broadcast_ss(g + k);
    const __m256 ho = _mm256_broadcast_ss(h + k + 1);
    const __m256 go = _mm256_broadcast_ss(g + k + 1);
    for (std::uint64_t b = 0; b < blocks; ++b) {
      const __m256 av = _mm256_loadu_ps(a + 8 * b + t);
      const __m256 dv = _mm256_loadu_ps(d + 8 * b + t);
      even[b] = _mm256_fmadd_ps(he, av, _mm256_fmadd_ps(ge, dv, even[b]));
      odd[b] = _mm256_fmadd_ps(ho, av, _mm256_fmadd_ps(go, dv, odd[b]));
    }
  }
  for (std::uint64_t b = 0; b < blocks; ++b) {
    const __m256 lo = _mm256_unpacklo_ps(even[b], odd[b]);
    const __m256 hi = _mm256_unpackhi_ps(even[b], odd[b]);
    float* p = out + 16 * b;
    _mm256_storeu_ps(p, _mm256_add_ps(_mm256_loadu_ps(p), _mm256_permute2f128_ps(lo, hi, 0x20)));
    _mm256_storeu_ps(p + 8,
                     _mm256_add_ps(_mm256_loadu_ps(p + 8), _mm256_permute2f128_ps(lo, hi, 0x31)));
  }
}

TESSARY_TARGET_AVX2_FMA void synthesis(const float* h, const float* g, std::uint64_t taps,
                                       const float* a, const float* d, float* out,
                                       std::uint64_t pairs) {
  std::uint64_t q = 0;
  for (; q + 16 <= pairs; q += 16) synthesis_blocks(h, g, taps, a + q, d + q, out + 2 * q, 2);
  if (q + 8 <= pairs) {
    synthesis_blocks(h, g, taps, a + q, d + q, out + 2 * q, 1);
    q += 8;
  }
  for (; q < pairs; ++q) {
    float even = 0.0f;
    float odd = 0.0f;
    for (std::uint64_t t = 0; t < taps / 2; ++t) {
      const std::uint64_t k = taps - 2 - 2 * t;
      even = fused(h[k], a[q + t], fused(g[k], d[q + t], even));
      odd = fused(h[k + 1], a[q + t], fused(g[k + 1], d[q + t], odd));
    }
    out[2 * q] += even;
    out[2 * q + 1] += odd;
  }
}

}  // namespace

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
