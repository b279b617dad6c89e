#include "decompressor.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "coders/coder.h"
#include "core/memory.h"
#include "header.h"
#include "stages.h"

namespace corvane {
namespace {

CorvaneError failed(std::string text) { return CorvaneError::decompression_failed(std::move(text)); }

}  // namespace

CResult<tessary::Buffer<float>> decompress(std::span<const std::uint8_t> data,
                                           const TransformPath& path) {
  // The decoded bytes, released once dequantised, hold pages that the
  // inverse transform then reuses.
  const tessary::MappingReuseScope reuse;
  auto parsed = CorvaneHeader::from_bytes(data);
  if (!parsed) return std::move(parsed).error();
  const CorvaneHeader& header = parsed.value();

  if (header.sample_count > kMaxSampleCount) {
    return failed("Can't decompress data bigger than " + std::to_string(kMaxSampleCount) +
                  ", but data was " + std::to_string(header.sample_count));
  }
  // The compressor refuses empty input, so no container of its has this.
  if (header.sample_count < kMinSampleCount) {
    return failed("Min supported sample count is " + std::to_string(kMinSampleCount) +
                  " but it was " + std::to_string(header.sample_count));
  }
  if (header.levels > kMaxLevels) {
    return failed("Max supported level is " + std::to_string(kMaxLevels) + " but it was " +
                  std::to_string(header.levels));
  }
  if (header.levels < kMinLevels) {
    return failed("Min supported level is " + std::to_string(kMinLevels) + " but it was " +
                  std::to_string(header.levels));
  }

  auto made_executor = executor_for(*header.method(), path);
  if (!made_executor) return std::move(made_executor).error();
  const auto& executor = made_executor.value();

  const std::uint64_t sample_count = header.sample_count;
  std::array<tessary::BandSizes, kMaxLevels> band_table;
  const std::span<tessary::BandSizes> bands(band_table.data(), header.levels);
  const std::uint64_t needed = plan_bands(*executor, sample_count, bands);

  const std::uint64_t available = data.size() - kHeaderLen;
  if (available < header.payload_len) {
    return failed("Minimum data size is " +
                  std::to_string(std::uint64_t{header.payload_len} + kHeaderLen) +
                  ", but it was " + std::to_string(data.size()));
  }
  const auto payload = data.subspan(kHeaderLen, header.payload_len);

  coders::CoefficientSink sink(needed, dequantisation_step(header.scale));
  // The header reader accepts only coder bytes that name a coder.
  const coders::Coder& coder = *coders::coder_for_header_byte(header.coder);
  if (auto s = coder.decode(payload, sink); !s) return std::move(s).error();
  if (sink.kept() < needed) {
    return failed("Payload holds " + std::to_string(sink.kept()) +
                  " coefficients but the bands need " + std::to_string(needed));
  }
  tessary::Buffer<float> coefficients = sink.release();

  tessary::MultiDwtRef<float> ref;
  const std::uint64_t approximation_length = bands.back().approximation;
  ref.approximation = std::span<const float>(coefficients.data(), approximation_length);
  if (auto s = tessary::try_resize(ref.details, bands.size()); !s) {
    return CorvaneError::out_of_memory(s.error());
  }
  std::uint64_t at = approximation_length;
  for (std::size_t k = 0; k < bands.size(); ++k) {
    ref.details[k] = std::span<const float>(coefficients.data() + at, bands[k].details);
    at += bands[k].details;
  }
  auto reconstructed = executor->multi_idwt(ref);
  if (!reconstructed) return transform_error(reconstructed.error());
  tessary::Buffer<float> out = std::move(reconstructed).value();
  coefficients.reset();

  denormalise(out, header.min, header.max, header.mean);
  if (auto s = out.resize(sample_count); !s) return CorvaneError::out_of_memory(s.error());
  return out;
}

}  // namespace corvane
