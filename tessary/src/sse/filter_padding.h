// Arena writer moving runs with 128-bit stores; needs SSE4.1.
#pragma once

#include <cstdint>
#include <span>

#include "border_mode.h"
#include "err.h"

namespace tessary::sse {

Status write_arena_1d_sse4_1(std::span<const float> input, std::span<float> arena,
                             std::uint64_t left, std::uint64_t right, BorderMode mode);

}  // namespace tessary::sse
