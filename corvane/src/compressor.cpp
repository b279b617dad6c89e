#include "compressor.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "coders/coder.h"
#include "header.h"
#include "stages.h"

namespace corvane {
namespace {

static_assert(std::endian::native == std::endian::little,
              "the coefficient string is the in-memory int16 array on a little-endian host");

template <class Sample>
CResult<tessary::Buffer<std::uint8_t>> compress_samples(std::span<const Sample> samples,
                                                        const CompressionOptions& options,
                                                        const TransformPath& path) {
  const std::uint64_t n = samples.size();
  if (auto s = check_sample_count(n); !s) return std::move(s).error();
  // The working copy and the bands, released as the call goes on, hold the
  // pages the quantised planes and the container then reuse.
  const tessary::MappingReuseScope reuse;

  auto made_executor = executor_for(options.method(), path);
  if (!made_executor) return std::move(made_executor).error();
  const auto& executor = made_executor.value();
  const std::uint64_t filter_length = executor->filter_length();

  // The coefficient count follows from the length and the method alone, so
  // a coder that could not carry it refuses before any copy or transform.
  const std::uint64_t levels = levels_for_length(n, filter_length);
  std::array<tessary::BandSizes, kMaxLevels> band_table;
  const coders::Coder& coder = coders::coder_for(options.coder());
  if (auto s = coders::check_capacity(
          coder, plan_bands(*executor, n, std::span(band_table.data(), levels)));
      !s) {
    return std::move(s).error();
  }

  // The working copy has room for the periodic padding of short signals.
  auto made_work =
      tessary::Buffer<float>::for_overwrite(transformed_length(n, filter_length));
  if (!made_work) return CorvaneError::out_of_memory(made_work.error());
  tessary::Buffer<float> work = std::move(made_work).value();
  const Extremes ext = copy_sanitised(samples, work.data());
  auto normalised = normalise_sanitised(std::span<float>(work.data(), n), ext);
  if (!normalised) return std::move(normalised).error();
  const float mean = normalised.value();

  // Signals shorter than the filter are extended periodically to its length.
  pad_periodically(work, n);

  auto decomposed = decompose(*executor, work, levels);
  if (!decomposed) return std::move(decomposed).error();
  auto& dwt_levels = decomposed.value().levels;
  work.reset();
  // Only the deepest approximation is kept.
  for (std::size_t k = 0; k + 1 < dwt_levels.size(); ++k) dwt_levels[k].approximations.reset();

  tessary::Buffer<float>& approximation = dwt_levels.back().approximations;
  std::uint64_t detail_count = 0;
  for (const auto& level : dwt_levels) detail_count += level.details.size();
  const std::uint64_t coefficient_count = approximation.size() + detail_count;

  // Quantised planes: the deepest approximation, then the details finest
  // first, each band released once it is quantised. On a little-endian host
  // the int16 array is the coefficient string.
  auto made_planes = tessary::Buffer<std::int16_t>::for_overwrite(coefficient_count);
  if (!made_planes) return CorvaneError::out_of_memory(made_planes.error());
  tessary::Buffer<std::int16_t> planes = std::move(made_planes).value();
  const float step = quantisation_step(options.scale());
  const std::int32_t threshold = cutoff_threshold(options.scale(), options.cutoff());
  quantise(approximation, step, 0, planes.data());
  approximation.reset();
  std::size_t at = coefficient_count - detail_count;
  for (auto& level : dwt_levels) {
    quantise(level.details, step, threshold, planes.data() + at);
    at += level.details.size();
    level.details.reset();
  }
  decomposed = tessary::MultiDwt<float>{};

  const std::span<const std::uint8_t> coefficient_string(
      reinterpret_cast<const std::uint8_t*>(planes.data()), planes.size() * 2);

  // The payload is written straight after the space for the header.
  auto made_container = tessary::Buffer<std::uint8_t>::for_overwrite(kHeaderLen);
  if (!made_container) return CorvaneError::out_of_memory(made_container.error());
  tessary::Buffer<std::uint8_t> container = std::move(made_container).value();
  if (auto s = coder.encode(coefficient_string, container); !s) return std::move(s).error();
  planes.reset();

  // The header's payload length is 32 bits wide.
  constexpr std::uint64_t kMaxPayloadBytes = std::numeric_limits<std::uint32_t>::max();
  if (container.size() - kHeaderLen > kMaxPayloadBytes) {
    return CorvaneError::unsupported_configuration(
        "Coded payload of " + std::to_string(container.size() - kHeaderLen) +
        " bytes exceeds the container's " + std::to_string(kMaxPayloadBytes) + "-byte limit");
  }
  const CorvaneHeader header = CorvaneHeader::for_payload(
      options, static_cast<std::uint8_t>(levels), static_cast<std::uint32_t>(n), ext.min,
      ext.max, mean, static_cast<std::uint32_t>(container.size() - kHeaderLen));
  const auto bytes = header.to_bytes();
  std::memcpy(container.data(), bytes.data(), kHeaderLen);
  return container;
}

}  // namespace

CResult<tessary::Buffer<std::uint8_t>> compress(std::span<const float> samples,
                                                const CompressionOptions& options,
                                                const TransformPath& path) {
  return compress_samples(samples, options, path);
}

CResult<tessary::Buffer<std::uint8_t>> compress(std::span<const double> samples,
                                                const CompressionOptions& options,
                                                const TransformPath& path) {
  return compress_samples(samples, options, path);
}

}  // namespace corvane
