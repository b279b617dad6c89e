// Arena writer moving runs with 256-bit stores; needs AVX2.
#pragma once

#include <cstdint>
#include <span>

#include "core/border_mode.h"
#include "core/error.h"

namespace tessary::avx {

TResult<> write_arena(std::span<const float> input, std::span<float> arena, std::uint64_t left,
                      std::uint64_t right, BorderMode mode);

}  // namespace tessary::avx
