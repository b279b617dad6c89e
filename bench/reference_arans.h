// A bench-only copy of the rANS coder's earlier loops (same stream format,
// same bytes), the baseline of the coder benchmark.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "coders/arans.h"

namespace bench_reference {

std::vector<std::uint8_t> encode_stream(std::span<const std::uint8_t> input);
corvane::arans::AResult<std::vector<std::uint8_t>> decode_stream(
    std::span<const std::uint8_t> stream);

}  // namespace bench_reference
