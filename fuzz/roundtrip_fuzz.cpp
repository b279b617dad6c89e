// Fuzzer-chosen samples and options through compress then decompress. A
// compression that succeeds must decode without error to exactly as many
// samples; compression may only refuse an empty signal or one whose range is
// not finite. Special values (NaN, infinities, values near the float limit)
// are spliced in so that the sanitising and range checks are exercised.
//
// Input layout: byte 0 method (2 bits), cutoff and coder; byte 1 scale, float
// or double samples and the kernel path; byte 2 which special values to
// splice in; the rest little-endian float32 samples.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

#include "compressor.h"
#include "decompressor.h"
#include "error.h"
#include "cpu/cpu_features.h"
#include "header.h"
#include "options.h"

namespace {

constexpr float kSpecials[] = {
    std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
    -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::max(),
    -std::numeric_limits<float>::max(),      std::numeric_limits<float>::denorm_min(),
    1e30f,                                   -1e-30f,
};

// Portable, SSE or AVX path, never one this processor lacks.
tessary::CpuFeatures pick_features(std::uint8_t choice) {
  const tessary::CpuFeatures have = tessary::cpu_features();
  switch (choice % 3) {
    case 0: return 0;
    case 1: return have & (tessary::kCpuSse41 | tessary::kCpuSse42);
    default: return have;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint8_t b0 = data[0], b1 = data[1], b2 = data[2];
  const auto method = static_cast<corvane::CompressionMethod>(b0 & 3);
  const auto cutoff = static_cast<corvane::CutoffLevel>(((b0 >> 2) & 3) % 3);
  const auto coder = static_cast<corvane::EntropyCoder>(((b0 >> 4) & 3) % 3);
  const auto scale =
      static_cast<std::uint8_t>(corvane::kMinScale + (b1 & 7) % (corvane::kMaxScale - corvane::kMinScale + 1));
  const bool as_double = (b1 >> 3) & 1;
  const tessary::CpuFeatures features = pick_features(b1 >> 4);
  auto options = corvane::CompressionOptions::create(method, scale, cutoff, coder);
  if (!options) std::abort();

  std::vector<float> samples((size - 3) / sizeof(float));
  if (!samples.empty()) std::memcpy(samples.data(), data + 3, samples.size() * sizeof(float));
  // Bit k of byte 2 puts special value k at a position derived from k.
  for (std::size_t k = 0; k < 8 && !samples.empty(); ++k) {
    if ((b2 >> k) & 1) samples[(k * 7919 + b0) % samples.size()] = kSpecials[k];
  }

  corvane::CResult<tessary::Buffer<std::uint8_t>> container =
      corvane::CorvaneError::invalid_header();
  if (as_double) {
    const std::vector<double> wide(samples.begin(), samples.end());
    container = corvane::compress(std::span<const double>(wide), options.value(), features);
  } else {
    container = corvane::compress(std::span<const float>(samples), options.value(), features);
  }
  if (!container) {
    if (samples.empty()) return 0;
    if (container.error().kind() != corvane::CorvaneErrorKind::UnsupportedConfiguration) std::abort();
    // Only a range that overflows float is refused (non-finite values are
    // sanitised first, so the extremes are finite).
    float lo = std::numeric_limits<float>::infinity(), hi = -lo;
    for (float v : samples) {
      if (std::isnan(v)) v = 0.0f;
      if (std::isinf(v)) v = v > 0 ? 1.0f : 0.0f;
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    if (std::isfinite(hi - lo)) std::abort();
    return 0;
  }

  const auto& bytes = container.value();
  auto header = corvane::CorvaneHeader::from_bytes(bytes);
  if (!header || header.value().sample_count != samples.size()) std::abort();
  if (header.value().payload_len + corvane::kHeaderLen != bytes.size()) std::abort();
  auto restored = corvane::decompress(bytes, features);
  if (!restored || restored.value().size() != samples.size()) std::abort();
  return 0;
}
