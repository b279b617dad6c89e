// Judging compression options for one signal without making containers:
// the samples decompress(compress(signal, options)) returns, their errors
// against the signal, and the container's length. The signal is sanitised
// and normalised once and each method's transform is computed once; a
// candidate then costs a quantisation, an inverse transform and a pass over
// the signal for its errors, or a quantisation and a pass of the rANS
// model for bounds on its length. Every step is the pipelines' own (stages.h,
// the executors of methods.h, the coders), so the results are those of the
// pipelines on the same transform path, bit for bit.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "core/buffer.h"
#include "error.h"
#include "executor.h"
#include "methods.h"
#include "options.h"
#include "stages.h"
#include "stream_length.h"

namespace corvane {

// Differences between the decoded samples and the given ones, in double.
struct CandidateErrors {
  double max_abs;  // NaN when a given sample is NaN
  // Summed in kSumLanes lanes (sample i in lane i % kSumLanes, each in index
  // order), then (lane 0 + lane 1) + (lane 2 + lane 3).
  double sum_of_squares;
};
inline constexpr std::size_t kSumLanes = 4;

class CandidateEvaluator {
 public:
  // For a signal of float or double samples (copied; the errors are judged
  // against them as given, in double). Fails as compress would for an empty
  // or over-long signal or one whose range overflows float.
  static CResult<CandidateEvaluator> create(std::span<const float> samples,
                                            const TransformPath& path = {});
  static CResult<CandidateEvaluator> create(std::span<const double> samples,
                                            const TransformPath& path = {});

  // What decompress(compress(signal, options)) returns.
  CResult<tessary::Buffer<float>> decoded(const CompressionOptions& options);

  // Its differences from the signal, without keeping the decoded samples.
  CResult<CandidateErrors> errors(const CompressionOptions& options);

  // The length of compress(signal, options): exact, by running the options'
  // coder without keeping its output.
  CResult<std::uint64_t> container_size(const CompressionOptions& options);

  // Bounds on that length: from a pass of the model for rANS (Arans, Auto),
  // the exact length for DEFLATE, which has no model to bound it from.
  CResult<LengthRange> container_size_range(const CompressionOptions& options);

 private:
  template <class Sample>
  static CResult<CandidateEvaluator> create_from(std::span<const Sample> samples,
                                                 const TransformPath& path);

  CandidateEvaluator(const TransformPath& path, tessary::Buffer<float> normalised,
                     Extremes extremes, float mean)
      : path_(path), normalised_(std::move(normalised)), extremes_(extremes), mean_(mean) {}

  // Computes the transform of `method` unless it is the one held.
  CResult<> transform(CompressionMethod method);
  // The inverse transform of the candidate's dequantised coefficients,
  // before the normalisation is undone.
  CResult<tessary::Buffer<float>> reconstructed(const CompressionOptions& options);
  // The candidate's coefficient string.
  CResult<std::span<const std::uint8_t>> coefficient_string(const CompressionOptions& options);
  // The coefficients of the held transform's kept bands.
  std::uint64_t coefficient_count() const;
  // Calls visit(band, threshold, offset) for every kept band of the held
  // transform in coefficient-string order.
  template <class Visit>
  void for_each_band(std::int32_t detail_threshold, Visit&& visit) const;

  TransformPath path_;
  tessary::Buffer<float> normalised_;  // the sanitised, normalised signal
  Extremes extremes_;
  float mean_;
  // The given samples, in the type they came in (the other stays empty).
  tessary::Buffer<float> given_floats_;
  tessary::Buffer<double> given_doubles_;

  // The transform held: its method, executor and bands (the deepest
  // approximation and every level's details).
  std::optional<CompressionMethod> method_;
  tessary::DwtExecutorHandle<float> executor_;
  tessary::MultiDwt<float> bands_;

  // Scratch kept between candidates: dequantised coefficients, quantised
  // planes, a coder's output.
  tessary::Buffer<float> coefficients_;
  tessary::Buffer<std::int16_t> planes_;
  tessary::Buffer<std::uint8_t> payload_;
};

}  // namespace corvane
