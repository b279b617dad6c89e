#include "banks/arena.h"

#include <algorithm>
#include <limits>

#if TESSARY_HAVE_X86_KERNELS
#include "avx/arena.h"
#include "sse/arena.h"
#endif

namespace tessary {
namespace {

void fill_scalar(float* dst, float value, std::uint64_t count) {
  for (std::uint64_t i = 0; i < count; ++i) dst[i] = value;
}

void copy_scalar(float* dst, const float* src, std::uint64_t count) {
  for (std::uint64_t i = 0; i < count; ++i) dst[i] = src[i];
}

void copy_reversed_scalar(float* dst, const float* src_last, std::uint64_t count) {
  for (std::uint64_t i = 0; i < count; ++i) dst[i] = *(src_last - i);
}

constexpr ArenaMoves kScalarMoves{fill_scalar, copy_scalar, copy_reversed_scalar};

}  // namespace

TResult<> write_arena_with(const ArenaMoves& moves, std::span<const float> input,
                           std::span<float> arena, std::uint64_t left, std::uint64_t right,
                           BorderMode mode) {
  const std::uint64_t n = input.size();
  std::uint64_t expected = 0;
  if (__builtin_add_overflow(left, n, &expected) ||
      __builtin_add_overflow(expected, right, &expected)) {
    expected = std::numeric_limits<std::uint64_t>::max();
  }
  if (expected != arena.size()) {
    return make_error(TessaryErrorKind::ScratchSizeMismatch, expected, arena.size());
  }
  float* const a = arena.data();
  float* const after = a + left + n;
  const float* const x = input.data();
  if (n == 0 || mode == BorderMode::Zeros) {
    // An empty signal has nothing to extend with; it pads with zeros too.
    moves.fill(a, 0.0f, left);
    moves.fill(after, 0.0f, right);
    if (n != 0) moves.copy(a + left, x, n);
    return {};
  }
  moves.copy(a + left, x, n);
  if (mode == BorderMode::Clamp || n == 1) {
    // A one-sample signal extends as copies of that sample in every mode but Zeros.
    moves.fill(a, x[0], left);
    moves.fill(after, x[n - 1], right);
    return {};
  }

  // Periodic and mirrored modes: each run follows the signal forwards (Wrap)
  // or backwards (mirrors) until it meets an end of the signal or of the pad.
  const BorderInterpolation border =
      BorderInterpolation::create(mode, 0, static_cast<std::int64_t>(n));
  const auto signed_left = static_cast<std::int64_t>(left);
  const std::uint64_t total = expected;
  auto write_runs = [&](std::uint64_t begin, std::uint64_t end) {
    // Left runs of Reflect101 stop at x[1]; every other backward run at x[0].
    for (std::uint64_t k = begin; k < end;) {
      const std::int64_t s = static_cast<std::int64_t>(k) - signed_left;
      const auto idx = static_cast<std::uint64_t>(
          border_source_index(mode, s, border.length, border.divider));
      const std::uint64_t room = end - k;
      std::uint64_t run = 0;
      if (mode == BorderMode::Wrap) {
        run = std::min(n - idx, room);
        moves.copy(a + k, x + idx, run);
      } else {
        const std::uint64_t lowest = (mode == BorderMode::Reflect101 && s < 0) ? 1 : 0;
        run = std::min(idx + 1 - lowest, room);
        moves.copy_reversed(a + k, x + idx, run);
      }
      k += run;
    }
  };
  write_runs(0, left);
  write_runs(left + n, total);
  return {};
}

TResult<> write_arena(std::span<const float> input, std::span<float> arena, std::uint64_t left,
                      std::uint64_t right, BorderMode mode) {
  return write_arena_with(kScalarMoves, input, arena, left, right, mode);
}

ArenaWriter arena_writer(ArenaWriterPath path) {
  switch (path) {
#if TESSARY_HAVE_X86_KERNELS
    case ArenaWriterPath::Avx2:
      return avx::write_arena;
    case ArenaWriterPath::Sse41:
      return sse::write_arena;
#else
    // Not built for this processor (no word supports them): the portable writer.
    case ArenaWriterPath::Avx2:
    case ArenaWriterPath::Sse41:
#endif
    case ArenaWriterPath::Portable:
      break;
  }
  return write_arena;
}

ArenaWriter chosen_arena_writer() {
  // The process-wide slot: a function-local static is initialised exactly
  // once, and concurrent first callers wait for that initialisation.
  static const ArenaWriter chosen = arena_writer(choose_arena_writer_path(cpu_features()));
  return chosen;
}

}  // namespace tessary
