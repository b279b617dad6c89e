// Little-endian fixed-width fields and unsigned LEB128 numbers, the two ways
// the container header and the rANS stream store integers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/result.h"

namespace corvane {

inline std::uint16_t load_le16(const std::uint8_t* in) {
  return static_cast<std::uint16_t>(in[0] | in[1] << 8);
}

inline std::uint32_t load_le32(const std::uint8_t* in) {
  return std::uint32_t{in[0]} | std::uint32_t{in[1]} << 8 | std::uint32_t{in[2]} << 16 |
         std::uint32_t{in[3]} << 24;
}

inline void store_le16(std::uint8_t* out, std::uint16_t v) {
  out[0] = static_cast<std::uint8_t>(v);
  out[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void store_le32(std::uint8_t* out, std::uint32_t v) {
  out[0] = static_cast<std::uint8_t>(v);
  out[1] = static_cast<std::uint8_t>(v >> 8);
  out[2] = static_cast<std::uint8_t>(v >> 16);
  out[3] = static_cast<std::uint8_t>(v >> 24);
}

// Unsigned LEB128: 7 value bits per byte, least significant group first, bit
// 7 set on every byte but the last. 10 bytes hold 64 bits (9 * 7 = 63, and
// the tenth byte supplies bit 63).
inline constexpr std::size_t kMaxLeb128Bytes = 10;

// Writes the shortest form of `value` at `out`, which has room for
// kMaxLeb128Bytes; returns its length.
inline std::size_t put_leb128(std::uint8_t* out, std::uint64_t value) {
  std::size_t length = 0;
  while (value >= 0x80) {
    out[length++] = static_cast<std::uint8_t>(value | 0x80);
    value >>= 7;
  }
  out[length++] = static_cast<std::uint8_t>(value);
  return length;
}

enum class Leb128Error : std::uint8_t {
  Truncated,  // the bytes ended before the number did
  Overlong,   // the tenth byte asks for an eleventh
};

// Reads one number at `cursor` and moves the cursor past the bytes read. The
// tenth byte always ends the number: only its lowest bit counts (as bit 63),
// and its bit 7 set is Overlong.
inline tessary::Result<std::uint64_t, Leb128Error> read_leb128(std::span<const std::uint8_t> in,
                                                               std::size_t& cursor) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < kMaxLeb128Bytes; ++i) {
    if (cursor >= in.size()) return Leb128Error::Truncated;
    const std::uint8_t byte = in[cursor++];
    if (i == kMaxLeb128Bytes - 1) {
      if (byte & 0x80) return Leb128Error::Overlong;
      return value | std::uint64_t{byte & 1u} << 63;
    }
    value |= std::uint64_t{byte & 0x7Fu} << (7 * i);
    if (!(byte & 0x80)) return value;
  }
  return value;  // not reached: the tenth byte returns above
}

}  // namespace corvane
