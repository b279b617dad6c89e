// Container -> signal: the mirror of the compressor.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "error.h"

namespace corvane {

// Decodes a whole container (bytes after its payload are ignored) into
// exactly the stored number of float samples.
CResult<std::vector<float>> decompress(std::span<const std::uint8_t> data);

}  // namespace corvane
