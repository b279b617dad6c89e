#include "candidates.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "coders/coder.h"
#include "core/memory.h"
#include "header.h"

namespace corvane {
namespace {

static_assert(std::endian::native == std::endian::little,
              "the coefficient string is the in-memory int16 array on a little-endian host");

template <class Sample>
CResult<tessary::Buffer<Sample>> copy_of(std::span<const Sample> samples) {
  auto made = tessary::Buffer<Sample>::for_overwrite(samples.size());
  if (!made) return CorvaneError::out_of_memory(made.error());
  std::memcpy(made.value().data(), samples.data(), samples.size_bytes());
  return std::move(made).value();
}

// Running maxima and sums of squares in kSumLanes lanes, sample i going to
// lane i % kSumLanes: one serial chain of double additions would take most
// of the pass.
struct Tally {
  double worst[kSumLanes] = {};
  double squares[kSumLanes] = {};

  void add(std::size_t lane, double d) {
    worst[lane] = std::max(worst[lane], std::abs(d));
    squares[lane] += d * d;
  }
};

// Adds given[i] - sample(i) for i in [begin, end) to the tally.
template <class Sample, class Decoded>
void tally_range(std::span<const Sample> given, std::size_t begin, std::size_t end,
                 Decoded&& sample, Tally& t) {
  std::size_t i = begin;
  for (; i < end && i % kSumLanes != 0; ++i) {
    t.add(i % kSumLanes, static_cast<double>(sample(i)) - static_cast<double>(given[i]));
  }
  for (; i + kSumLanes <= end; i += kSumLanes) {
    for (std::size_t lane = 0; lane < kSumLanes; ++lane) {
      t.add(lane, static_cast<double>(sample(i + lane)) - static_cast<double>(given[i + lane]));
    }
  }
  for (; i < end; ++i) {
    t.add(i % kSumLanes, static_cast<double>(sample(i)) - static_cast<double>(given[i]));
  }
}

// The decoded samples' differences from the given ones: the reconstruction
// with its normalisation undone where it reaches, and the decoder's 0.0
// after its end (see decompress).
template <class Sample>
CandidateErrors compare(std::span<const float> reconstruction, std::span<const Sample> given,
                        const Extremes& extremes, float mean) {
  const float range = extremes.max - extremes.min;
  const float min = extremes.min;
  const float* y = reconstruction.data();
  const std::size_t reached = std::min(reconstruction.size(), given.size());
  Tally t;
  tally_range(given, 0, reached,
              [=](std::size_t i) { return denormalised(y[i], mean, range, min); }, t);
  tally_range(given, reached, given.size(), [](std::size_t) { return 0.0f; }, t);
  double worst = 0.0;
  for (double w : t.worst) worst = std::max(worst, w);
  static_assert(kSumLanes == 4, "the lanes are combined as the header says");
  const double squares = (t.squares[0] + t.squares[1]) + (t.squares[2] + t.squares[3]);
  // std::max passes over NaN; a NaN sample makes the sum NaN too.
  return {std::isnan(squares) ? squares : worst, squares};
}

}  // namespace

template <class Sample>
CResult<CandidateEvaluator> CandidateEvaluator::create_from(std::span<const Sample> samples,
                                                            const TransformPath& path) {
  const std::uint64_t n = samples.size();
  if (auto s = check_sample_count(n); !s) return std::move(s).error();
  auto made = tessary::Buffer<float>::for_overwrite(n);
  if (!made) return CorvaneError::out_of_memory(made.error());
  tessary::Buffer<float> normalised = std::move(made).value();
  const Extremes extremes = copy_sanitised(samples, normalised.data());
  auto mean = normalise_sanitised(normalised, extremes);
  if (!mean) return std::move(mean).error();

  auto given = copy_of(samples);
  if (!given) return std::move(given).error();
  CandidateEvaluator evaluator(path, std::move(normalised), extremes, mean.value());
  if constexpr (std::is_same_v<Sample, float>) {
    evaluator.given_floats_ = std::move(given).value();
  } else {
    evaluator.given_doubles_ = std::move(given).value();
  }
  return evaluator;
}

CResult<CandidateEvaluator> CandidateEvaluator::create(std::span<const float> samples,
                                                       const TransformPath& path) {
  return create_from(samples, path);
}

CResult<CandidateEvaluator> CandidateEvaluator::create(std::span<const double> samples,
                                                       const TransformPath& path) {
  return create_from(samples, path);
}

CResult<> CandidateEvaluator::transform(CompressionMethod method) {
  if (method_ == method) return {};
  // The held bands go first, so that their pages can serve the new ones.
  method_.reset();
  bands_ = {};
  executor_.reset();

  auto made_executor = executor_for(method, path_);
  if (!made_executor) return std::move(made_executor).error();
  tessary::DwtExecutorHandle<float> executor = std::move(made_executor).value();
  const std::uint64_t n = normalised_.size();
  const std::uint64_t filter_length = executor->filter_length();

  // A signal shorter than the filter is transformed extended to its length.
  std::span<const float> input = normalised_;
  tessary::Buffer<float> padded;
  if (transformed_length(n, filter_length) > n) {
    auto made = tessary::Buffer<float>::for_overwrite(transformed_length(n, filter_length));
    if (!made) return CorvaneError::out_of_memory(made.error());
    padded = std::move(made).value();
    std::memcpy(padded.data(), normalised_.data(), n * sizeof(float));
    pad_periodically(padded, n);
    input = padded;
  }
  auto decomposed = decompose(*executor, input, levels_for_length(n, filter_length));
  if (!decomposed) return std::move(decomposed).error();
  tessary::MultiDwt<float> bands = std::move(decomposed).value();
  // Only the deepest approximation is coded.
  for (std::size_t k = 0; k + 1 < bands.levels.size(); ++k) bands.levels[k].approximations.reset();

  bands_ = std::move(bands);
  executor_ = std::move(executor);
  method_ = method;
  return {};
}

std::uint64_t CandidateEvaluator::coefficient_count() const {
  std::uint64_t count = bands_.levels.back().approximations.size();
  for (const auto& level : bands_.levels) count += level.details.size();
  return count;
}

template <class Visit>
void CandidateEvaluator::for_each_band(std::int32_t detail_threshold, Visit&& visit) const {
  std::uint64_t at = 0;
  const tessary::Buffer<float>& approximation = bands_.levels.back().approximations;
  visit(std::span<const float>(approximation), 0, at);
  at += approximation.size();
  for (const auto& level : bands_.levels) {
    visit(std::span<const float>(level.details), detail_threshold, at);
    at += level.details.size();
  }
}

CResult<tessary::Buffer<float>> CandidateEvaluator::reconstructed(
    const CompressionOptions& options) {
  if (auto s = transform(options.method()); !s) return std::move(s).error();
  const std::uint64_t count = coefficient_count();
  if (auto s = coefficients_.resize_for_overwrite(count); !s) {
    return CorvaneError::out_of_memory(s.error());
  }
  tessary::MultiDwtRef<float> ref;
  if (auto s = tessary::try_resize(ref.details, bands_.levels.size()); !s) {
    return CorvaneError::out_of_memory(s.error());
  }
  // The bands as the decoder sees them, in the order of the coefficient
  // string: the approximation, then the details finest first.
  const float step = quantisation_step(options.scale());
  const float inverse_step = dequantisation_step(options.scale());
  std::size_t visited = 0;
  for_each_band(cutoff_threshold(options.scale(), options.cutoff()),
                [&](std::span<const float> band, std::int32_t threshold, std::uint64_t at) {
                  requantise(band, step, threshold, inverse_step, coefficients_.data() + at);
                  const std::span<const float> kept(coefficients_.data() + at, band.size());
                  if (visited == 0) {
                    ref.approximation = kept;
                  } else {
                    ref.details[visited - 1] = kept;
                  }
                  ++visited;
                });
  auto out = executor_->multi_idwt(ref);
  if (!out) return transform_error(out.error());
  return std::move(out).value();
}

CResult<tessary::Buffer<float>> CandidateEvaluator::decoded(const CompressionOptions& options) {
  auto made = reconstructed(options);
  if (!made) return made;
  tessary::Buffer<float> out = std::move(made).value();
  denormalise(out, extremes_.min, extremes_.max, mean_);
  if (auto s = out.resize(normalised_.size()); !s) return CorvaneError::out_of_memory(s.error());
  return out;
}

CResult<CandidateErrors> CandidateEvaluator::errors(const CompressionOptions& options) {
  auto made = reconstructed(options);
  if (!made) return std::move(made).error();
  const std::span<const float> reconstruction = made.value();
  if (given_doubles_.size() > 0) {
    return compare(reconstruction, std::span<const double>(given_doubles_), extremes_, mean_);
  }
  return compare(reconstruction, std::span<const float>(given_floats_), extremes_, mean_);
}

CResult<std::span<const std::uint8_t>> CandidateEvaluator::coefficient_string(
    const CompressionOptions& options) {
  if (auto s = transform(options.method()); !s) return std::move(s).error();
  const std::uint64_t count = coefficient_count();
  if (auto s = planes_.resize_for_overwrite(count); !s) {
    return CorvaneError::out_of_memory(s.error());
  }
  const float step = quantisation_step(options.scale());
  for_each_band(cutoff_threshold(options.scale(), options.cutoff()),
                [&](std::span<const float> band, std::int32_t threshold, std::uint64_t at) {
                  quantise(band, step, threshold, planes_.data() + at);
                });
  return std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(planes_.data()),
                                       planes_.size() * 2);
}

CResult<std::uint64_t> CandidateEvaluator::container_size(const CompressionOptions& options) {
  auto string = coefficient_string(options);
  if (!string) return std::move(string).error();
  const coders::Coder& coder = coders::coder_for(options.coder());
  if (auto s = coders::check_capacity(coder, planes_.size()); !s) return std::move(s).error();
  if (auto s = payload_.resize_for_overwrite(0); !s) return CorvaneError::out_of_memory(s.error());
  if (auto s = coder.encode(string.value(), payload_); !s) return std::move(s).error();
  return kHeaderLen + payload_.size();
}

CResult<LengthRange> CandidateEvaluator::container_size_range(const CompressionOptions& options) {
  const coders::Coder& coder = coders::coder_for(options.coder());
  if (coder.value != EntropyCoder::Arans) {
    auto exact = container_size(options);
    if (!exact) return std::move(exact).error();
    return LengthRange{exact.value(), exact.value()};
  }
  auto string = coefficient_string(options);
  if (!string) return std::move(string).error();
  if (auto s = coders::check_capacity(coder, planes_.size()); !s) return std::move(s).error();
  auto length = arans_stream_length(string.value());
  if (!length) return std::move(length).error();
  return LengthRange{kHeaderLen + length.value().lowest, kHeaderLen + length.value().highest};
}

}  // namespace corvane
