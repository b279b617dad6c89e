// How a signal is compressed: the wavelet method, the quantisation scale, the
// detail cut-off and the entropy coder, each with its Python-level name, its
// codes and its defaults, and the parser that builds options from names.
// These tables are the one source of option names: the binding builds its
// defaults and text signature from them, and the type stub and the numcodecs
// package are tested against the module that reads them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "error.h"

namespace corvane {

// The numeric codes are the codec's own: a container stores the method's tag
// and the byte of the coder that ran, never these codes.
enum class CompressionMethod : std::uint8_t { Cdf53 = 0, Cdf97 = 1, Db4 = 2, Sym4 = 3 };
enum class CutoffLevel : std::uint8_t { Low = 0, Medium = 1, High = 2 };
enum class EntropyCoder : std::uint8_t { Deflate = 0, Arans = 1, Auto = 2 };

struct MethodRow {
  CompressionMethod value;
  std::string_view name;
  std::string_view tag;  // 4 ASCII bytes in the container header
};

struct CutoffRow {
  CutoffLevel value;
  std::string_view name;
  // Quantised details below the scale's base threshold times this are zeroed.
  std::uint8_t multiplier;
};

struct CoderRow {
  EntropyCoder value;
  std::string_view name;
};

// Each table lists its options in the order the option messages name them.
inline constexpr std::array<MethodRow, 4> kMethodRows = {{
    {CompressionMethod::Cdf97, "cdf97", "cf97"},
    {CompressionMethod::Cdf53, "cdf53", "cf53"},
    {CompressionMethod::Db4, "db4", "db04"},
    {CompressionMethod::Sym4, "sym4", "sym4"},
}};
inline constexpr std::array<CutoffRow, 3> kCutoffRows = {{
    {CutoffLevel::Low, "low", 1},
    {CutoffLevel::Medium, "medium", 3},
    {CutoffLevel::High, "high", 7},
}};
inline constexpr std::array<CoderRow, 3> kCoderRows = {{
    {EntropyCoder::Auto, "auto"},
    {EntropyCoder::Deflate, "deflate"},
    {EntropyCoder::Arans, "arans"},
}};

// Quantisation exponents: coefficients are scaled by 2^scale (64 to 4096).
// Containers are held to the same range when read.
inline constexpr std::uint8_t kMinScale = 6;
inline constexpr std::uint8_t kMaxScale = 12;

inline constexpr CompressionMethod kDefaultMethod = CompressionMethod::Cdf97;
inline constexpr std::uint8_t kDefaultScale = 11;
inline constexpr CutoffLevel kDefaultCutoff = CutoffLevel::Low;
// Where no coder is named; Python spells that None.
inline constexpr EntropyCoder kDefaultCoder = EntropyCoder::Auto;
// The coder that Auto runs. No trial of both is made.
inline constexpr EntropyCoder kAutoCoder = EntropyCoder::Arans;

// The table row of an option; every enumerator has exactly one.
template <class Row, std::size_t N, class Value>
constexpr const Row& row_of(const std::array<Row, N>& rows, Value value) {
  for (const Row& row : rows) {
    if (row.value == value) return row;
  }
  return rows[0];  // not reached for a valid option
}

constexpr std::string_view name_of(CompressionMethod m) { return row_of(kMethodRows, m).name; }
constexpr std::string_view name_of(CutoffLevel c) { return row_of(kCutoffRows, c).name; }
constexpr std::string_view name_of(EntropyCoder e) { return row_of(kCoderRows, e).name; }
constexpr std::string_view tag_of(CompressionMethod m) { return row_of(kMethodRows, m).tag; }
constexpr std::uint8_t multiplier_of(CutoffLevel c) { return row_of(kCutoffRows, c).multiplier; }

// The method whose header tag this is, if any.
std::optional<CompressionMethod> method_from_tag(std::array<std::uint8_t, 4> tag);

// Always valid once built: the only ways in are the defaults, create() and
// from_names(), and each checks every field.
class CompressionOptions {
 public:
  CompressionOptions() = default;

  static CResult<CompressionOptions> create(CompressionMethod method, std::uint8_t scale,
                                            CutoffLevel cutoff, EntropyCoder coder);

  // From the Python-level names, matched byte for byte. Checks run in the
  // order method, cutoff, scale, coder, and the first failure's message is
  // returned (ValueError text in Python). An absent coder is the default.
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

  CompressionMethod method_ = kDefaultMethod;
  std::uint8_t scale_ = kDefaultScale;
  CutoffLevel cutoff_ = kDefaultCutoff;
  EntropyCoder coder_ = kDefaultCoder;
};

}  // namespace corvane
