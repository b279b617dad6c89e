// Arena writer moving runs with 128-bit stores; needs SSE4.1.
#pragma once

#include <cstdint>
#include <span>

#include "core/border_mode.h"
#include "core/error.h"

namespace tessary::sse {

TResult<> write_arena(std::span<const float> input, std::span<float> arena, std::uint64_t left,
                      std::uint64_t right, BorderMode mode);

}  // namespace tessary::sse
