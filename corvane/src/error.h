// The codec's single error type: a kind and its payload, rendered to one
// fixed English sentence per kind. Rendering is the only way an error leaves
// the codec (Python raises ValueError with exactly that text).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/error.h"
#include "core/result.h"

namespace corvane {

using tessary::fail;
using tessary::Result;

enum class CorvaneErrorKind : std::uint8_t {
  InvalidCompressionMethod = 0,  // 4 bytes: the method tag found
  InvalidMagic = 1,              // 4 bytes: the magic found
  InvalidCompressionKind = 2,    // 2 bytes: the kind tag found
  InvalidHeaderVersion = 3,      // 2 bytes: the version bytes found
  Transform = 4,                 // text: the engine's message
  Io = 5,                        // text: the DEFLATE writer's message
  OutOfMemory = 6,               // the bytes asked for
  InvalidHeader = 7,             //
  UnsupportedConfiguration = 8,  // text
  DecompressionFailed = 9,       // text
  UnsupportedScale = 10,         // the scale found
  UnknownEntropyCoder = 11,      // the coder byte found
};

class CorvaneError {
 public:
  static CorvaneError invalid_compression_method(std::array<std::uint8_t, 4> tag);
  static CorvaneError invalid_magic(std::array<std::uint8_t, 4> magic);
  static CorvaneError invalid_compression_kind(std::array<std::uint8_t, 2> kind);
  static CorvaneError invalid_header_version(std::array<std::uint8_t, 2> version);
  static CorvaneError transform(std::string text);
  static CorvaneError io(std::string text);
  static CorvaneError out_of_memory(std::uint64_t bytes);
  // From a failed engine allocation, whose payload is the bytes it asked for.
  static CorvaneError out_of_memory(const tessary::TessaryError& allocation);
  static CorvaneError invalid_header();
  static CorvaneError unsupported_configuration(std::string text);
  static CorvaneError decompression_failed(std::string text);
  static CorvaneError unsupported_scale(std::uint8_t scale);
  static CorvaneError unknown_entropy_coder(std::uint8_t coder);

  CorvaneErrorKind kind() const { return kind_; }
  // Byte payload of the first four kinds (2 or 4 bytes used).
  std::string_view bytes() const {
    return {reinterpret_cast<const char*>(bytes_.data()), byte_count_};
  }
  const std::string& text() const { return text_; }
  std::uint64_t number() const { return number_; }

  // The fixed sentence of this error with its payload. Byte payloads that
  // are not UTF-8 show one '?' per byte.
  std::string render() const;

  friend bool operator==(const CorvaneError&, const CorvaneError&) = default;

 private:
  explicit CorvaneError(CorvaneErrorKind kind) : kind_(kind) {}
  template <std::size_t N>
  static CorvaneError with_bytes(CorvaneErrorKind kind, std::array<std::uint8_t, N> bytes);
  static CorvaneError with_text(CorvaneErrorKind kind, std::string text);
  static CorvaneError with_number(CorvaneErrorKind kind, std::uint64_t number);

  CorvaneErrorKind kind_;
  std::array<std::uint8_t, 4> bytes_{};
  std::uint8_t byte_count_ = 0;
  std::string text_;
  std::uint64_t number_ = 0;
};

template <class T = void>
using CResult = Result<T, CorvaneError>;

}  // namespace corvane
