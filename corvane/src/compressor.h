// Signal -> container: sanitise, normalise, wavelet decomposition,
// quantisation to 16-bit integers, detail cut-off, entropy coding, header.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "error.h"
#include "tessary.h"

namespace corvane {

// Largest sample count a container can describe (its count field is read as
// a signed 32-bit value).
inline constexpr std::uint64_t kMaxSampleCount = 2147483647;

// Builds the executor for a method on a given kernel path. make_executor is
// the one the codec uses; tests pass one that fails.
using ExecutorMaker = tessary::DwtExecutorHandle<float> (*)(CompressionMethod,
                                                              tessary::CpuFeatures);

// Compresses `samples` (never modified) into a whole container.
CResult<tessary::Buffer<std::uint8_t>> compress(std::span<const float> samples,
                                                const CompressionOptions& options);
// The same with the transform path that `features` selects instead of this
// processor's (the coefficients may differ in rounding between paths).
CResult<tessary::Buffer<std::uint8_t>> compress(std::span<const float> samples,
                                                const CompressionOptions& options,
                                                tessary::CpuFeatures features);
// float64 samples, each rounded to the nearest float as it is copied: the
// same container as for the rounded float32 array, without a separate
// conversion pass or buffer.
CResult<tessary::Buffer<std::uint8_t>> compress(std::span<const double> samples,
                                                const CompressionOptions& options);
CResult<tessary::Buffer<std::uint8_t>> compress(std::span<const double> samples,
                                                const CompressionOptions& options,
                                                tessary::CpuFeatures features);
// The same with the executor built by `maker`. The family factories give an
// empty handle when they run out of memory; that is OutOfMemory, not a crash.
CResult<tessary::Buffer<std::uint8_t>> compress(std::span<const float> samples,
                                                const CompressionOptions& options,
                                                tessary::CpuFeatures features, ExecutorMaker maker);

// Levels for long signals: 1 when the signal is shorter than the filter or
// holds it only once, otherwise floor(log2(n / filter_length)), at most 8.
std::uint64_t compute_max_levels(std::uint64_t signal_length, std::uint64_t filter_length);

// The level rule the compressor applies to the unpadded length.
std::uint64_t levels_for_length(std::uint64_t signal_length, std::uint64_t filter_length);

// Quantised details whose magnitude is below this become zero.
std::int32_t cutoff_threshold(std::uint8_t scale, CutoffLevel cutoff);

// The rANS decoder refuses streams of more than 2^28 coefficient pairs, so a
// signal with more coefficients can only be stored with DEFLATE.
CStatus check_coder_capacity(EntropyCoder coder, std::uint64_t coefficient_count);

// The executor that both directions use for a method, on this processor or
// on the path that `features` selects.
tessary::DwtExecutorHandle<float> make_executor(CompressionMethod method);
tessary::DwtExecutorHandle<float> make_executor(CompressionMethod method,
                                                    tessary::CpuFeatures features);

}  // namespace corvane
