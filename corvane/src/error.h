// The codec's vocabulary: compression options with their names and codes,
// and the single error type CorvaneError with its rendered messages.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.h"

namespace corvane {

using tessary::fail;
using tessary::Result;

enum class CompressionMethod : std::uint8_t { Cdf53 = 0, Cdf97 = 1, Db4 = 2, Sym4 = 3 };
enum class CutoffLevel : std::uint8_t { Low = 0, Medium = 1, High = 2 };
enum class EntropyCoder : std::uint8_t { Deflate = 0, Arans = 1, Auto = 2 };

inline constexpr std::uint8_t kMinScale = 6;
inline constexpr std::uint8_t kMaxScale = 12;

// Header tag of each method, indexed by its code.
inline constexpr std::array<std::array<char, 4>, 4> kMethodTags = {{
    {'c', 'f', '5', '3'},
    {'c', 'f', '9', '7'},
    {'d', 'b', '0', '4'},
    {'s', 'y', 'm', '4'},
}};

// Multiplier of the detail cut-off threshold, indexed by the cut-off code.
inline constexpr std::array<std::uint8_t, 3> kCutoffMultipliers = {1, 3, 7};

// The method whose header tag this is, if any.
std::optional<CompressionMethod> method_from_tag(std::array<std::uint8_t, 4> tag);

// The coder byte a container records: the coder that produced the payload.
// Auto always runs the adaptive rANS coder, so it is never stored itself.
constexpr std::uint8_t header_coder_byte(EntropyCoder coder) {
  return coder == EntropyCoder::Deflate ? 0 : 1;
}

enum class CorvaneErrorKind : std::uint8_t {
  InvalidCompressionMethod = 0,  // 4 bytes: the method tag found
  InvalidMagic = 1,              // 4 bytes: the magic found
  InvalidCompressionKind = 2,    // 2 bytes: the kind tag found
  InvalidHeaderVersion = 3,      // 2 bytes: the version bytes found
  Transform = 4,                 // text
  Io = 5,                        // text
  OutOfMemory = 6,               // element count
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
  static CorvaneError out_of_memory(std::uint64_t elements);
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

  // The fixed sentence of this error with its payload.
  std::string render() const;

  friend bool operator==(const CorvaneError&, const CorvaneError&) = default;

 private:
  explicit CorvaneError(CorvaneErrorKind kind) : kind_(kind) {}

  CorvaneErrorKind kind_;
  std::array<std::uint8_t, 4> bytes_{};
  std::uint8_t byte_count_ = 0;
  std::string text_;
  std::uint64_t number_ = 0;
};

template <class T>
using CResult = Result<T, CorvaneError>;
using CStatus = Result<void, CorvaneError>;

// Always valid once built: the only ways in are the defaults, create() and
// from_names(), and each checks every field.
class CompressionOptions {
 public:
  CompressionOptions() = default;

  static CResult<CompressionOptions> create(CompressionMethod method, std::uint8_t scale,
                                            CutoffLevel cutoff, EntropyCoder coder);

  // From the Python-level names. Checks run in the order method, cutoff,
  // scale, coder; the first failure's message is returned. An absent coder
  // means Auto.
  static Result<CompressionOptions, std::string> from_names(
      std::string_view method, std::uint8_t scale, std::string_view cutoff,
      std::optional<std::string_view> coder);

  CompressionMethod method() const { return method_; }
  std::uint8_t scale() const { return scale_; }
  CutoffLevel cutoff() const { return cutoff_; }
  EntropyCoder coder() const { return coder_; }

  friend bool operator==(const CompressionOptions&, const CompressionOptions&) = default;

 private:
  CompressionOptions(CompressionMethod method, std::uint8_t scale, CutoffLevel cutoff,
                     EntropyCoder coder)
      : method_(method), scale_(scale), cutoff_(cutoff), coder_(coder) {}

  CompressionMethod method_ = CompressionMethod::Cdf97;
  std::uint8_t scale_ = 11;
  CutoffLevel cutoff_ = CutoffLevel::Low;
  EntropyCoder coder_ = EntropyCoder::Auto;
};

// Quotes text the way the option messages show a rejected name: in double
// quotes, with backslash escapes for '"', '\\' and control characters.
std::string debug_quote(std::string_view text);

// True when the bytes are well-formed UTF-8.
bool is_valid_utf8(std::string_view bytes);

}  // namespace corvane
