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

namespace corvane {
namespace {

static_assert(std::endian::native == std::endian::little,
              "the coefficient string is the in-memory int16 array on a little-endian host");

struct Extremes {
  float min;
  float max;
};

// Copies the samples, replacing NaN by 0, +inf by 1 and -inf by 0, and
// returns the min and max of the sanitised copy in the same pass. float64
// samples are rounded to float here too (values beyond the float range
// become infinities and are sanitised with the rest).
template <class Sample>
Extremes copy_sanitised(std::span<const Sample> in, float* out) {
  float lo = std::numeric_limits<float>::infinity();
  float hi = -std::numeric_limits<float>::infinity();
  for (std::size_t i = 0; i < in.size(); ++i) {
    float v = static_cast<float>(in[i]);
    if (std::isnan(v)) {
      v = 0.0f;
    } else if (std::isinf(v)) {
      v = v > 0.0f ? 1.0f : 0.0f;
    }
    out[i] = v;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  return {lo, hi};
}

// Maps the signal to [0, 1] and removes its mean; returns the mean. The mean
// is summed in index order into one float accumulator because it is stored in
// the header: another encoder must arrive at the same bits. The mapping rides
// along with that serial sum, and the subtraction is a second pass.
float normalise(std::span<float> v, float min, float range) {
  const float inv = 1.0f / range;
  float sum = 0.0f;
  for (float& x : v) {
    x = (x - min) * inv;
    sum += x;
  }
  const float mean = sum / static_cast<float>(v.size());
  for (float& x : v) x -= mean;
  return mean;
}

// c * 2^scale clamped to the int16 range and truncated toward zero; with a
// threshold, values whose magnitude is below it become 0 (-32768 counts as
// 32768). One pass per band.
void quantise(std::span<const float> band, float step, std::int32_t threshold,
              std::int16_t* out) {
  for (std::size_t i = 0; i < band.size(); ++i) {
    float v = band[i] * step;
    v = v < -32768.0f ? -32768.0f : v;
    v = v > 32767.0f ? 32767.0f : v;
    const auto q = static_cast<std::int32_t>(v);
    out[i] = static_cast<std::int16_t>((q < threshold && -q < threshold) ? 0 : q);
  }
}

template <class Sample>
CResult<tessary::Buffer<std::uint8_t>> compress_samples(std::span<const Sample> samples,
                                                        const CompressionOptions& options,
                                                        const TransformPath& path) {
  const std::uint64_t n = samples.size();
  if (n == 0) return CorvaneError::unsupported_configuration("Can't compress empty data");
  // The working copy and the bands, released as the call goes on, hold the
  // pages the quantised planes and the container then reuse.
  const tessary::MappingReuseScope reuse;
  if (n > kMaxSampleCount) {
    return CorvaneError::unsupported_configuration("Can't compress data bigger than " +
                                                   std::to_string(kMaxSampleCount) +
                                                   ", but data was " + std::to_string(n));
  }

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

  // A range that overflows float would produce a container whose header no
  // reader accepts; refuse it here instead of reporting success.
  const float range = ext.max - ext.min;
  if (!std::isfinite(range)) {
    return CorvaneError::unsupported_configuration(
        "Signal range max - min is not finite in float32, can't normalise it");
  }
  // Only a signal that cannot be normalised is stored as a constant: range
  // 0, or a range so small (subnormal) that 1 / range overflows. Any other
  // range, however small, is mapped to [0, 1] and keeps its shape.
  float mean = 0.0f;
  const std::span<float> signal(work.data(), n);
  if (range > 0.0f && std::isfinite(1.0f / range)) {
    mean = normalise(signal, ext.min, range);
  } else {
    std::fill(signal.begin(), signal.end(), 0.0f);
  }

  // Signals shorter than the filter are extended periodically to its length.
  for (std::uint64_t i = n; i < work.size(); ++i) work[i] = work[(i - n) % n];

  auto decomposed = executor->multi_dwt(work, levels);
  if (!decomposed) return transform_error(decomposed.error());
  auto& dwt_levels = decomposed.value().levels;
  if (dwt_levels.empty()) {
    return CorvaneError::transform("Internal DWT returned zero levels, what shouldn't happen");
  }
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
  const float step = std::ldexp(1.0f, options.scale());
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

std::int32_t cutoff_threshold(std::uint8_t scale, CutoffLevel cutoff) {
  const std::int32_t base = (scale - kMinScale) / 2;  // 0,0,1,1,2,2,3 for scales 6..12
  return base * multiplier_of(cutoff);
}

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
