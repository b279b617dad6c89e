#include "stages.h"

#include <algorithm>
#include <limits>
#include <string>

#include "header.h"
#include "methods.h"

namespace corvane {
namespace {

template <class Sample>
Extremes copy_sanitised_samples(std::span<const Sample> in, float* out) {
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

}  // namespace

CResult<> check_sample_count(std::uint64_t n) {
  if (n == 0) return CorvaneError::unsupported_configuration("Can't compress empty data");
  if (n > kMaxSampleCount) {
    return CorvaneError::unsupported_configuration("Can't compress data bigger than " +
                                                   std::to_string(kMaxSampleCount) +
                                                   ", but data was " + std::to_string(n));
  }
  return {};
}

Extremes copy_sanitised(std::span<const float> in, float* out) {
  return copy_sanitised_samples(in, out);
}

Extremes copy_sanitised(std::span<const double> in, float* out) {
  return copy_sanitised_samples(in, out);
}

CResult<> check_range(float range) {
  if (std::isfinite(range)) return {};
  return CorvaneError::unsupported_configuration(
      "Signal range max - min is not finite in float32, can't normalise it");
}

// Only a signal that cannot be normalised is stored as a constant: range 0,
// or a range so small (subnormal) that 1 / range overflows. Any other range,
// however small, is mapped to [0, 1] and keeps its shape.
bool is_flat(float range) { return !(range > 0.0f && std::isfinite(1.0f / range)); }

// The mean is summed in index order into one float accumulator because it is
// stored in the header: another encoder must arrive at the same bits. The
// mapping rides along with that serial sum, and the subtraction is a second
// pass.
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

CResult<float> normalise_sanitised(std::span<float> signal, const Extremes& extremes) {
  const float range = extremes.max - extremes.min;
  if (auto s = check_range(range); !s) return std::move(s).error();
  if (is_flat(range)) {
    std::fill(signal.begin(), signal.end(), 0.0f);
    return 0.0f;
  }
  return normalise(signal, extremes.min, range);
}

void pad_periodically(std::span<float> work, std::uint64_t n) {
  for (std::uint64_t i = n; i < work.size(); ++i) work[i] = work[(i - n) % n];
}

CResult<tessary::MultiDwt<float>> decompose(const tessary::DwtExecutor<float>& executor,
                                            std::span<const float> work, std::uint64_t levels) {
  auto decomposed = executor.multi_dwt(work, levels);
  if (!decomposed) return transform_error(decomposed.error());
  if (decomposed.value().levels.empty()) {
    return CorvaneError::transform("Internal DWT returned zero levels, what shouldn't happen");
  }
  return std::move(decomposed).value();
}

std::int32_t cutoff_threshold(std::uint8_t scale, CutoffLevel cutoff) {
  const std::int32_t base = (scale - kMinScale) / 2;  // 0,0,1,1,2,2,3 for scales 6..12
  return base * multiplier_of(cutoff);
}

void quantise(std::span<const float> band, float step, std::int32_t threshold, std::int16_t* out) {
  for (std::size_t i = 0; i < band.size(); ++i) out[i] = quantised(band[i], step, threshold);
}

// Through a small plane that stays in cache: the two loops vectorise where
// one loop from floats to floats does not (its float compares may trap, and
// the compiler keeps them in order).
void requantise(std::span<const float> band, float step, std::int32_t threshold,
                float inverse_step, float* out) {
  constexpr std::size_t kPiece = 2048;
  std::int16_t plane[kPiece];
  for (std::size_t at = 0; at < band.size(); at += kPiece) {
    const std::size_t count = std::min(kPiece, band.size() - at);
    quantise(band.subspan(at, count), step, threshold, plane);
    for (std::size_t i = 0; i < count; ++i) out[at + i] = dequantised(plane[i], inverse_step);
  }
}

void denormalise(std::span<float> y, float min, float max, float mean) {
  const float range = max - min;
  for (float& v : y) v = denormalised(v, mean, range, min);
}

}  // namespace corvane
