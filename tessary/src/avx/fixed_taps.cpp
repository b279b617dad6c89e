#include "avx/fixed_taps.h"

#include <immintrin.h>

#include <bit>
#include <cstdint>

#include "avx/n_taps.h"
#include "core/target.h"

namespace tessary::avx {
namespace {

// Both stored filters in registers: lo holds taps 0..7, hi taps 8..15;
// `partial` selects the lanes of the last register that belong to a window
// (L = 6: 0..5; L = 10: 0..1; L = 12: 0..3).
struct FilterRegisters {
  __m256 h_lo, g_lo, h_hi, g_hi;
  __m256i partial;
};

template <std::size_t L>
constexpr int kPartialLanes = static_cast<int>(L % 8);

TESSARY_TARGET_AVX2_FMA inline __m256i first_lanes(int count) {
  return _mm256_cmpgt_epi32(_mm256_set1_epi32(count), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

// v[0] + ... + v[N-1] as a balanced tree, split at the largest power of two
// below N: (v0 + v1) + (v2 + v3) for four, ((v0 + v1) + (v2 + v3)) + v4 for five.
template <std::size_t N, class T>
TESSARY_TARGET_AVX2_FMA inline T tree_sum(const T* v) {
  if constexpr (N == 1) {
    return v[0];
  } else {
    constexpr std::size_t kSplit = std::bit_floor(N - 1);
    return tree_sum<kSplit>(v) + tree_sum<N - kSplit>(v + kSplit);
  }
}

// The sum of one window's products p[0 .. K), K = min(L, 8) (taps past eight
// already fused onto p[j - 8]): the upper half added onto the lower half,
// then pairwise, ((p0 + p4) + (p1 + p5)) + ((p2 + p6) + (p3 + p7)). Lane by
// lane this is what sum_one_pair does across the lanes of one window.
template <std::size_t K, class T>
TESSARY_TARGET_AVX2_FMA inline T fold_products(T* p) {
  for (std::size_t j = 4; j < K; ++j) p[j - 4] = p[j - 4] + p[j];
  return tree_sum<(K < 4 ? K : 4)>(p);
}

template <std::size_t L>
TESSARY_TARGET_AVX2_FMA inline FilterRegisters load_filters(const float* h, const float* g) {
  FilterRegisters c;
  c.h_lo = _mm256_loadu_ps(h);
  c.g_lo = _mm256_loadu_ps(g);
  c.h_hi = L > 8 ? _mm256_loadu_ps(h + 8) : _mm256_setzero_ps();
  c.g_hi = L > 8 ? _mm256_loadu_ps(g + 8) : _mm256_setzero_ps();
  c.partial = first_lanes(kPartialLanes<L>);
  return c;
}

// Products of one window (L = 6 .. 16) with both filters, one register per
// band: the taps past eight fused onto the first eight. Lanes past the
// window load nothing, so they hold exact zeros.
template <std::size_t L>
TESSARY_TARGET_AVX2_FMA inline void window_products(const FilterRegisters& c, const float* w,
                                                    __m256& pa, __m256& pg) {
  const __m256 lo = L == 6 ? _mm256_maskload_ps(w, c.partial) : _mm256_loadu_ps(w);
  pa = _mm256_mul_ps(c.h_lo, lo);
  pg = _mm256_mul_ps(c.g_lo, lo);
  if constexpr (L > 8) {
    const __m256 hi = L == 16 ? _mm256_loadu_ps(w + 8) : _mm256_maskload_ps(w + 8, c.partial);
    pa = _mm256_fmadd_ps(c.h_hi, hi, pa);
    pg = _mm256_fmadd_ps(c.g_hi, hi, pg);
  }
}

// Lane sums of one approximation and one details register in lanes 0 and 1,
// each ((p0 + p4) + (p1 + p5)) + ((p2 + p6) + (p3 + p7)).
TESSARY_TARGET_AVX2_FMA inline __m128 sum_one_pair(__m256 pa, __m256 pg) {
  const __m128 a = _mm_add_ps(_mm256_castps256_ps128(pa), _mm256_extractf128_ps(pa, 1));
  const __m128 d = _mm_add_ps(_mm256_castps256_ps128(pg), _mm256_extractf128_ps(pg, 1));
  const __m128 s = _mm_hadd_ps(a, d);
  return _mm_hadd_ps(s, s);
}

TESSARY_TARGET_AVX2_FMA inline void store_pair(__m128 sums, float* a, float* d) {
  *a = _mm_cvtss_f32(sums);
  *d = _mm_cvtss_f32(_mm_movehdup_ps(sums));
}

TESSARY_TARGET_AVX2_FMA inline float fused(float x, float y, float z) {
  return _mm_cvtss_f32(_mm_fmadd_ss(_mm_set_ss(x), _mm_set_ss(y), _mm_set_ss(z)));
}

// Eight consecutive outputs of a run, one per lane. A load of sixteen
// samples at window + 2t holds samples 2t and 2t + 1 of all eight windows;
// one shuffle picks the even ones, one the odd ones, in the lane order
// [0 1 4 5 | 2 3 6 7] that a final 64-bit permute undoes. Each coefficient
// is broadcast across the lanes (hb, gb). The loads end at the last sample
// of the eighth window.
TESSARY_TARGET_AVX2_FMA inline void split_even_odd(const float* w, __m256& even, __m256& odd) {
  const __m256 lo = _mm256_loadu_ps(w);
  const __m256 hi = _mm256_loadu_ps(w + 8);
  even = _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
  odd = _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
}

template <std::size_t L>
TESSARY_TARGET_AVX2_FMA inline void eight_outputs(const __m256* hb, const __m256* gb,
                                                  const float* w, float* a, float* d) {
  constexpr std::size_t kLow = L < 8 ? L : 8;
  __m256 pa[kLow];
  __m256 pd[kLow];
  __m256 even, odd;
  for (std::size_t t = 0; t < kLow / 2; ++t) {
    split_even_odd(w + 2 * t, even, odd);
    pa[2 * t] = _mm256_mul_ps(hb[2 * t], even);
    pa[2 * t + 1] = _mm256_mul_ps(hb[2 * t + 1], odd);
    pd[2 * t] = _mm256_mul_ps(gb[2 * t], even);
    pd[2 * t + 1] = _mm256_mul_ps(gb[2 * t + 1], odd);
  }
  // Taps 8 .. L-1 fused onto taps 0 .. L-9.
  for (std::size_t t = 4; t < L / 2; ++t) {
    split_even_odd(w + 2 * t, even, odd);
    pa[2 * t - 8] = _mm256_fmadd_ps(hb[2 * t], even, pa[2 * t - 8]);
    pa[2 * t - 7] = _mm256_fmadd_ps(hb[2 * t + 1], odd, pa[2 * t - 7]);
    pd[2 * t - 8] = _mm256_fmadd_ps(gb[2 * t], even, pd[2 * t - 8]);
    pd[2 * t - 7] = _mm256_fmadd_ps(gb[2 * t + 1], odd, pd[2 * t - 7]);
  }
  constexpr int kInOrder = _MM_SHUFFLE(3, 1, 2, 0);
  const __m256d sa = _mm256_castps_pd(fold_products<kLow>(pa));
  const __m256d sd = _mm256_castps_pd(fold_products<kLow>(pd));
  _mm256_storeu_ps(a, _mm256_castpd_ps(_mm256_permute4x64_pd(sa, kInOrder)));
  _mm256_storeu_ps(d, _mm256_castpd_ps(_mm256_permute4x64_pd(sd, kInOrder)));
}

// Eight consecutive outputs of a run of at most eight taps, with the
// products of each window in lane pairs instead: a load of eight samples at
// window + 2t holds taps 2t and 2t + 1 of four consecutive windows, in lanes
// 2i and 2i + 1, so it meets a register holding (c[2t], c[2t+1]) four times
// (hp, gp) without any shuffle. Adding the registers of taps 2t and 2t + 4
// gives (p0 + p4, p1 + p5) and (p2 + p6, p3 + p7) per window; adding
// neighbouring lanes then gives p0 + p4 + (p1 + p5) and so on, and their sum
// is the same tree as fold_products, so the bits equal eight_outputs'. The
// four coefficient-pair registers of each filter stay in registers for the
// whole run, where eight_outputs needs sixteen broadcasts (and as many loads
// per step). Neighbour sums of two window groups land in the lane order
// [0 1 4 5 | 2 3 6 7] that the final 64-bit permute undoes. The loads end at
// the last sample of the eighth window.
TESSARY_TARGET_AVX2_FMA inline __m256 neighbour_sums(__m256 x, __m256 y) {
  return _mm256_add_ps(_mm256_shuffle_ps(x, y, _MM_SHUFFLE(2, 0, 2, 0)),
                       _mm256_shuffle_ps(x, y, _MM_SHUFFLE(3, 1, 3, 1)));
}

template <std::size_t L>
TESSARY_TARGET_AVX2_FMA inline void eight_outputs_paired(const __m256* hp, const __m256* gp,
                                                         const float* w, float* a, float* d) {
  static_assert(L <= 8);
  // Per group of four windows: taps (0, 1) plus (4, 5), and (2, 3) plus (6, 7).
  __m256 a01[2], d01[2], a23[2], d23[2];
  for (std::size_t group = 0; group < 2; ++group) {
    const float* x = w + 8 * group;
    const __m256 v0 = _mm256_loadu_ps(x);
    a01[group] = _mm256_mul_ps(hp[0], v0);
    d01[group] = _mm256_mul_ps(gp[0], v0);
    if constexpr (L > 4) {
      const __m256 v2 = _mm256_loadu_ps(x + 4);
      a01[group] = _mm256_add_ps(a01[group], _mm256_mul_ps(hp[2], v2));
      d01[group] = _mm256_add_ps(d01[group], _mm256_mul_ps(gp[2], v2));
    }
    if constexpr (L > 2) {
      const __m256 v1 = _mm256_loadu_ps(x + 2);
      a23[group] = _mm256_mul_ps(hp[1], v1);
      d23[group] = _mm256_mul_ps(gp[1], v1);
    }
    if constexpr (L > 6) {
      const __m256 v3 = _mm256_loadu_ps(x + 6);
      a23[group] = _mm256_add_ps(a23[group], _mm256_mul_ps(hp[3], v3));
      d23[group] = _mm256_add_ps(d23[group], _mm256_mul_ps(gp[3], v3));
    }
  }
  __m256 sa = neighbour_sums(a01[0], a01[1]);
  __m256 sd = neighbour_sums(d01[0], d01[1]);
  if constexpr (L > 2) {
    sa = _mm256_add_ps(sa, neighbour_sums(a23[0], a23[1]));
    sd = _mm256_add_ps(sd, neighbour_sums(d23[0], d23[1]));
  }
  constexpr int kInOrder = _MM_SHUFFLE(3, 1, 2, 0);
  _mm256_storeu_ps(a, _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(sa), kInOrder)));
  _mm256_storeu_ps(d, _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(sd), kInOrder)));
}

// The coefficients of one call: the stored registers for single windows,
// each tap broadcast across the lanes for the eight-output steps of the
// longer filters, and the tap pairs for those of eight taps or fewer.
template <std::size_t L>
struct Filters {
  const float* h;
  const float* g;
  FilterRegisters padded;
  __m256 hb[L];
  __m256 gb[L];
  __m256 hp[(L + 1) / 2];
  __m256 gp[(L + 1) / 2];
};

// Asks for the cache line `bytes` past `p`. A kernel this short per sample
// otherwise waits on memory when the bands do not fit the cache. A prefetch
// never faults, so the address may lie past the
// array; it is formed as an integer so that no out-of-range pointer is made.
TESSARY_TARGET_AVX2_FMA inline void prefetch_ahead(const float* p, std::uintptr_t bytes) {
  _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(p) + bytes),
               _MM_HINT_T0);
}

// Eight outputs per step, then single outputs, each summed across the lanes
// of its padded window (the low half for L = 4, two products for L = 2) by
// the same additions as the step, so that an output's value does not depend
// on which part of the run computed it.
template <std::size_t L>
TESSARY_TARGET_AVX2_FMA void analysis_rows(const Filters<L>& f, const taps::Run& r) {
  // Locals, so that the stores through the band pointers cannot make the
  // compiler reload the run's fields every step.
  const float* const w = r.window;
  float* const approximation = r.approximation;
  float* const details = r.details;
  const std::uint64_t count = r.count;
  std::uint64_t k = 0;
  for (; k + 8 <= count; k += 8) {
    prefetch_ahead(w + 2 * k, 4096);
    if constexpr (L <= 8) {
      eight_outputs_paired<L>(f.hp, f.gp, w + 2 * k, approximation + k, details + k);
    } else {
      eight_outputs<L>(f.hb, f.gb, w + 2 * k, approximation + k, details + k);
    }
  }
  for (; k < count; ++k) {
    const float* x = w + 2 * k;
    if constexpr (L == 2) {
      r.approximation[k] = f.h[0] * x[0] + f.h[1] * x[1];
      r.details[k] = f.g[0] * x[0] + f.g[1] * x[1];
    } else if constexpr (L == 4) {
      const __m128 v = _mm_loadu_ps(x);
      const __m128 s = _mm_hadd_ps(_mm_mul_ps(_mm256_castps256_ps128(f.padded.h_lo), v),
                                   _mm_mul_ps(_mm256_castps256_ps128(f.padded.g_lo), v));
      store_pair(_mm_hadd_ps(s, s), r.approximation + k, r.details + k);
    } else {
      __m256 pa, pg;
      window_products<L>(f.padded, x, pa, pg);
      store_pair(sum_one_pair(pa, pg), r.approximation + k, r.details + k);
    }
  }
}

template <std::size_t L>
TESSARY_TARGET_AVX2_FMA void analysis(const float* h, const float* g, const taps::Run* runs,
                                      std::size_t run_count) {
  Filters<L> f;
  f.h = h;
  f.g = g;
  f.padded = load_filters<L>(h, g);
  // Only the registers that the eight-output step of this length reads.
  if constexpr (L <= 8) {
    for (std::size_t t = 0; t < L / 2; ++t) {
      f.hp[t] = _mm256_setr_ps(h[2 * t], h[2 * t + 1], h[2 * t], h[2 * t + 1], h[2 * t],
                               h[2 * t + 1], h[2 * t], h[2 * t + 1]);
      f.gp[t] = _mm256_setr_ps(g[2 * t], g[2 * t + 1], g[2 * t], g[2 * t + 1], g[2 * t],
                               g[2 * t + 1], g[2 * t], g[2 * t + 1]);
    }
  } else {
    for (std::size_t j = 0; j < L; ++j) {
      f.hb[j] = _mm256_set1_ps(h[j]);
      f.gb[j] = _mm256_set1_ps(g[j]);
    }
  }
  for (std::size_t i = 0; i < run_count; ++i) analysis_rows<L>(f, runs[i]);
}

// The synthesis gathered per output pair (see taps::overlap_add): for q in
// [0, pairs),
//
//   out[2q]     += sum_t h[L-2-2t] a[q+t] + g[L-2-2t] d[q+t]
//   out[2q + 1] += sum_t h[L-1-2t] a[q+t] + g[L-1-2t] d[q+t]      t < L/2
//
// Each sum starts from zero and takes its terms in ascending t, each
// coefficient pair by two fused multiply-adds, details first; the sum is then
// added to the output. No term falls outside the bands
// (q + L/2 - 1 <= m - 1).
//
// Blocks of eight consecutive q: the even and odd sums are two registers fed
// by unaligned band loads, interleaved and added to out[2q .. 2q + 16).
// Each sum is a chain of L dependent multiply-adds, so a step runs four
// blocks (eight independent chains, sharing the broadcast coefficients) to
// keep both FMA units busy; then two, one, and the pairs left over take the
// same arithmetic one at a time.
template <std::size_t L, std::size_t kBlocks, bool kOverwrite>
TESSARY_TARGET_AVX2_FMA inline void synthesis_blocks(const float* h, const float* g,
                                                     const float* a, const float* d, float* out) {
  __m256 even[kBlocks];
  __m256 odd[kBlocks];
  for (std::size_t b = 0; b < kBlocks; ++b) even[b] = odd[b] = _mm256_setzero_ps();
  for (std::size_t t = 0; t < L / 2; ++t) {
    const std::size_t k = L - 2 - 2 * t;
    const __m256 he = _mm256_broadcast_ss(h + k);
    const __m256 ge = _mm256_broadcast_ss(g + k);
    const __m256 ho = _mm256_broadcast_ss(h + k + 1);
    const __m256 go = _mm256_broadcast_ss(g + k + 1);
    for (std::size_t b = 0; b < kBlocks; ++b) {
      const __m256 av = _mm256_loadu_ps(a + 8 * b + t);
      const __m256 dv = _mm256_loadu_ps(d + 8 * b + t);
      even[b] = _mm256_fmadd_ps(he, av, _mm256_fmadd_ps(ge, dv, even[b]));
      odd[b] = _mm256_fmadd_ps(ho, av, _mm256_fmadd_ps(go, dv, odd[b]));
    }
  }
  for (std::size_t b = 0; b < kBlocks; ++b) {
    // [e0 o0 e1 o1 | e4 o4 e5 o5] and [e2 o2 e3 o3 | e6 o6 e7 o7]
    const __m256 lo = _mm256_unpacklo_ps(even[b], odd[b]);
    const __m256 hi = _mm256_unpackhi_ps(even[b], odd[b]);
    float* p = out + 16 * b;
    const __m256 old_lo = kOverwrite ? _mm256_setzero_ps() : _mm256_loadu_ps(p);
    const __m256 old_hi = kOverwrite ? _mm256_setzero_ps() : _mm256_loadu_ps(p + 8);
    _mm256_storeu_ps(p, _mm256_add_ps(old_lo, _mm256_permute2f128_ps(lo, hi, 0x20)));
    _mm256_storeu_ps(p + 8, _mm256_add_ps(old_hi, _mm256_permute2f128_ps(lo, hi, 0x31)));
  }
}

template <std::size_t L, bool kOverwrite>
TESSARY_TARGET_AVX2_FMA void synthesis(const float* h, const float* g, const float* a,
                                       const float* d, float* out, std::uint64_t pairs) {
  std::uint64_t q = 0;
  for (; q + 32 <= pairs; q += 32) {
    prefetch_ahead(a + q, 2048);
    prefetch_ahead(d + q, 2048);
    synthesis_blocks<L, 4, kOverwrite>(h, g, a + q, d + q, out + 2 * q);
  }
  if (q + 16 <= pairs) {
    synthesis_blocks<L, 2, kOverwrite>(h, g, a + q, d + q, out + 2 * q);
    q += 16;
  }
  if (q + 8 <= pairs) {
    synthesis_blocks<L, 1, kOverwrite>(h, g, a + q, d + q, out + 2 * q);
    q += 8;
  }
  for (; q < pairs; ++q) {
    float even = 0.0f;
    float odd = 0.0f;
    for (std::size_t t = 0; t < L / 2; ++t) {
      const std::size_t k = L - 2 - 2 * t;
      even = fused(h[k], a[q + t], fused(g[k], d[q + t], even));
      odd = fused(h[k + 1], a[q + t], fused(g[k + 1], d[q + t], odd));
    }
    out[2 * q] = (kOverwrite ? 0.0f : out[2 * q]) + even;
    out[2 * q + 1] = (kOverwrite ? 0.0f : out[2 * q + 1]) + odd;
  }
}

}  // namespace

template <std::size_t L>
AvxFixedTapsF32<L>::AvxFixedTapsF32(BorderMode mode, std::span<const float, L> low_pass)
    : PaddedTapsBank<L, stored_taps(L)>(mode, low_pass) {}

template <std::size_t L>
void AvxFixedTapsF32<L>::execute_forward_impl(const taps::Run (&runs)[3]) const {
  analysis<L>(this->low_pass().data(), this->high_pass().data(), runs, 3);
}

template <std::size_t L>
void AvxFixedTapsF32<L>::execute_inverse_impl(const float* approximation, const float* details,
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
  return make_path_bank<AvxFixedTapsF32, AvxWaveletNTapsF32>(mode, low_pass);
}

}  // namespace tessary::avx
