#include "sse/n_taps.h"

#include <immintrin.h>

#include "core/target.h"

namespace tessary::sse {
namespace {

// Two floats in the low lanes, zeros above.
TESSARY_TARGET_SSE42 inline __m128 load_two(const float* p) {
  return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}

// Output i reads arena[2i .. 2i + L): the taps go four at a time into one
// accumulator per band and output, and the last two (L mod 4 = 2) through
// a two-float load. Four outputs per step, each lane sum ((p0 + p1) +
// (p2 + p3)) by horizontal adds, then single outputs.
TESSARY_TARGET_SSE42 void analysis(const float* h, const float* g, std::uint64_t taps,
                                   const float* arena, float* approximation, float* details,
                                   std::uint64_t m) {
  const std::uint64_t whole = taps / 4 * 4;
  const bool rest = whole != taps;
  const __m128 h_rest = rest ? load_two(h + whole) : _mm_setzero_ps();
  const __m128 g_rest = rest ? load_two(g + whole) : _mm_setzero_ps();
  std::uint64_t i = 0;
  for (; i + 4 <= m; i += 4) {
    const float* w = arena + 2 * i;
    __m128 a[4] = {_mm_setzero_ps(), _mm_setzero_ps(), _mm_setzero_ps(), _mm_setzero_ps()};
    __m128 d[4] = {a[0], a[0], a[0], a[0]};
    for (std::uint64_t j = 0; j < whole; j += 4) {
      const __m128 hv = _mm_loadu_ps(h + j);
      const __m128 gv = _mm_loadu_ps(g + j);
      for (int k = 0; k < 4; ++k) {
        const __m128 x = _mm_loadu_ps(w + 2 * k + j);
        a[k] = _mm_add_ps(a[k], _mm_mul_ps(hv, x));
        d[k] = _mm_add_ps(d[k], _mm_mul_ps(gv, x));
      }
    }
    if (rest) {
      for (int k = 0; k < 4; ++k) {
        const __m128 x = load_two(w + 2 * k + whole);
        a[k] = _mm_add_ps(a[k], _mm_mul_ps(h_rest, x));
        d[k] = _mm_add_ps(d[k], _mm_mul_ps(g_rest, x));
      }
    }
    _mm_storeu_ps(approximation + i, _mm_hadd_ps(_mm_hadd_ps(a[0], a[1]), _mm_hadd_ps(a[2], a[3])));
    _mm_storeu_ps(details + i, _mm_hadd_ps(_mm_hadd_ps(d[0], d[1]), _mm_hadd_ps(d[2], d[3])));
  }
  for (; i < m; ++i) {
    const float* w = arena + 2 * i;
    __m128 a = _mm_setzero_ps();
    __m128 d = _mm_setzero_ps();
    for (std::uint64_t j = 0; j < whole; j += 4) {
      const __m128 x = _mm_loadu_ps(w + j);
      a = _mm_add_ps(a, _mm_mul_ps(_mm_loadu_ps(h + j), x));
      d = _mm_add_ps(d, _mm_mul_ps(_mm_loadu_ps(g + j), x));
    }
    if (rest) {
      const __m128 x = load_two(w + whole);
      a = _mm_add_ps(a, _mm_mul_ps(h_rest, x));
      d = _mm_add_ps(d, _mm_mul_ps(g_rest, x));
    }
    const __m128 s2 = _mm_hadd_ps(a, d);
    const __m128 s = _mm_hadd_ps(s2, s2);
    approximation[i] = _mm_cvtss_f32(s);
    details[i] = _mm_cvtss_f32(_mm_movehdup_ps(s));
  }
}

// The synthesis gathered per output pair (see taps::overlap_add): each sum
// from zero in ascending t, the details product added before the
// approximation product, then added to the output. Eight pairs per step in
// two blocks of four sharing the broadcast coefficients, then four, then
// single pairs with the same arithmetic.
TESSARY_TARGET_SSE42 inline void synthesis_blocks(const float* h, const float* g,
                                                  std::uint64_t taps, const float* a,
                                                  const float* d, float* out,
                                                  std::uint64_t blocks) {
  __m128 even[2] = {_mm_setzero_ps(), _mm_setzero_ps()};
  __m128 odd[2] = {_mm_setzero_ps(), _mm_setzero_ps()};
  for (std::uint64_t t = 0; t < taps / 2; ++t) {
    const std::uint64_t k = taps - 2 - 2 * t;
    const __m128 he = _mm_set1_ps(h[k]);
    const __m128 ge = _mm_set1_ps(g[k]);
    const __m128 ho = _mm_set1_ps(h[k + 1]);
    const __m128 go = _mm_set1_ps(g[k + 1]);
    for (std::uint64_t b = 0; b < blocks; ++b) {
      const __m128 av = _mm_loadu_ps(a + 4 * b + t);
      const __m128 dv = _mm_loadu_ps(d + 4 * b + t);
      even[b] = _mm_add_ps(_mm_mul_ps(he, av), _mm_add_ps(_mm_mul_ps(ge, dv), even[b]));
      odd[b] = _mm_add_ps(_mm_mul_ps(ho, av), _mm_add_ps(_mm_mul_ps(go, dv), odd[b]));
    }
  }
  for (std::uint64_t b = 0; b < blocks; ++b) {
    float* p = out + 8 * b;
    _mm_storeu_ps(p, _mm_add_ps(_mm_loadu_ps(p), _mm_unpacklo_ps(even[b], odd[b])));
    _mm_storeu_ps(p + 4, _mm_add_ps(_mm_loadu_ps(p + 4), _mm_unpackhi_ps(even[b], odd[b])));
  }
}

TESSARY_TARGET_SSE42 void synthesis(const float* h, const float* g, std::uint64_t taps,
                                    const float* a, const float* d, float* out,
                                    std::uint64_t pairs) {
  std::uint64_t q = 0;
  for (; q + 8 <= pairs; q += 8) synthesis_blocks(h, g, taps, a + q, d + q, out + 2 * q, 2);
  if (q + 4 <= pairs) {
    synthesis_blocks(h, g, taps, a + q, d + q, out + 2 * q, 1);
    q += 4;
  }
  for (; q < pairs; ++q) {
    float even = 0.0f;
    float odd = 0.0f;
    for (std::uint64_t t = 0; t < taps / 2; ++t) {
      const std::uint64_t k = taps - 2 - 2 * t;
      even = h[k] * a[q + t] + (g[k] * d[q + t] + even);
      odd = h[k + 1] * a[q + t] + (g[k + 1] * d[q + t] + odd);
    }
    out[2 * q] += even;
    out[2 * q + 1] += odd;
  }
}

}  // namespace

void SseWaveletNTapsF32::execute_forward_impl(const float* arena, float* approximation,
                                              float* details, std::uint64_t m) const {
  analysis(low_pass().data(), high_pass().data(), filter_length(), arena, approximation,
           details, m);
}

void SseWaveletNTapsF32::execute_inverse_impl(const float* approximation, const float* details,
                                              float* out, std::uint64_t pairs) const {
  synthesis(low_pass().data(), high_pass().data(), filter_length(), approximation, details, out,
            pairs);
}

}  // namespace tessary::sse
