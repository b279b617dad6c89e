// The sample-level steps of the two pipelines: sanitising and normalising a
// signal, quantising and dequantising its coefficients, and undoing the
// normalisation. Anything that must reproduce a container's decoded samples
// bit for bit without making the container (the candidate evaluator) runs
// these same functions; the per-value forms are inline so that such code can
// fuse several steps into one pass and still compute exactly what the
// pipelines' separate passes compute.
#pragma once

#include <cmath>
#include <cstdint>
#include <span>

#include "error.h"
#include "executor.h"
#include "options.h"

namespace corvane {

// UnsupportedConfiguration for no samples or more than a container can
// count.
CResult<> check_sample_count(std::uint64_t n);

struct Extremes {
  float min;
  float max;
};

// Copies the samples, replacing NaN by 0, +inf by 1 and -inf by 0, and
// returns the min and max of the sanitised copy in the same pass. float64
// samples are rounded to float here too (values beyond the float range
// become infinities and are sanitised with the rest).
Extremes copy_sanitised(std::span<const float> in, float* out);
Extremes copy_sanitised(std::span<const double> in, float* out);

// A range (max - min in float) that overflows float would produce a
// container whose header no reader accepts: UnsupportedConfiguration.
CResult<> check_range(float range);

// Whether a signal whose sanitised samples span `range` (finite) is stored
// as a constant (all coefficients zero, mean 0): only when it cannot be
// normalised, at range 0 or when 1 / range overflows.
bool is_flat(float range);

// Maps the signal to [0, 1] and removes its mean; returns the mean.
float normalise(std::span<float> v, float min, float range);

// A sanitised signal with these extremes, normalised in place as the
// container stores it (all zeros for a flat one); returns its mean (0 when
// flat), or check_range's error.
CResult<float> normalise_sanitised(std::span<float> signal, const Extremes& extremes);

// Fills work[n, size) with the signal work[0, n) repeated; the transform of
// a signal shorter than its filter runs over it extended to that length.
void pad_periodically(std::span<float> work, std::uint64_t n);

// The multi-level transform of `work`, with at least one level, or the
// engine's error as Transform.
CResult<tessary::MultiDwt<float>> decompose(const tessary::DwtExecutor<float>& executor,
                                            std::span<const float> work, std::uint64_t levels);

// Quantised details whose magnitude is below this become zero.
std::int32_t cutoff_threshold(std::uint8_t scale, CutoffLevel cutoff);

// 2^scale: a coefficient times this is truncated to its integer.
inline float quantisation_step(std::uint8_t scale) { return std::ldexp(1.0f, scale); }
// 2^-scale exactly: 1.0 with the scale taken off its exponent.
inline float dequantisation_step(std::uint8_t scale) {
  return std::ldexp(1.0f, -static_cast<int>(scale));
}

// c * step clamped to the int16 range and truncated toward zero; a value
// whose magnitude is below `threshold` becomes 0 (-32768 counts as 32768).
inline std::int16_t quantised(float c, float step, std::int32_t threshold) {
  float v = c * step;
  v = v < -32768.0f ? -32768.0f : v;
  v = v > 32767.0f ? 32767.0f : v;
  const auto q = static_cast<std::int32_t>(v);
  return static_cast<std::int16_t>((q < threshold && -q < threshold) ? 0 : q);
}

// One band into its integer plane; one pass.
void quantise(std::span<const float> band, float step, std::int32_t threshold, std::int16_t* out);

// q * 2^-scale, exact: step is a power of two and q has 16 bits, so no
// implementation of this product can round differently.
inline float dequantised(std::int16_t q, float step) { return static_cast<float>(q) * step; }

// What the decoder makes of a band without the plane in between: each
// coefficient quantised (step, threshold) and dequantised (inverse_step);
// one pass.
void requantise(std::span<const float> band, float step, std::int32_t threshold,
                float inverse_step, float* out);

// (y + mean) * range + min, as an add, a multiply and an add; the build
// keeps the compiler from fusing them.
inline float denormalised(float y, float mean, float range, float min) {
  return (y + mean) * range + min;
}

// Undoes the normalisation of a reconstructed signal in place, with the
// range computed once as max - min in float.
void denormalise(std::span<float> y, float min, float max, float mean);

}  // namespace corvane
