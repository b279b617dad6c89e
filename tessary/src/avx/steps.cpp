#include "avx/steps.h"

#include <immintrin.h>

#include <cstdint>

#include "core/target.h"

namespace tessary::avx {
namespace {

using u64 = std::uint64_t;

#define TESSARY_AVX_INLINE TESSARY_TARGET_AVX2_FMA __attribute__((always_inline)) inline

// One rounding for product and sum, as in the vector lanes.
TESSARY_AVX_INLINE float fused(float sum, float weight, float target) {
  return _mm_cvtss_f32(_mm_fmadd_ss(_mm_set_ss(sum), _mm_set_ss(weight), _mm_set_ss(target)));
}

// Even and odd samples of the 16 floats lo, hi, in the lane order
// (0 1 4 5 2 3 6 7) that the in-lane shuffle leaves; in_order() restores it.
TESSARY_AVX_INLINE __m256 evens_shuffled(__m256 lo, __m256 hi) {
  return _mm256_shuffle_ps(lo, hi, 0x88);
}
TESSARY_AVX_INLINE __m256 odds_shuffled(__m256 lo, __m256 hi) {
  return _mm256_shuffle_ps(lo, hi, 0xDD);
}
TESSARY_AVX_INLINE __m256 in_order(__m256 v) {
  return _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(v), 0xD8));
}

// (prev[7], cur[0], ..., cur[6]): the vector one position to the left.
TESSARY_AVX_INLINE __m256 shift_in(__m256 prev, __m256 cur) {
  const __m256 straddle = _mm256_permute2f128_ps(prev, cur, 0x21);
  return _mm256_castsi256_ps(
      _mm256_alignr_epi8(_mm256_castps_si256(cur), _mm256_castps_si256(straddle), 12));
}

TESSARY_AVX_INLINE float last_lane(__m256 v) {
  return _mm256_cvtss_f32(_mm256_permutevar8x32_ps(v, _mm256_set1_epi32(7)));
}

// ---- forward pair -------------------------------------------------------
//
// Position i of the pair predicts d[i] and then updates s[i], which needs
// the new d[i - 1] (`carry`) and d[i]. Running i upwards makes it safe in
// place: s[i + 1] and d[i] are read before anything at or past i is written.
// The even source is ev[i * stride], the odd one od[i * stride].
TESSARY_TARGET_AVX2_FMA float forward_pair_scalar(const float* ev, const float* od, u64 stride,
                                                  u64 n, float* s, float* d, u64 lo, u64 hi,
                                                  float carry, float predict, float update,
                                                  float scale_s, float scale_d) {
  const u64 m = n / 2;
  const u64 a = n - m;
  for (u64 i = lo; i < hi; ++i) {
    const float even = ev[i * stride];
    float detail = carry;  // odd n, i == m: the last update uses d[m - 1] twice
    if (i < m) {
      const float right = (i + 1 < a) ? ev[(i + 1) * stride] : even;
      detail = fused(even + right, predict, od[i * stride]);
    }
    const float left = (i == 0) ? detail : carry;
    s[i] = fused(left + detail, update, even) * scale_s;
    if (i < m) d[i] = detail * scale_d;
    carry = detail;
  }
  return carry;
}

// Positions i .. i + 7 straight from the input; d[i - 1] is recomputed from
// the input rather than carried. Needs 1 <= i and i + 9 <= m, so that every
// position has both neighbours and x[2i - 2 .. 2i + 17] exist.
TESSARY_AVX_INLINE void forward_from_input_block(const float* x, float* s, float* d, u64 i,
                                                 __m256 predict, __m256 update) {
  const float* p = x + 2 * i;
  const __m256 a0 = _mm256_loadu_ps(p - 2);
  const __m256 a1 = _mm256_loadu_ps(p + 6);
  const __m256 b0 = _mm256_loadu_ps(p);
  const __m256 b1 = _mm256_loadu_ps(p + 8);
  const __m256 c0 = _mm256_loadu_ps(p + 2);
  const __m256 c1 = _mm256_loadu_ps(p + 10);
  // All in the shuffled lane order until the stores.
  const __m256 even_left = evens_shuffled(a0, a1);  // x[2i - 2], x[2i], ...
  const __m256 odd_left = odds_shuffled(a0, a1);    // x[2i - 1], ...
  const __m256 even = evens_shuffled(b0, b1);       // x[2i], ...
  const __m256 odd = odds_shuffled(b0, b1);         // x[2i + 1], ...
  const __m256 even_right = evens_shuffled(c0, c1); // x[2i + 2], ...
  const __m256 detail_left =
      _mm256_fmadd_ps(_mm256_add_ps(even_left, even), predict, odd_left);
  const __m256 detail = _mm256_fmadd_ps(_mm256_add_ps(even, even_right), predict, odd);
  const __m256 approx = _mm256_fmadd_ps(_mm256_add_ps(detail_left, detail), update, even);
  _mm256_storeu_ps(d + i, in_order(detail));
  _mm256_storeu_ps(s + i, in_order(approx));
}

TESSARY_TARGET_AVX2_FMA void forward_from_input_body(const float* x, u64 n, float* s, float* d,
                                                     float predict, float update) {
  const u64 m = n / 2;
  const u64 a = n - m;
  const __m256 vpredict = _mm256_set1_ps(predict);
  const __m256 vupdate = _mm256_set1_ps(update);
  forward_pair_scalar(x, x + 1, 2, n, s, d, 0, 1, 0.0f, predict, update, 1.0f, 1.0f);
  u64 i = 1;
  for (; i + 17 <= m; i += 16) {
    forward_from_input_block(x, s, d, i, vpredict, vupdate);
    forward_from_input_block(x, s, d, i + 8, vpredict, vupdate);
  }
  for (; i + 9 <= m; i += 8) forward_from_input_block(x, s, d, i, vpredict, vupdate);
  forward_pair_scalar(x, x + 1, 2, n, s, d, i, a, d[i - 1], predict, update, 1.0f, 1.0f);
}

// Positions i .. i + 7 in place. d[i - 1] was already overwritten with its
// scaled value, so the unscaled one comes from the previous block (`prev`).
// Needs 1 <= i and i + 9 <= m.
TESSARY_AVX_INLINE void forward_in_place_block(float* s, float* d, u64 i, __m256& prev,
                                               __m256 predict, __m256 update, __m256 scale_s,
                                               __m256 scale_d) {
  const __m256 even = _mm256_loadu_ps(s + i);
  const __m256 even_right = _mm256_loadu_ps(s + i + 1);
  const __m256 detail =
      _mm256_fmadd_ps(_mm256_add_ps(even, even_right), predict, _mm256_loadu_ps(d + i));
  const __m256 detail_left = shift_in(prev, detail);
  const __m256 approx = _mm256_fmadd_ps(_mm256_add_ps(detail_left, detail), update, even);
  _mm256_storeu_ps(s + i, _mm256_mul_ps(approx, scale_s));
  _mm256_storeu_ps(d + i, _mm256_mul_ps(detail, scale_d));
  prev = detail;
}

TESSARY_TARGET_AVX2_FMA void forward_in_place_body(float* s, float* d, u64 n, float predict,
                                                   float update, float scale_s, float scale_d) {
  const u64 m = n / 2;
  const u64 a = n - m;
  const __m256 vpredict = _mm256_set1_ps(predict);
  const __m256 vupdate = _mm256_set1_ps(update);
  const __m256 vscale_s = _mm256_set1_ps(scale_s);
  const __m256 vscale_d = _mm256_set1_ps(scale_d);
  const float head =
      forward_pair_scalar(s, d, 1, n, s, d, 0, 1, 0.0f, predict, update, scale_s, scale_d);
  __m256 prev = _mm256_set1_ps(head);
  u64 i = 1;
  for (; i + 17 <= m; i += 16) {
    forward_in_place_block(s, d, i, prev, vpredict, vupdate, vscale_s, vscale_d);
    forward_in_place_block(s, d, i + 8, prev, vpredict, vupdate, vscale_s, vscale_d);
  }
  for (; i + 9 <= m; i += 8) {
    forward_in_place_block(s, d, i, prev, vpredict, vupdate, vscale_s, vscale_d);
  }
  forward_pair_scalar(s, d, 1, n, s, d, i, a, last_lane(prev), predict, update, scale_s,
                      scale_d);
}

// ---- inverse pair -------------------------------------------------------
//
// Position j undoes the update of e[j] and then the predict of o[j], which
// needs the new e[j + 1]. The sources are never written, so e[j + 1] is
// simply computed again where it is needed (same operands, same value).

// The new e[j], borders included.
TESSARY_AVX_INLINE float undo_update_at(const float* s, const float* d, u64 j, u64 m,
                                        float update, float scale_s, float scale_d) {
  const float left = d[j == 0 ? 0 : j - 1] * scale_d;
  const float right = d[j < m ? j : m - 1] * scale_d;
  return fused(left + right, update, s[j] * scale_s);
}

TESSARY_TARGET_AVX2_FMA void inverse_pair_scalar(const float* s, const float* d, u64 n,
                                                 float* e_out, float* o_out, float* y, u64 lo,
                                                 u64 hi, float update, float predict,
                                                 float scale_s, float scale_d) {
  const u64 m = n / 2;
  const u64 a = n - m;
  for (u64 j = lo; j < hi; ++j) {
    const float even = undo_update_at(s, d, j, m, update, scale_s, scale_d);
    if (y != nullptr) {
      y[2 * j] = even;
    } else {
      e_out[j] = even;
    }
    if (j < m) {
      const float right =
          (j + 1 < a) ? undo_update_at(s, d, j + 1, m, update, scale_s, scale_d) : even;
      const float odd = fused(even + right, predict, d[j] * scale_d);
      if (y != nullptr) {
        y[2 * j + 1] = odd;
      } else {
        o_out[j] = odd;
      }
    }
  }
}

template <bool kScaled>
TESSARY_AVX_INLINE __m256 load_scaled(const float* p, __m256 scale) {
  if constexpr (kScaled) return _mm256_mul_ps(_mm256_loadu_ps(p), scale);
  return _mm256_loadu_ps(p);
}

// Positions j .. j + 7. Needs 1 <= j and j + 9 <= m.
template <bool kScaled, bool kInterleave>
TESSARY_AVX_INLINE void inverse_block(const float* s, const float* d, float* e_out, float* o_out,
                                      float* y, u64 j, __m256 update, __m256 predict,
                                      __m256 scale_s, __m256 scale_d) {
  const __m256 odd_left = load_scaled<kScaled>(d + j - 1, scale_d);
  const __m256 odd = load_scaled<kScaled>(d + j, scale_d);
  const __m256 odd_right = load_scaled<kScaled>(d + j + 1, scale_d);
  const __m256 even =
      _mm256_fmadd_ps(_mm256_add_ps(odd_left, odd), update, load_scaled<kScaled>(s + j, scale_s));
  const __m256 even_right = _mm256_fmadd_ps(_mm256_add_ps(odd, odd_right), update,
                                            load_scaled<kScaled>(s + j + 1, scale_s));
  const __m256 new_odd = _mm256_fmadd_ps(_mm256_add_ps(even, even_right), predict, odd);
  if constexpr (kInterleave) {
    // (e0 o0 e1 o1 | e4 o4 e5 o5) and (e2 o2 e3 o3 | e6 o6 e7 o7)
    const __m256 low = _mm256_unpacklo_ps(even, new_odd);
    const __m256 high = _mm256_unpackhi_ps(even, new_odd);
    _mm256_storeu_ps(y + 2 * j, _mm256_permute2f128_ps(low, high, 0x20));
    _mm256_storeu_ps(y + 2 * j + 8, _mm256_permute2f128_ps(low, high, 0x31));
  } else {
    _mm256_storeu_ps(e_out + j, even);
    _mm256_storeu_ps(o_out + j, new_odd);
  }
}

template <bool kScaled, bool kInterleave>
TESSARY_TARGET_AVX2_FMA void inverse_body(const float* s, const float* d, u64 n, float* e_out,
                                          float* o_out, float* y, float update, float predict,
                                          float scale_s, float scale_d) {
  const u64 m = n / 2;
  const u64 a = n - m;
  const __m256 vupdate = _mm256_set1_ps(update);
  const __m256 vpredict = _mm256_set1_ps(predict);
  const __m256 vscale_s = _mm256_set1_ps(scale_s);
  const __m256 vscale_d = _mm256_set1_ps(scale_d);
  inverse_pair_scalar(s, d, n, e_out, o_out, y, 0, 1, update, predict, scale_s, scale_d);
  u64 j = 1;
  for (; j + 17 <= m; j += 16) {
    inverse_block<kScaled, kInterleave>(s, d, e_out, o_out, y, j, vupdate, vpredict, vscale_s,
                                        vscale_d);
    inverse_block<kScaled, kInterleave>(s, d, e_out, o_out, y, j + 8, vupdate, vpredict,
                                        vscale_s, vscale_d);
  }
  for (; j + 9 <= m; j += 8) {
    inverse_block<kScaled, kInterleave>(s, d, e_out, o_out, y, j, vupdate, vpredict, vscale_s,
                                        vscale_d);
  }
  inverse_pair_scalar(s, d, n, e_out, o_out, y, j, a, update, predict, scale_s, scale_d);
}

#undef TESSARY_AVX_INLINE

}  // namespace

void AvxLiftingF32::forward_from_input(const float* x, std::uint64_t n, float* s, float* d,
                                       float predict, float update) {
  forward_from_input_body(x, n, s, d, predict, update);
}

void AvxLiftingF32::forward_in_place(float* s, float* d, std::uint64_t n, float predict,
                                     float update, float scale_s, float scale_d) {
  forward_in_place_body(s, d, n, predict, update, scale_s, scale_d);
}

void AvxLiftingF32::inverse_to_bands(const float* s, const float* d, std::uint64_t n,
                                     float* e_out, float* o_out, float update, float predict,
                                     float scale_s, float scale_d) {
  inverse_body<true, false>(s, d, n, e_out, o_out, nullptr, update, predict, scale_s, scale_d);
}

void AvxLiftingF32::inverse_to_signal(const float* s, const float* d, std::uint64_t n, float* y,
                                      float update, float predict) {
  inverse_body<false, true>(s, d, n, nullptr, nullptr, y, update, predict, 1.0f, 1.0f);
}

}  // namespace tessary::avx
