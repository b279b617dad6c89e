// The 52-byte container header: its parsed record, the one reader and the
// writer used by the compression pipeline.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>

#include "error.h"
#include "options.h"

namespace corvane {

inline constexpr std::size_t kHeaderLen = 52;
inline constexpr std::array<std::uint8_t, 4> kMagic = {'C', 'R', 'V', 'N'};
inline constexpr std::array<std::uint8_t, 2> kVersion = {1, 1};
inline constexpr std::array<std::uint8_t, 2> kCompressionKind = {'f', '3'};
// Largest sample count a container can describe: readers take the count
// field as a signed 32-bit value.
inline constexpr std::uint64_t kMaxSampleCount = std::numeric_limits<std::int32_t>::max();
// Smallest sample count a container can describe: there is no empty signal.
inline constexpr std::uint64_t kMinSampleCount = 1;

// Every header field in stored order and width; no heap parts, so the record
// is exactly as large as the bytes it comes from.
struct CorvaneHeader {
  std::array<std::uint8_t, 4> magic{};
  std::array<std::uint8_t, 2> version{};  // major, minor
  std::array<std::uint8_t, 2> compression_kind{};
  std::array<std::uint8_t, 4> method_tag{};
  std::uint8_t levels = 0;
  std::uint8_t scale = 0;
  std::uint8_t coder = 0;  // 0 raw DEFLATE, 1 adaptive rANS; never Auto
  std::uint8_t reserved = 0;
  std::uint32_t sample_count = 0;
  float min = 0.0f;
  float max = 0.0f;
  float mean = 0.0f;
  std::uint32_t payload_len = 0;  // bytes of coded payload after the header
  std::array<std::uint8_t, 16> reserved_tail{};

  // The header the compression pipeline writes before a payload made with
  // these options. The coder byte names the coder that ran, never Auto.
  static CorvaneHeader for_payload(const CompressionOptions& options, std::uint8_t levels,
                                   std::uint32_t sample_count, float min, float max, float mean,
                                   std::uint32_t payload_len);

  // Reads the first kHeaderLen bytes of a container; never looks further.
  static CResult<CorvaneHeader> from_bytes(std::span<const std::uint8_t> bytes);

  // The stored form, field by field, little-endian.
  std::array<std::uint8_t, kHeaderLen> to_bytes() const;

  // The method named by the tag; always present in a parsed or written header.
  std::optional<CompressionMethod> method() const { return method_from_tag(method_tag); }
};

static_assert(sizeof(CorvaneHeader) == kHeaderLen, "the record mirrors the stored layout");

}  // namespace corvane
