#include "header.h"

#include <algorithm>
#include <bit>

#include "bytes.h"
#include "coders/coder.h"

namespace corvane {
namespace {

static_assert(
    [] {
      for (const MethodRow& row : kMethodRows) {
        if (row.tag.size() != std::tuple_size_v<decltype(CorvaneHeader::method_tag)>) return false;
      }
      return true;
    }(),
    "every method tag fills the header's tag field");

// Infinite or NaN: all exponent bits set.
bool is_finite_bits(std::uint32_t bits) { return (bits & 0x7F800000u) != 0x7F800000u; }

template <std::size_t N>
std::array<std::uint8_t, N> take(const std::uint8_t* p) {
  std::array<std::uint8_t, N> out;
  std::copy_n(p, N, out.begin());
  return out;
}

template <std::size_t N>
void put(std::uint8_t* p, const std::array<std::uint8_t, N>& field) {
  std::copy_n(field.begin(), N, p);
}

}  // namespace

CorvaneHeader CorvaneHeader::for_payload(const CompressionOptions& options, std::uint8_t levels,
                                         std::uint32_t sample_count, float min, float max,
                                         float mean, std::uint32_t payload_len) {
  CorvaneHeader h;
  h.magic = kMagic;
  h.version = kVersion;
  h.compression_kind = kCompressionKind;
  const std::string_view tag = tag_of(options.method());
  for (std::size_t i = 0; i < h.method_tag.size(); ++i) {
    h.method_tag[i] = static_cast<std::uint8_t>(tag[i]);
  }
  h.levels = levels;
  h.scale = options.scale();
  h.coder = coders::coder_for(options.coder()).header_byte;
  h.sample_count = sample_count;
  h.min = min;
  h.max = max;
  h.mean = mean;
  h.payload_len = payload_len;
  return h;
}

// Offset Width Field              Reader's rule; checks run top to bottom and the
//                                  first failure is returned. Fewer than 52 bytes
//                                  fail first, as InvalidHeader.
//  0     4   magic "CRVN"        else InvalidMagic(bytes 0..3)
//  4     1   version major = 1   else InvalidHeaderVersion(bytes 4, 5)
//  5     1   version minor       kept
//  6     2   kind "f3"           else InvalidCompressionKind(bytes 6, 7)
//  8     4   method tag          a method's tag (cf53|cf97|db04|sym4), else
//                                  InvalidCompressionMethod(bytes 8..11)
// 12     1   levels              kept (the decoder bounds it)
// 13     1   scale               6..12, else UnsupportedScale(byte)
// 14     1   coder               a coder's byte (0 DEFLATE | 1 rANS), else
//                                  UnknownEntropyCoder(byte)
// 15     1   reserved            kept
// 16     4   sample_count u32    kept (the decoder bounds it)
// 20     4   min  f32            finite, else InvalidHeader
// 24     4   max  f32            finite, else InvalidHeader
// 28     4   mean f32            finite, else InvalidHeader
// 32     4   payload_len u32     kept (the decoder checks it against the container)
// 36    16   reserved            kept
// 52         payload
// Multi-byte fields are little-endian.
CResult<CorvaneHeader> CorvaneHeader::from_bytes(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kHeaderLen) return CorvaneError::invalid_header();
  const std::uint8_t* p = bytes.data();

  CorvaneHeader h;
  h.magic = take<4>(p);
  if (h.magic != kMagic) return CorvaneError::invalid_magic(h.magic);
  h.version = take<2>(p + 4);
  if (h.version[0] != kVersion[0]) return CorvaneError::invalid_header_version(h.version);
  h.compression_kind = take<2>(p + 6);
  if (h.compression_kind != kCompressionKind) {
    return CorvaneError::invalid_compression_kind(h.compression_kind);
  }
  h.method_tag = take<4>(p + 8);
  if (!method_from_tag(h.method_tag)) {
    return CorvaneError::invalid_compression_method(h.method_tag);
  }
  h.levels = p[12];
  h.scale = p[13];
  if (h.scale < kMinScale || h.scale > kMaxScale) return CorvaneError::unsupported_scale(h.scale);
  h.coder = p[14];
  if (!coders::coder_for_header_byte(h.coder)) return CorvaneError::unknown_entropy_coder(h.coder);
  h.reserved = p[15];
  h.sample_count = load_le32(p + 16);
  const std::uint32_t min_bits = load_le32(p + 20);
  const std::uint32_t max_bits = load_le32(p + 24);
  const std::uint32_t mean_bits = load_le32(p + 28);
  if (!is_finite_bits(min_bits) || !is_finite_bits(max_bits) || !is_finite_bits(mean_bits)) {
    return CorvaneError::invalid_header();
  }
  h.min = std::bit_cast<float>(min_bits);
  h.max = std::bit_cast<float>(max_bits);
  h.mean = std::bit_cast<float>(mean_bits);
  h.payload_len = load_le32(p + 32);
  h.reserved_tail = take<16>(p + 36);
  return h;
}

std::array<std::uint8_t, kHeaderLen> CorvaneHeader::to_bytes() const {
  std::array<std::uint8_t, kHeaderLen> out{};
  std::uint8_t* p = out.data();
  put(p, magic);
  put(p + 4, version);
  put(p + 6, compression_kind);
  put(p + 8, method_tag);
  p[12] = levels;
  p[13] = scale;
  p[14] = coder;
  p[15] = reserved;
  store_le32(p + 16, sample_count);
  store_le32(p + 20, std::bit_cast<std::uint32_t>(min));
  store_le32(p + 24, std::bit_cast<std::uint32_t>(max));
  store_le32(p + 28, std::bit_cast<std::uint32_t>(mean));
  store_le32(p + 32, payload_len);
  put(p + 36, reserved_tail);
  return out;
}

}  // namespace corvane
