#include "error.h"

#include <algorithm>

#include "options.h"
#include "text.h"

namespace corvane {
namespace {

std::string bytes_as_text(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  return std::string(bytes.size(), '?');
}

}  // namespace

template <std::size_t N>
CorvaneError CorvaneError::with_bytes(CorvaneErrorKind kind, std::array<std::uint8_t, N> bytes) {
  static_assert(N <= 4);
  CorvaneError e(kind);
  std::copy(bytes.begin(), bytes.end(), e.bytes_.begin());
  e.byte_count_ = N;
  return e;
}

CorvaneError CorvaneError::with_text(CorvaneErrorKind kind, std::string text) {
  CorvaneError e(kind);
  e.text_ = std::move(text);
  return e;
}

CorvaneError CorvaneError::with_number(CorvaneErrorKind kind, std::uint64_t number) {
  CorvaneError e(kind);
  e.number_ = number;
  return e;
}

CorvaneError CorvaneError::invalid_compression_method(std::array<std::uint8_t, 4> tag) {
  return with_bytes(CorvaneErrorKind::InvalidCompressionMethod, tag);
}
CorvaneError CorvaneError::invalid_magic(std::array<std::uint8_t, 4> magic) {
  return with_bytes(CorvaneErrorKind::InvalidMagic, magic);
}
CorvaneError CorvaneError::invalid_compression_kind(std::array<std::uint8_t, 2> kind) {
  return with_bytes(CorvaneErrorKind::InvalidCompressionKind, kind);
}
CorvaneError CorvaneError::invalid_header_version(std::array<std::uint8_t, 2> version) {
  return with_bytes(CorvaneErrorKind::InvalidHeaderVersion, version);
}
CorvaneError CorvaneError::transform(std::string text) {
  return with_text(CorvaneErrorKind::Transform, std::move(text));
}
CorvaneError CorvaneError::io(std::string text) {
  return with_text(CorvaneErrorKind::Io, std::move(text));
}
CorvaneError CorvaneError::out_of_memory(std::uint64_t bytes) {
  return with_number(CorvaneErrorKind::OutOfMemory, bytes);
}
CorvaneError CorvaneError::out_of_memory(const tessary::TessaryError& allocation) {
  return out_of_memory(allocation.first);
}
CorvaneError CorvaneError::invalid_header() { return CorvaneError(CorvaneErrorKind::InvalidHeader); }
CorvaneError CorvaneError::unsupported_configuration(std::string text) {
  return with_text(CorvaneErrorKind::UnsupportedConfiguration, std::move(text));
}
CorvaneError CorvaneError::decompression_failed(std::string text) {
  return with_text(CorvaneErrorKind::DecompressionFailed, std::move(text));
}
CorvaneError CorvaneError::unsupported_scale(std::uint8_t scale) {
  return with_number(CorvaneErrorKind::UnsupportedScale, scale);
}
CorvaneError CorvaneError::unknown_entropy_coder(std::uint8_t coder) {
  return with_number(CorvaneErrorKind::UnknownEntropyCoder, coder);
}

std::string CorvaneError::render() const {
  switch (kind_) {
    case CorvaneErrorKind::InvalidCompressionMethod:
    case CorvaneErrorKind::InvalidCompressionKind:
      return "Invalid compression method '" + bytes_as_text(bytes()) + "'";
    case CorvaneErrorKind::InvalidMagic:
      return "Magic should be 'CRVN' but it was '" + bytes_as_text(bytes()) + "'";
    case CorvaneErrorKind::InvalidHeaderVersion:
      return "Invalid header version '" + bytes_as_text(bytes()) + "'";
    case CorvaneErrorKind::Transform:
    case CorvaneErrorKind::Io:
      return text_;
    case CorvaneErrorKind::OutOfMemory:
      return "Out of memory, can't allocate additional " + std::to_string(number_);
    case CorvaneErrorKind::InvalidHeader:
      return "Header is invalid";
    case CorvaneErrorKind::UnsupportedConfiguration:
      return "Unsupported compression configuration '" + text_ + "'";
    case CorvaneErrorKind::DecompressionFailed:
      return "Can't decompress data, reason: " + text_;
    case CorvaneErrorKind::UnsupportedScale:
      return "Only scaled " + std::to_string(kMinScale) + ".." + std::to_string(kMaxScale) +
             " is supported, but it was " + std::to_string(number_);
    case CorvaneErrorKind::UnknownEntropyCoder:
      return "Unknown entropy coder " + std::to_string(number_);
  }
  return "Unknown codec error";
}

}  // namespace corvane
