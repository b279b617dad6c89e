#include "sse/arena.h"

#include <immintrin.h>

#include "banks/arena.h"
#include "core/target.h"

namespace tessary::sse {
namespace {

TESSARY_TARGET_SSE41 void fill_sse41(float* dst, float value, std::uint64_t count) {
  const __m128 v = _mm_set1_ps(value);
  std::uint64_t i = 0;
  for (; i + 4 <= count; i += 4) _mm_storeu_ps(dst + i, v);
  for (; i < count; ++i) dst[i] = value;
}

TESSARY_TARGET_SSE41 void copy_sse41(float* dst, const float* src, std::uint64_t count) {
  std::uint64_t i = 0;
  for (; i + 4 <= count; i += 4) _mm_storeu_ps(dst + i, _mm_loadu_ps(src + i));
  for (; i < count; ++i) dst[i] = src[i];
}

TESSARY_TARGET_SSE41 void copy_reversed_sse41(float* dst, const float* src_last,
                                              std::uint64_t count) {
  std::uint64_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128 v = _mm_loadu_ps(src_last - i - 3);
    _mm_storeu_ps(dst + i, _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3)));
  }
  for (; i < count; ++i) dst[i] = *(src_last - i);
}

}  // namespace

TResult<> write_arena(std::span<const float> input, std::span<float> arena, std::uint64_t left,
                      std::uint64_t right, BorderMode mode) {
  const ArenaMoves moves{fill_sse41, copy_sse41, copy_reversed_sse41};
  return write_arena_with(moves, input, arena, left, right, mode);
}

}  // namespace tessary::sse
