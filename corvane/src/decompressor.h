// Container -> signal: the mirror of the compressor.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "compressor.h"
#include "core/buffer.h"
#include "error.h"
#include "tessary.h"

namespace corvane {

// Decodes a whole container (bytes after its payload are ignored) into
// exactly the stored number of float samples.
CResult<tessary::Buffer<float>> decompress(std::span<const std::uint8_t> data);
// The same with the transform path that `features` selects.
CResult<tessary::Buffer<float>> decompress(std::span<const std::uint8_t> data,
                                           tessary::CpuFeatures features);
// The same with the executor built by `maker`; an empty handle (a factory
// out of memory) is OutOfMemory.
CResult<tessary::Buffer<float>> decompress(std::span<const std::uint8_t> data,
                                           tessary::CpuFeatures features, ExecutorMaker maker);

}  // namespace corvane
