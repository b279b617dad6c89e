#include "sse/wavelet_taps.h"

#include <immintrin.h>

#include "util.h"
#include "../wavelet_taps.h"

namespace tessary::sse {
namespace {

// Registers per window of an L-tap filter (the last one half used for L = 6, 10).
constexpr std::size_t registers_per_window(std::size_t taps) { return (taps + 3) / 4; }

// Both stored filters in registers, once per call.
template <std::size_t L>
struct FilterRegisters {
  __m128 h[registers_per_window(L)];
  __m128 g[registers_per_window(L)];
};

template <std::size_t L>
TESSARY_TARGET_SSE42 inline FilterRegisters<L> load_filters(const float* h, const float* g) {
  FilterRegisters<L> c;
  for (std::size_t r = 0; r < registers_per_window(L); ++r) {
    c.h[r] = _mm_loadu_ps(h + 4 * r);
    c.g[r] = _mm_loadu_ps(g + 4 * r);
  }
  return c;
}

// Samples w[4r ..] of a window: four, or two (upper lanes zero) where the
// window ends half way through the register.
template <std::size_t L>
TESSARY_TARGET_SSE42 inline __m128 load_window_part(const float* w, std::size_t r) {
  if (L % 4 == 2 && r + 1 == registers_per_window(L)) {
    return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(w + 4 * r)));
  }
  return _mm_loadu_ps(w + 4 * r);
}

// Products of one window (L = 4 .. 12) with both filters, summed register by
// register in tap order: one register per band.
template <std::size_t L>
TESSARY_TARGET_SSE42 inline void window_products(const FilterRegisters<L>& c, const float* w,
                                                 __m128& pa, __m128& pg) {
  const __m128 x0 = load_window_part<L>(w, 0);
  pa = _mm_mul_ps(c.h[0], x0);
  pg = _mm_mul_ps(c.g[0], x0);
  for (std::size_t r = 1; r < registers_per_window(L); ++r) {
    const __m128 x = load_window_part<L>(w, r);
    pa = _mm_add_ps(pa, _mm_mul_ps(c.h[r], x));
    pg = _mm_add_ps(pg, _mm_mul_ps(c.g[r], x));
  }
}

TESSARY_TARGET_SSE42 inline void store_pair(__m128 sums, float* a, float* d) {
  *a = _mm_cvtss_f32(sums);
  *d = _mm_cvtss_f32(_mm_movehdup_ps(sums));
}

// Two taps, (h0 h1) twice: one register covers two windows. Four outputs per
// step, then single outputs.
TESSARY_TARGET_SSE42 void analysis_rows_2(const FilterRegisters<2>& c, const float* h,
                                          const float* g, const taps::Run& r) {
  const float* w = r.window;
  std::uint64_t k = 0;
  for (; k + 4 <= r.count; k += 4) {
    const __m128 x0 = _mm_loadu_ps(w + 2 * k);
    const __m128 x1 = _mm_loadu_ps(w + 2 * k + 4);
    _mm_storeu_ps(r.approximation + k,
                  _mm_hadd_ps(_mm_mul_ps(c.h[0], x0), _mm_mul_ps(c.h[0], x1)));
    _mm_storeu_ps(r.details + k, _mm_hadd_ps(_mm_mul_ps(c.g[0], x0), _mm_mul_ps(c.g[0], x1)));
  }
  for (; k < r.count; ++k) {
    const float x0 = w[2 * k];
    const float x1 = w[2 * k + 1];
    r.approximation[k] = h[0] * x0 + h[1] * x1;
    r.details[k] = g[0] * x0 + g[1] * x1;
  }
}

// Four to twelve taps: four outputs per step, each lane sum
// ((p0 + p1) + (p2 + p3)) by two horizontal adds; then single outputs.
template <std::size_t L>
TESSARY_TARGET_SSE42 void analysis_rows(const FilterRegisters<L>& c, const taps::Run& r) {
  const float* w = r.window;
  std::uint64_t k = 0;
  for (; k + 4 <= r.count; k += 4) {
    __m128 a0, a1, a2, a3, d0, d1, d2, d3;
    window_products<L>(c, w + 2 * k, a0, d0);
    window_products<L>(c, w + 2 * k + 2, a1, d1);
    window_products<L>(c, w + 2 * k + 4, a2, d2);
    window_products<L>(c, w + 2 * k + 6, a3, d3);
    _mm_storeu_ps(r.approximation + k, _mm_hadd_ps(_mm_hadd_ps(a0, a1), _mm_hadd_ps(a2, a3)));
    _mm_storeu_ps(r.details + k, _mm_hadd_ps(_mm_hadd_ps(d0, d1), _mm_hadd_ps(d2, d3)));
  }
  for (; k < r.count; ++k) {
    __m128 pa, pg;
    window_products<L>(c, w + 2 * k, pa, pg);
    const __m128 s = _mm_hadd_ps(pa, pg);
    store_pair(_mm_hadd_ps(s, s), r.approximation + k, r.details + k);
  }
}

template <std::size_t L>
TESSARY_TARGET_SSE42 void analysis(const float* h, const float* g, const taps::Run* runs,
                                   std::size_t run_count) {
  const FilterRegisters<L> c = load_filters<L>(h, g);
  for (std::size_t i = 0; i < run_count; ++i) {
    if constexpr (L == 2) {
      analysis_rows_2(c, h, g, runs[i]);
    } else {
      analysis_rows<L>(c, runs[i]);
    }
  }
}

// The synthesis gathered per output pair (see taps::overlap_add): four pairs
// per step, their even and odd sums in two registers fed by unaligned band
// loads, interleaved and added to the output.
template <std::size_t L>
TESSARY_TARGET_SSE42 void synthesis(const float* h, const float* g, const float* a,
                                    const float* d, float* out, std::uint64_t pairs) {
  constexpr std::size_t kHalf = L / 2;
  std::uint64_t q = 0;
  for (; q + 4 <= pairs; q += 4) {
    __m128 even = _mm_setzero_ps();
    __m128 odd = _mm_setzero_ps();
    for (std::size_t t = 0; t < kHalf; ++t) {
      const std::size_t k = L - 2 - 2 * t;
      const __m128 av = _mm_loadu_ps(a + q + t);
      const __m128 dv = _mm_loadu_ps(d + q + t);
      even = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(h[k]), av),
                        _mm_add_ps(_mm_mul_ps(_mm_set1_ps(g[k]), dv), even));
      odd = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(h[k + 1]), av),
                       _mm_add_ps(_mm_mul_ps(_mm_set1_ps(g[k + 1]), dv), odd));
    }
    float* o = out + 2 * q;
    _mm_storeu_ps(o, _mm_add_ps(_mm_loadu_ps(o), _mm_unpacklo_ps(even, odd)));
    _mm_storeu_ps(o + 4, _mm_add_ps(_mm_loadu_ps(o + 4), _mm_unpackhi_ps(even, odd)));
  }
  for (; q < pairs; ++q) {
    float even = 0.0f;
    float odd = 0.0f;
    for (std::size_t t = 0; t < kHalf; ++t) {
      const std::size_t k = L - 2 - 2 * t;
      even = h[k] * a[q + t] + (g[k] * d[q + t] + even);
      odd = h[k + 1] * a[q + t] + (g[k + 1] * d[q + t] + odd);
    }
    out[2 * q] += even;
    out[2 * q + 1] += odd;
  }
}

}  // namespace

template <std::size_t L>
SseFixedTapsBank<L>::SseFixedTapsBank(BorderMode mode, const std::array<float, L>& low_pass)
    : PaddedTapsBank<L, stored_taps(L)>(mode, low_pass) {}

template <std::size_t L>
void SseFixedTapsBank<L>::execute_forward_impl(const taps::Run (&runs)[3]) const {
  analysis<L>(this->low_pass().data(), this->high_pass().data(), runs, 3);
}

template <std::size_t L>
void SseFixedTapsBank<L>::execute_inverse_impl(const float* approximation, const float* details,
                                               float* out, std::uint64_t pairs) const {
  synthesis<L>(this->low_pass().data(), this->high_pass().data(), approximation, details, out,
               pairs);
}

template class SseFixedTapsBank<2>;
template class SseFixedTapsBank<4>;
template class SseFixedTapsBank<6>;
template class SseFixedTapsBank<8>;
template class SseFixedTapsBank<10>;
template class SseFixedTapsBank<12>;

}  // namespace tessary::sse
