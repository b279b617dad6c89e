#include "sse/fixed_taps.h"

#include <immintrin.h>

#include <bit>

#include "core/target.h"
#include "sse/n_taps.h"

namespace tessary::sse {
namespace {

// Registers per window of an L-tap filter (the last one half used for L = 6, 10).
constexpr std::size_t registers_per_window(std::size_t taps) { return (taps + 3) / 4; }

// v[0] + ... + v[N-1] as a balanced tree, split at the largest power of two
// below N: (v0 + v1) + (v2 + v3) for four.
template <std::size_t N, class T>
TESSARY_TARGET_SSE42 inline T tree_sum(const T* v) {
  if constexpr (N == 1) {
    return v[0];
  } else {
    constexpr std::size_t kSplit = std::bit_floor(N - 1);
    return tree_sum<kSplit>(v) + tree_sum<N - kSplit>(v + kSplit);
  }
}

// The sum of one window's L products: lane l collects taps l, l + 4, l + 8
// in that order, then the four lanes are added as (s0 + s1) + (s2 + s3),
// exactly as window_products and two horizontal adds sum one window.
template <std::size_t L, class T>
TESSARY_TARGET_SSE42 inline T fold_products(T* p) {
  for (std::size_t j = 4; j < L; ++j) p[j % 4] = p[j % 4] + p[j];
  return tree_sum<(L < 4 ? L : 4)>(p);
}

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

// Four consecutive outputs of a run, one per lane. A load of eight samples
// at window + 2t holds samples 2t and 2t + 1 of all four windows; one
// shuffle picks the even ones, one the odd ones. Each coefficient is
// broadcast across the lanes (hb, gb). The loads end at the last sample of
// the fourth window.
template <std::size_t L>
TESSARY_TARGET_SSE42 inline void four_outputs(const __m128* hb, const __m128* gb, const float* w,
                                              float* a, float* d) {
  __m128 pa[L];
  __m128 pd[L];
  for (std::size_t t = 0; t < L / 2; ++t) {
    const __m128 lo = _mm_loadu_ps(w + 2 * t);
    const __m128 hi = _mm_loadu_ps(w + 2 * t + 4);
    const __m128 even = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 odd = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
    pa[2 * t] = _mm_mul_ps(hb[2 * t], even);
    pa[2 * t + 1] = _mm_mul_ps(hb[2 * t + 1], odd);
    pd[2 * t] = _mm_mul_ps(gb[2 * t], even);
    pd[2 * t + 1] = _mm_mul_ps(gb[2 * t + 1], odd);
  }
  _mm_storeu_ps(a, fold_products<L>(pa));
  _mm_storeu_ps(d, fold_products<L>(pd));
}

// The coefficients of one call: the stored registers for single windows and
// each tap broadcast across the lanes for the four-output steps.
template <std::size_t L>
struct Filters {
  const float* h;
  const float* g;
  FilterRegisters<L> padded;
  __m128 hb[L];
  __m128 gb[L];
};

// Four outputs per step, then single outputs, each summed across the lanes
// of its padded window (two products for L = 2) by the same additions as the
// step, so that an output's value does not depend on which part of the run
// computed it.
template <std::size_t L>
TESSARY_TARGET_SSE42 void analysis_rows(const Filters<L>& f, const taps::Run& r) {
  const float* w = r.window;
  std::uint64_t k = 0;
  for (; k + 4 <= r.count; k += 4) {
    four_outputs<L>(f.hb, f.gb, w + 2 * k, r.approximation + k, r.details + k);
  }
  for (; k < r.count; ++k) {
    const float* x = w + 2 * k;
    if constexpr (L == 2) {
      r.approximation[k] = f.h[0] * x[0] + f.h[1] * x[1];
      r.details[k] = f.g[0] * x[0] + f.g[1] * x[1];
    } else {
      __m128 pa, pg;
      window_products<L>(f.padded, x, pa, pg);
      const __m128 s = _mm_hadd_ps(pa, pg);
      store_pair(_mm_hadd_ps(s, s), r.approximation + k, r.details + k);
    }
  }
}

template <std::size_t L>
TESSARY_TARGET_SSE42 void analysis(const float* h, const float* g, const taps::Run* runs,
                                   std::size_t run_count) {
  Filters<L> f;
  f.h = h;
  f.g = g;
  f.padded = load_filters<L>(h, g);
  for (std::size_t j = 0; j < L; ++j) {
    f.hb[j] = _mm_set1_ps(h[j]);
    f.gb[j] = _mm_set1_ps(g[j]);
  }
  for (std::size_t i = 0; i < run_count; ++i) analysis_rows<L>(f, runs[i]);
}

// The synthesis gathered per output pair (see taps::overlap_add): each sum
// from zero in ascending t, the details product added before the
// approximation product, then added to the output. Blocks of four
// consecutive q: the even and odd sums are two registers fed by unaligned
// band loads, interleaved and added to out[2q .. 2q + 8). Two blocks per step
// share the coefficients, broadcast once per call (hb, gb); the pairs left
// over take the same arithmetic one at a time.
template <std::size_t L, std::size_t kBlocks, bool kOverwrite>
TESSARY_TARGET_SSE42 inline void synthesis_blocks(const __m128* hb, const __m128* gb,
                                                  const float* a, const float* d, float* out) {
  __m128 even[kBlocks];
  __m128 odd[kBlocks];
  for (std::size_t b = 0; b < kBlocks; ++b) even[b] = odd[b] = _mm_setzero_ps();
  for (std::size_t t = 0; t < L / 2; ++t) {
    const std::size_t k = L - 2 - 2 * t;
    for (std::size_t b = 0; b < kBlocks; ++b) {
      const __m128 av = _mm_loadu_ps(a + 4 * b + t);
      const __m128 dv = _mm_loadu_ps(d + 4 * b + t);
      even[b] = _mm_add_ps(_mm_mul_ps(hb[k], av), _mm_add_ps(_mm_mul_ps(gb[k], dv), even[b]));
      odd[b] = _mm_add_ps(_mm_mul_ps(hb[k + 1], av),
                          _mm_add_ps(_mm_mul_ps(gb[k + 1], dv), odd[b]));
    }
  }
  for (std::size_t b = 0; b < kBlocks; ++b) {
    float* p = out + 8 * b;
    const __m128 old_lo = kOverwrite ? _mm_setzero_ps() : _mm_loadu_ps(p);
    const __m128 old_hi = kOverwrite ? _mm_setzero_ps() : _mm_loadu_ps(p + 4);
    _mm_storeu_ps(p, _mm_add_ps(old_lo, _mm_unpacklo_ps(even[b], odd[b])));
    _mm_storeu_ps(p + 4, _mm_add_ps(old_hi, _mm_unpackhi_ps(even[b], odd[b])));
  }
}

template <std::size_t L, bool kOverwrite>
TESSARY_TARGET_SSE42 void synthesis(const float* h, const float* g, const float* a,
                                    const float* d, float* out, std::uint64_t pairs) {
  __m128 hb[L];
  __m128 gb[L];
  for (std::size_t j = 0; j < L; ++j) {
    hb[j] = _mm_set1_ps(h[j]);
    gb[j] = _mm_set1_ps(g[j]);
  }
  std::uint64_t q = 0;
  for (; q + 8 <= pairs; q += 8) {
    synthesis_blocks<L, 2, kOverwrite>(hb, gb, a + q, d + q, out + 2 * q);
  }
  if (q + 4 <= pairs) {
    synthesis_blocks<L, 1, kOverwrite>(hb, gb, a + q, d + q, out + 2 * q);
    q += 4;
  }
  for (; q < pairs; ++q) {
    float even = 0.0f;
    float odd = 0.0f;
    for (std::size_t t = 0; t < L / 2; ++t) {
      const std::size_t k = L - 2 - 2 * t;
      even = h[k] * a[q + t] + (g[k] * d[q + t] + even);
      odd = h[k + 1] * a[q + t] + (g[k + 1] * d[q + t] + odd);
    }
    out[2 * q] = (kOverwrite ? 0.0f : out[2 * q]) + even;
    out[2 * q + 1] = (kOverwrite ? 0.0f : out[2 * q + 1]) + odd;
  }
}

}  // namespace

template <std::size_t L>
SseFixedTapsF32<L>::SseFixedTapsF32(BorderMode mode, std::span<const float, L> low_pass)
    : PaddedTapsBank<L, stored_taps(L)>(mode, low_pass) {}

template <std::size_t L>
void SseFixedTapsF32<L>::execute_forward_impl(const taps::Run (&runs)[3]) const {
  analysis<L>(this->low_pass().data(), this->high_pass().data(), runs, 3);
}

template <std::size_t L>
void SseFixedTapsF32<L>::execute_inverse_impl(const float* approximation, const float* details,
                                              float* out, std::uint64_t pairs,
                                              taps::Synthesis how) const {
  const float* h = this->low_pass().data();
  const float* g = this->high_pass().data();
  if (how == taps::Synthesis::Overwrite) {
    synthesis<L, true>(h, g, approximation, details, out, pairs);
  } else {
    synthesis<L, false>(h, g, approximation, details, out, pairs);
  }
}

TResult<IncompleteDwtExecutorHandle<float>> make_bank_f32(BorderMode mode,
                                                          std::span<const float> low_pass) {
  return make_path_bank<SseFixedTapsF32, SseWaveletNTapsF32, kLongestFixedTaps>(mode, low_pass);
}

}  // namespace tessary::sse
