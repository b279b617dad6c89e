// What a compression method asks of the wavelet engine: the executor that
// runs it, the length it transforms and the number of levels. Every executor
// the codec uses is built by make_executor, so both directions of a method
// run the same transform.
#pragma once

#include <cstdint>
#include <span>

#include "executor.h"
#include "error.h"
#include "cpu/cpu_features.h"
#include "options.h"

namespace corvane {

// Builds the executor of a method on the kernel path that a feature word
// selects, or the engine's AllocationFailed with the bytes it could not have.
using ExecutorMaker = tessary::TResult<tessary::DwtExecutorHandle<float>> (*)(
    CompressionMethod, tessary::CpuFeatures);

// The codec's executors: CDF 5/3 and CDF 9/7 lifting, and the 8-tap
// Daubechies (db4) and Symlet (sym4) banks with periodic borders.
tessary::TResult<tessary::DwtExecutorHandle<float>> make_executor(CompressionMethod method,
                                                                  tessary::CpuFeatures features);

// The transforms a pipeline runs: the executors `maker` builds for the
// feature word `features`. The default is this processor's word and
// make_executor; tests choose another kernel path (the coefficients differ
// in rounding between paths) or a maker that fails.
struct TransformPath {
  TransformPath();
  TransformPath(tessary::CpuFeatures word, ExecutorMaker made_by = &make_executor)  // NOLINT
      : features(word), maker(made_by) {}

  tessary::CpuFeatures features;
  ExecutorMaker maker;
};

// The executor of `method` on `path`, or OutOfMemory with the bytes the
// maker could not have.
CResult<tessary::DwtExecutorHandle<float>> executor_for(CompressionMethod method,
                                                        const TransformPath& path);

// Signals shorter than the filter are transformed extended periodically to
// the filter length, so their bands follow from that length.
std::uint64_t transformed_length(std::uint64_t sample_count, std::uint64_t filter_length);

// Levels for long signals: 1 when the signal is shorter than the filter or
// holds it only once, otherwise floor(log2(n / filter_length)), at most 8.
std::uint64_t compute_max_levels(std::uint64_t signal_length, std::uint64_t filter_length);

// The levels the compressor uses for a signal of n samples (unpadded): 1, 2,
// 3 or 4 below 20, 40, 60 and 80 samples, compute_max_levels from there on.
std::uint64_t levels_for_length(std::uint64_t n, std::uint64_t filter_length);

// The bands of a signal of `sample_count` samples (unpadded) decomposed to
// bands.size() levels by `executor`, finest level first, split from the
// length the compressor transforms; returns the coefficient count, the
// deepest approximation plus every details band. This is the container's
// layout rule: the compressor checks a coder's limit with it before any
// work, and the decoder locates the bands with it.
std::uint64_t plan_bands(const tessary::DwtExecutor<float>& executor, std::uint64_t sample_count,
                         std::span<tessary::BandSizes> bands);

// An engine error from a transform as the codec reports it: a failed
// allocation is OutOfMemory with the bytes the engine asked for, anything
// else Transform with the engine's sentence.
CorvaneError transform_error(const tessary::TessaryError& error);

// The levels a container may claim.
inline constexpr std::uint8_t kMinLevels = 1;
inline constexpr std::uint8_t kMaxLevels = 10;

}  // namespace corvane
