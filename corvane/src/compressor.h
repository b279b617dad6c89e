// Signal -> container: sanitise, normalise, wavelet decomposition,
// quantisation to 16-bit integers, detail cut-off, entropy coding, header.
#pragma once

#include <cstdint>
#include <span>

#include "core/buffer.h"
#include "error.h"
#include "methods.h"
#include "options.h"

namespace corvane {

// Compresses `samples` (never modified) into a whole container. float64
// samples are rounded to the nearest float as they are copied: the same
// container as for the rounded float32 array, without a separate conversion
// pass or buffer.
CResult<tessary::Buffer<std::uint8_t>> compress(std::span<const float> samples,
                                                const CompressionOptions& options,
                                                const TransformPath& path = {});
CResult<tessary::Buffer<std::uint8_t>> compress(std::span<const double> samples,
                                                const CompressionOptions& options,
                                                const TransformPath& path = {});

}  // namespace corvane
