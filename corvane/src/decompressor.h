// Container -> signal: the mirror of the compressor.
#pragma once

#include <cstdint>
#include <span>

#include "core/buffer.h"
#include "error.h"
#include "methods.h"

namespace corvane {

// Decodes a whole container (bytes after its payload are ignored) into
// exactly the stored number of float samples.
CResult<tessary::Buffer<float>> decompress(std::span<const std::uint8_t> data,
                                           const TransformPath& path = {});

}  // namespace corvane
