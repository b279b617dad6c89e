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

#include "border_mode.h"
#include "err.h"
#include "factory.h"

namespace tessary {

// Fails with ScratchSizeMismatch (left + n + right, arena length) and writes
// nothing when the arena does not have exactly that length.
using ArenaWriter1d = Status (*)(std::span<const float> input, std::span<float> arena,
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
Status write_arena_1d_with(const ArenaMoves& moves, std::span<const float> input,
                           std::span<float> arena, std::uint64_t left, std::uint64_t right,
                           BorderMode mode);

// The portable writer.
Status write_arena_1d_impl(std::span<const float> input, std::span<float> arena,
                           std::uint64_t left, std::uint64_t right, BorderMode mode);

// The writer of one path, whatever this processor supports (tests call each).
ArenaWriter1d arena_writer_1d(ArenaWriterPath path);

template <class T>
struct MakeArenaFactoryProvider;

template <>
struct MakeArenaFactoryProvider<float> {
  // The writer for this processor, chosen on the first call and then fixed
  // for the life of the process (concurrent first callers wait for it).
  static ArenaWriter1d make_arena_writer_1d_executor();
};

}  // namespace tessary
