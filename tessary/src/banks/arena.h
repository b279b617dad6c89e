// The padded arena of the generic filter bank: a copy of the signal with
// `left` extended samples before it and `right` after it, by a border mode.
//
//   arena[k] = ext(k - left),  k = 0 .. left + n + right - 1
//
// Three writers (portable, SSE4.1, AVX2) produce bit-identical arenas: they
// share the decision of which samples go where and differ only in how runs
// of samples are moved. One of them is chosen once per process.
#pragma once

#include <cstdint>
#include <span>

#include "core/border_mode.h"
#include "core/error.h"
#include "cpu/cpu_features.h"

namespace tessary {

// Fails with ScratchSizeMismatch (left + n + right, arena length) and writes
// nothing when the arena does not have exactly that length.
using ArenaWriter = TResult<> (*)(std::span<const float> input, std::span<float> arena,
                                  std::uint64_t left, std::uint64_t right, BorderMode mode);

// How a writer moves samples; every pointer is to non-overlapping storage.
struct ArenaMoves {
  void (*fill)(float* dst, float value, std::uint64_t count);
  void (*copy)(float* dst, const float* src, std::uint64_t count);
  // dst[i] = src_last[-i] for i < count.
  void (*copy_reversed)(float* dst, const float* src_last, std::uint64_t count);
};

// Lays out the arena as runs of constant, copied or reversed samples and
// hands each run to `moves`. Pads of any length are accepted: longer than
// the signal they follow border_source_index's continuation.
TResult<> write_arena_with(const ArenaMoves& moves, std::span<const float> input,
                           std::span<float> arena, std::uint64_t left, std::uint64_t right,
                           BorderMode mode);

// The portable writer.
TResult<> write_arena(std::span<const float> input, std::span<float> arena, std::uint64_t left,
                      std::uint64_t right, BorderMode mode);

// The writer of one path, whatever this processor supports (tests call each);
// the portable writer for a path this build does not hold.
ArenaWriter arena_writer(ArenaWriterPath path);

// The process-wide writer: chosen by choose_arena_writer_path from the
// feature word on the first call, then fixed for the life of the process
// (concurrent first callers wait for the choice).
ArenaWriter chosen_arena_writer();

}  // namespace tessary
