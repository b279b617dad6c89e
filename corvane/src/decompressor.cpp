#include "decompressor.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>

#include "arans.h"
#include "compressor.h"
#include "header.h"

namespace corvane {
namespace {

constexpr std::uint8_t kMaxLevels = 10;

CorvaneError failed(std::string text) { return CorvaneError::decompression_failed(std::move(text)); }

// q * 2^-scale for `count` little-endian int16 values; exact in float.
void dequantise(const std::uint8_t* bytes, std::uint64_t count, float step, float* out) {
  for (std::uint64_t i = 0; i < count; ++i) {
    std::int16_t q;
    std::memcpy(&q, bytes + 2 * i, 2);
    out[i] = static_cast<float>(q) * step;
  }
}

// Coefficient bytes per payload byte up to which the coefficient buffer is
// allocated whole before inflating; a header that claims more than this
// (a very flat signal, or a forged count) gets a buffer that grows as
// coefficients actually arrive.
constexpr std::uint64_t kTrustedDeflateRatio = 64;

// Bytes zlib inflates per call. zlib copies the output of every call (up to
// its 32 KiB window) into its own window, so with a chunk no larger than the
// window every coefficient byte would be copied once more; 256 KiB cuts
// that to an eighth and still stays in the core's cache for the
// dequantisation.
constexpr std::size_t kInflateChunkBytes = std::size_t{1} << 18;

// Inflates a raw DEFLATE payload straight into the dequantised coefficients:
// zlib writes into a chunk that stays in cache, and each complete
// int16 is converted from there, so the coefficient string itself is never
// stored. At most `needed` coefficients are kept (the rest cannot belong to
// a band), but inflation runs on to the end of the stream so that a corrupt
// tail is still reported. A payload that ends early is not an error here.
// Returns how many coefficients arrived, at most `needed`.
CResult<std::uint64_t> inflate_coefficients(std::span<const std::uint8_t> payload,
                                            std::uint64_t needed, float step,
                                            tessary::Buffer<float>& out) {
  z_stream zs{};
  if (inflateInit2(&zs, -15) != Z_OK) return failed(zs.msg ? zs.msg : "inflate initialisation failed");
  const std::uint64_t first = needed <= payload.size() * kTrustedDeflateRatio / 2
                                  ? needed
                                  : std::min<std::uint64_t>(needed, std::uint64_t{1} << 15);
  // Every kept coefficient is written before it is read, so neither the
  // first buffer nor a grown one needs clearing.
  auto made = tessary::Buffer<float>::for_overwrite(first);
  if (!made) {
    inflateEnd(&zs);
    return CorvaneError::out_of_memory(first);
  }
  out = std::move(made).value();
  auto made_chunk = tessary::Buffer<std::uint8_t>::for_overwrite(kInflateChunkBytes);
  if (!made_chunk) {
    inflateEnd(&zs);
    return CorvaneError::out_of_memory(kInflateChunkBytes);
  }
  std::uint8_t* const chunk = made_chunk.value().data();
  constexpr std::size_t kChunkBytes = kInflateChunkBytes;
  std::size_t pending = 0;  // an odd byte carried to the front of the chunk
  std::uint64_t kept = 0;
  const std::uint8_t* next_in = payload.data();
  std::size_t in_left = payload.size();
  constexpr std::size_t kChunk = std::size_t{1} << 30;
  while (true) {
    const std::size_t in_now = std::min(in_left, kChunk);
    zs.next_in = const_cast<Bytef*>(next_in);
    zs.avail_in = static_cast<uInt>(in_now);
    zs.next_out = chunk + pending;
    zs.avail_out = static_cast<uInt>(kChunkBytes - pending);
    const int rc = inflate(&zs, Z_NO_FLUSH);
    const std::size_t consumed = in_now - zs.avail_in;
    const std::size_t written = kChunkBytes - pending - zs.avail_out;
    next_in += consumed;
    in_left -= consumed;
    if (rc == Z_DATA_ERROR) {
      inflateEnd(&zs);
      return failed("corrupt deflate stream");
    }
    if (rc == Z_MEM_ERROR || rc == Z_NEED_DICT || rc == Z_STREAM_ERROR) {
      const std::string text = zs.msg ? zs.msg : zError(rc);
      inflateEnd(&zs);
      return failed(text);
    }
    const std::size_t filled = pending + written;
    if (kept < needed) {
      std::uint64_t take = std::min<std::uint64_t>(filled / 2, needed - kept);
      if (kept + take > out.size()) {
        const std::uint64_t want = std::min(needed, std::max(2 * out.size(), kept + take));
        auto bigger = tessary::Buffer<float>::for_overwrite(want);
        if (!bigger) {
          inflateEnd(&zs);
          return CorvaneError::out_of_memory(want);
        }
        if (kept > 0) std::memcpy(bigger.value().data(), out.data(), kept * sizeof(float));
        out = std::move(bigger).value();
      }
      dequantise(chunk, take, step, out.data() + kept);
      kept += take;
    }
    pending = filled & 1;
    if (pending) chunk[0] = chunk[filled - 1];
    if (rc == Z_STREAM_END) break;
    // Z_BUF_ERROR or Z_OK without progress: the payload ended before the
    // stream did; keep what was produced.
    if (consumed == 0 && written == 0 && in_left == 0) break;
  }
  inflateEnd(&zs);
  return kept;
}

}  // namespace

CResult<tessary::Buffer<float>> decompress(std::span<const std::uint8_t> data) {
  return decompress(data, tessary::cpu_features());
}

CResult<tessary::Buffer<float>> decompress(std::span<const std::uint8_t> data,
                                       tessary::CpuFeatures features) {
  return decompress(data, features, &make_executor);
}

CResult<tessary::Buffer<float>> decompress(std::span<const std::uint8_t> data,
                                       tessary::CpuFeatures features, ExecutorMaker maker) {
  // The decoded bytes, released once dequantised, hold pages that the
  // inverse transform then reuses.
  const tessary::MappingReuseScope reuse;
  auto parsed = CorvaneHeader::from_bytes(data);
  if (!parsed) return std::move(parsed).error();
  const CorvaneHeader& header = parsed.value();

  if (header.sample_count >= (std::uint32_t{1} << 31)) {
    return failed("Can't decompress data bigger than 2147483647, but data was " +
                  std::to_string(header.sample_count));
  }
  if (header.levels > kMaxLevels) {
    return failed("Max supported level is 10 but it was " + std::to_string(header.levels));
  }
  if (header.levels == 0) return failed("Min supported level is 1 but it was 0");

  const auto executor = maker(*header.method(), features);
  // The family factories hand back an empty handle when memory runs out.
  if (!executor) return CorvaneError::out_of_memory(1);

  // Signals shorter than the filter were transformed padded to its length,
  // so their bands follow from that length, not from the stored count.
  const std::uint64_t sample_count = header.sample_count;
  std::uint64_t length = std::max<std::uint64_t>(sample_count, executor->filter_length());
  std::vector<tessary::BandSizes> bands(header.levels);
  for (auto& band : bands) {
    band = executor->dwt_size(length);
    length = band.approximation;
  }
  std::uint64_t needed = bands.back().approximation;
  for (const auto& band : bands) needed += band.details;

  const std::uint64_t available = data.size() - kHeaderLen;
  if (available < header.payload_len) {
    return failed("Minimum data size is " + std::to_string(std::uint64_t{header.payload_len} + kHeaderLen) +
                  ", but it was " + std::to_string(data.size()));
  }
  const auto payload = data.subspan(kHeaderLen, header.payload_len);

  const float step = std::ldexp(1.0f, -static_cast<int>(header.scale));
  const auto too_few = [&](std::uint64_t coefficient_count) {
    return failed("Payload holds " + std::to_string(coefficient_count) +
                  " coefficients but the bands need " + std::to_string(needed));
  };
  tessary::Buffer<float> coefficients;
  if (header.coder == 1) {
    auto stream = arans::decode_stream_buffer(payload);
    if (!stream) return failed(std::string(arans::render(stream.error())));
    tessary::Buffer<std::uint8_t> decoded = std::move(stream).value();
    if (decoded.size() / 2 < needed) return too_few(decoded.size() / 2);
    auto made = tessary::Buffer<float>::for_overwrite(needed);
    if (!made) return CorvaneError::out_of_memory(needed);
    coefficients = std::move(made).value();
    dequantise(decoded.data(), needed, step, coefficients.data());
  } else {
    auto inflated = inflate_coefficients(payload, needed, step, coefficients);
    if (!inflated) return std::move(inflated).error();
    if (inflated.value() < needed) return too_few(inflated.value());
  }

  tessary::MultiDwtRef<float> ref;
  const std::uint64_t approximation_length = bands.back().approximation;
  ref.approximation = std::span<const float>(coefficients.data(), approximation_length);
  ref.details.reserve(bands.size());
  std::uint64_t at = approximation_length;
  for (const auto& band : bands) {
    ref.details.emplace_back(coefficients.data() + at, band.details);
    at += band.details;
  }
  auto reconstructed = executor->multi_idwt(ref);
  if (!reconstructed) return CorvaneError::transform(tessary::render(reconstructed.error()));
  tessary::Buffer<float> out = std::move(reconstructed).value();
  coefficients.reset();

  // (y + mean) * range + min, as an add, a multiply and an add; the build
  // keeps the compiler from fusing them.
  const float range = header.max - header.min;
  const float mean = header.mean;
  const float min = header.min;
  for (float& y : out) y = (y + mean) * range + min;
  if (!tessary::try_resize(out, sample_count)) return CorvaneError::out_of_memory(sample_count);
  return out;
}

}  // namespace corvane
