#include "avx/arena.h"

#include <immintrin.h>

#include "banks/arena.h"
#include "core/target.h"

namespace tessary::avx {
namespace {

TESSARY_TARGET_AVX2 void fill_avx2(float* dst, float value, std::uint64_t count) {
  const __m256 v = _mm256_set1_ps(value);
  std::uint64_t i = 0;
  for (; i + 8 <= count; i += 8) _mm256_storeu_ps(dst + i, v);
  for (; i < count; ++i) dst[i] = value;
}

TESSARY_TARGET_AVX2 void copy_avx2(float* dst, const float* src, std::uint64_t count) {
  std::uint64_t i = 0;
  for (; i + 8 <= count; i += 8) _mm256_storeu_ps(dst + i, _mm256_loadu_ps(src + i));
  for (; i < count; ++i) dst[i] = src[i];
}

TESSARY_TARGET_AVX2 void copy_reversed_avx2(float* dst, const float* src_last,
                                            std::uint64_t count) {
  const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
  std::uint64_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256 v = _mm256_loadu_ps(src_last - i - 7);
    _mm256_storeu_ps(dst + i, _mm256_permutevar8x32_ps(v, reverse));
  }
  for (; i < count; ++i) dst[i] = *(src_last - i);
}

}  // namespace

TResult<> write_arena(std::span<const float> input, std::span<float> arena, std::uint64_t left,
                      std::uint64_t right, BorderMode mode) {
  const ArenaMoves moves{fill_avx2, copy_avx2, copy_reversed_avx2};
  return write_arena_with(moves, input, arena, left, right, mode);
}

}  // namespace tessary::avx
