// Arena writer moving runs with 256-bit stores; needs AVX2.
#pragma once

#include <cstdint>
#include <span>

#include "border_mode.h"
#include "err.h"

namespace tessary::avx {

Status write_arena_1d_avx(std::span<const float> input, std::span<float> arena,
                          std::uint64_t left, std::uint64_t right, BorderMode mode);

}  // namespace tessary::avx
