#include "compressor.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "arans.h"
#include "header.h"
#include "tessary.h"

namespace corvane {
namespace {

static_assert(std::endian::native == std::endian::little,
              "the coefficient string is the in-memory int16 array on a little-endian host");

// Below this range a signal is treated as constant.
constexpr float kFlatRange = 0.00001f;
// The adaptive rANS decoder refuses streams of more pairs than this.
constexpr std::uint64_t kMaxAransPairs = std::uint64_t{1} << 28;

CorvaneError out_of_memory_for(std::uint64_t elements) {
  return CorvaneError::out_of_memory(elements);
}

// Copies the samples, replacing NaN by 0, +inf by 1 and -inf by 0, and
// returns the min and max of the sanitised copy in the same pass.
struct Extremes {
  float min;
  float max;
};

// float64 samples are rounded to float here, in the same pass (values
// beyond the float range become infinities and are sanitised with the rest).
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

// Raw DEFLATE (no zlib or gzip wrapper) at level 6, memory level 8, default
// strategy, appended to `out`. Coded coefficients take a fraction of
// deflateBound, so a small output grows in steps as zlib fills it instead of
// being sized to the bound up front. A bound large enough for its own
// huge-page mapping is taken at once: only the pages zlib reaches are ever
// touched, so nothing is copied. zlib writes every byte it reports, so
// nothing is cleared either.
CStatus deflate_raw(std::span<const std::uint8_t> in, tessary::Buffer<std::uint8_t>& out) {
  z_stream zs{};
  if (deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return CorvaneError::io(zs.msg ? zs.msg : "deflate initialisation failed");
  }
  const std::size_t start = out.size();
  const std::uint64_t bound = deflateBound(&zs, static_cast<uLong>(in.size()));
  // zlib counts in 32-bit units; feed it in chunks it can describe.
  constexpr std::size_t kChunk = std::size_t{1} << 30;
  constexpr std::size_t kFirstStep = std::size_t{1} << 16;
  std::size_t produced = 0;
  std::size_t in_left = in.size();
  zs.next_in = const_cast<Bytef*>(in.data());
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    if (start + produced == out.size()) {
      // A quarter of the input, then doubling, never past the bound.
      const std::uint64_t room = out.size() - start;
      const std::uint64_t first = start + bound >= tessary::kLargeBufferBytes
                                      ? bound
                                      : std::max<std::uint64_t>(in.size() / 4, kFirstStep);
      const std::uint64_t want =
          std::min<std::uint64_t>(bound, std::max<std::uint64_t>(2 * room, first));
      if (want <= room || !out.resize_for_overwrite(start + want)) {
        deflateEnd(&zs);
        if (want <= room) return CorvaneError::io("deflate output exceeded its bound");
        return CorvaneError::out_of_memory(want);
      }
    }
    const std::size_t in_now = std::min(in_left, kChunk);
    const std::size_t out_now = std::min(out.size() - start - produced, kChunk);
    zs.avail_in = static_cast<uInt>(in_now);
    zs.next_out = out.data() + start + produced;
    zs.avail_out = static_cast<uInt>(out_now);
    const int flush = in_now == in_left ? Z_FINISH : Z_NO_FLUSH;
    rc = deflate(&zs, flush);
    in_left -= in_now - zs.avail_in;
    produced += out_now - zs.avail_out;
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
      const std::string text = zs.msg ? zs.msg : zError(rc);
      deflateEnd(&zs);
      return CorvaneError::io(text);
    }
  }
  deflateEnd(&zs);
  // Shrinking keeps the block where it is and cannot fail.
  if (auto s = out.resize(start + produced); !s) return CorvaneError::out_of_memory(start + produced);
  return {};
}

}  // namespace

std::int32_t cutoff_threshold(std::uint8_t scale, CutoffLevel cutoff) {
  const std::int32_t base = (scale - kMinScale) / 2;  // 0,0,1,1,2,2,3 for scales 6..12
  return base * kCutoffMultipliers[static_cast<std::size_t>(cutoff)];
}

CStatus check_coder_capacity(EntropyCoder coder, std::uint64_t coefficient_count) {
  if (coder == EntropyCoder::Deflate || coefficient_count <= kMaxAransPairs) return {};
  return CorvaneError::unsupported_configuration(
      "Too many coefficients for the arans coder (" + std::to_string(coefficient_count) +
      ", at most 268435456); use the \"deflate\" coder");
}

std::uint64_t compute_max_levels(std::uint64_t signal_length, std::uint64_t filter_length) {
  if (signal_length < filter_length) return 1;
  const std::uint64_t q = signal_length / filter_length;
  if (q == 1) return 1;
  const std::uint64_t log2_q = static_cast<std::uint64_t>(std::bit_width(q)) - 1;
  return std::min<std::uint64_t>(log2_q, 8);
}

std::uint64_t levels_for_length(std::uint64_t n, std::uint64_t filter_length) {
  if (n < 20) return 1;
  if (n < 40) return 2;
  if (n < 60) return 3;
  if (n < 80) return 4;
  return compute_max_levels(n, filter_length);
}

tessary::DwtExecutorHandle<float> make_executor(CompressionMethod method) {
  return make_executor(method, tessary::cpu_features());
}

tessary::DwtExecutorHandle<float> make_executor(CompressionMethod method,
                                                tessary::CpuFeatures features) {
  using tessary::Tessary;
  auto made = [&] {
    switch (method) {
      case CompressionMethod::Cdf53:
        return Tessary::make_cdf53_f32(features);
      case CompressionMethod::Cdf97:
        return Tessary::make_cdf97_f32(features);
      case CompressionMethod::Db4:
        return Tessary::make_daubechies_f32(features, tessary::DaubechiesFamily::Db4,
                                            tessary::BorderMode::Wrap);
      case CompressionMethod::Sym4:
        return Tessary::make_symlet_f32(features, tessary::SymletFamily::Sym4,
                                        tessary::BorderMode::Wrap);
    }
    return Tessary::make_cdf97_f32(features);
  }();
  return made ? std::move(made).value() : nullptr;
}

namespace {

template <class Sample>
CResult<tessary::Buffer<std::uint8_t>> compress_samples(std::span<const Sample> samples,
                                                    const CompressionOptions& options,
                                                    tessary::CpuFeatures features,
                                                    ExecutorMaker maker) {
  const std::uint64_t n = samples.size();
  if (n == 0) return CorvaneError::unsupported_configuration("Can't compress empty data");
  // The working copy and the bands, released as the call goes on, hold the
  // pages the quantised planes and the container then reuse.
  const tessary::MappingReuseScope reuse;
  if (n > kMaxSampleCount) {
    return CorvaneError::unsupported_configuration(
        "Can't compress data bigger than 2147483647, but data was " + std::to_string(n));
  }

  const auto executor = maker(options.method(), features);
  // The family factories hand back an empty handle when memory runs out.
  if (!executor) return out_of_memory_for(1);
  const std::uint64_t filter_length = executor->filter_length();

  // The working copy has room for the periodic padding of short signals.
  auto made_work = tessary::Buffer<float>::for_overwrite(std::max(n, filter_length));
  if (!made_work) return out_of_memory_for(n);
  tessary::Buffer<float> work = std::move(made_work).value();
  const Extremes ext = copy_sanitised(samples, work.data());

  // A range that overflows float would produce a container whose header no
  // reader accepts; refuse it here instead of reporting success.
  const float range = ext.max - ext.min;
  if (!std::isfinite(range)) {
    return CorvaneError::unsupported_configuration(
        "Signal range max - min is not finite in float32, can't normalise it");
  }
  float mean = 0.0f;
  const std::span<float> signal(work.data(), n);
  if (range > kFlatRange) {
    mean = normalise(signal, ext.min, range);
  } else {
    std::fill(signal.begin(), signal.end(), 0.0f);
  }

  // Signals shorter than the filter are extended periodically to its length.
  for (std::uint64_t i = n; i < work.size(); ++i) work[i] = work[(i - n) % n];

  const std::uint64_t levels = levels_for_length(n, filter_length);
  auto decomposed = executor->multi_dwt(work, levels);
  if (!decomposed) return CorvaneError::transform(tessary::render(decomposed.error()));
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
  if (auto s = check_coder_capacity(options.coder(), coefficient_count); !s) {
    return std::move(s).error();
  }

  // Quantised planes: the deepest approximation, then the details finest
  // first, each band released once it is quantised. On a little-endian host
  // the int16 array is the coefficient string.
  auto made_planes = tessary::Buffer<std::int16_t>::for_overwrite(coefficient_count);
  if (!made_planes) return out_of_memory_for(detail_count);
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
  if (!made_container) return out_of_memory_for(kHeaderLen);
  tessary::Buffer<std::uint8_t> container = std::move(made_container).value();
  if (options.coder() == EntropyCoder::Deflate) {
    if (auto s = deflate_raw(coefficient_string, container); !s) return std::move(s).error();
  } else if (!arans::append_stream(coefficient_string, container)) {
    return out_of_memory_for(coefficient_count);
  }
  planes.reset();

  // The header's payload length is 32 bits wide.
  if (container.size() - kHeaderLen > std::numeric_limits<std::uint32_t>::max()) {
    return CorvaneError::unsupported_configuration(
        "Coded payload of " + std::to_string(container.size() - kHeaderLen) +
        " bytes exceeds the container's 4294967295-byte limit");
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
                                            const CompressionOptions& options) {
  return compress_samples(samples, options, tessary::cpu_features(), &make_executor);
}

CResult<tessary::Buffer<std::uint8_t>> compress(std::span<const float> samples,
                                            const CompressionOptions& options,
                                            tessary::CpuFeatures features) {
  return compress_samples(samples, options, features, &make_executor);
}

CResult<tessary::Buffer<std::uint8_t>> compress(std::span<const double> samples,
                                            const CompressionOptions& options) {
  return compress_samples(samples, options, tessary::cpu_features(), &make_executor);
}

CResult<tessary::Buffer<std::uint8_t>> compress(std::span<const double> samples,
                                            const CompressionOptions& options,
                                            tessary::CpuFeatures features) {
  return compress_samples(samples, options, features, &make_executor);
}

CResult<tessary::Buffer<std::uint8_t>> compress(std::span<const float> samples,
                                            const CompressionOptions& options,
                                            tessary::CpuFeatures features, ExecutorMaker maker) {
  return compress_samples(samples, options, features, maker);
}

}  // namespace corvane
