// The codec's own lossless entropy coder: an adaptive binary rANS coder that
// turns any byte string into a self-delimiting stream and back.
//
// The input is split into its even-indexed and odd-indexed bytes (for 16-bit
// little-endian coefficients: the low bytes and the high bytes). Each plane is
// coded on its own, most significant bit first, through a 255-node bit tree
// whose adaptive 12-bit probabilities are selected by the top bits of the
// previous byte of the same plane. One 32-bit rANS state per plane,
// renormalised 16 bits at a time; nothing is interleaved.
//
// Stream layout (little-endian, LEB128 numbers unsigned and shortest):
//   N = 0      empty
//   N = 1..5   the input bytes themselves
//   N >= 6     | odd flag (N & 1) | context bits | LEB128 P = N/2 | LEB128 L0 |
//              | plane-0 code (L0 bytes) | plane-1 code (to the end) |
//              | input[N-1], only when N is odd |
// A plane code is the 32-bit start state followed by the 16-bit words in the
// order the decoder reads them; an empty plane has an empty code. A coded
// stream is at least 12 bytes long, so the short forms never collide with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/buffer.h"
#include "coders/coder.h"
#include "error.h"

namespace corvane::arans {

enum class AransErrorKind : std::uint8_t {
  Truncated = 0,           // a byte the decoder needs is missing
  InconsistentLength = 1,  // a count or length that cannot be right
  OutOfMemory = 2,         // a working table or an output could not be allocated
};

struct AransError {
  AransErrorKind kind;
  std::uint64_t bytes = 0;  // OutOfMemory: the bytes asked for

  static const AransError Truncated;
  static const AransError InconsistentLength;
  static constexpr AransError out_of_memory(std::uint64_t bytes) {
    return {AransErrorKind::OutOfMemory, bytes};
  }

  friend bool operator==(const AransError&, const AransError&) = default;
};
inline constexpr AransError AransError::Truncated{AransErrorKind::Truncated};
inline constexpr AransError AransError::InconsistentLength{AransErrorKind::InconsistentLength};

// The fixed sentence of the error ("Stream truncated", "Inconsistent or
// oversized length in stream", "Out of memory, can't allocate additional N").
std::string render(const AransError& error);

template <class T = void>
using AResult = Result<T, AransError>;

inline constexpr std::uint32_t kProbabilityBits = 12;
inline constexpr std::uint32_t kProbabilityScale = 1u << kProbabilityBits;  // 4096
inline constexpr std::uint16_t kInitialProbability = 2048;
inline constexpr std::uint32_t kAdaptationShift = 4;
inline constexpr std::uint8_t kMaxContextBits = 8;
// Inputs of this many bytes or more are coded with 8 context bits, shorter ones with 3.
inline constexpr std::uint64_t kLargeInputBytes = 16384;
// The largest pair count a stream may claim (inclusive).
inline constexpr std::uint64_t kMaxPairs = std::uint64_t{1} << 28;
// Inputs up to this many bytes are stored as they are.
inline constexpr std::size_t kMaxShortFormBytes = 5;

// Appends the stream of any byte string to `out` (the codec writes it behind
// its header). On failure `out` keeps its size.
AResult<> append_stream(std::span<const std::uint8_t> input, tessary::Buffer<std::uint8_t>& out);
// The stream on its own.
AResult<tessary::Buffer<std::uint8_t>> encode_stream(std::span<const std::uint8_t> input);

// Restores the bytes of a stream; any byte string is a legal argument.
AResult<tessary::Buffer<std::uint8_t>> decode_stream(std::span<const std::uint8_t> stream);

// The code of one plane with the given context bits (0 to 8; larger values
// are treated as 8).
AResult<std::vector<std::uint8_t>> encode_plane(std::span<const std::uint8_t> plane,
                                                std::uint8_t context_bits);

// encode_plane with the plane cut into chunks of `chunk_bytes` (at least
// one), whatever its length. The encoder cuts long planes so that its
// working memory stays bounded; the code must not depend on the cut, which
// tests check through this.
AResult<std::vector<std::uint8_t>> encode_plane_in_chunks(std::span<const std::uint8_t> plane,
                                                          std::uint8_t context_bits,
                                                          std::size_t chunk_bytes);

// Exactly byte_count bytes decoded from a plane code, or an error. Context
// bits above 8 are InconsistentLength.
AResult<std::vector<std::uint8_t>> decode_plane(std::span<const std::uint8_t> code,
                                                std::uint64_t byte_count,
                                                std::uint8_t context_bits);

// Reads one unsigned LEB128 number at `cursor` and moves the cursor past the
// bytes read (see read_leb128): running out is Truncated, a tenth byte that
// asks for more is InconsistentLength.
AResult<std::uint64_t> rv(std::span<const std::uint8_t> buffer, std::size_t& cursor);

// floor(x / frequency) through a reciprocal table, exact for frequency in
// [1, 4095] and x < frequency * 2^20 (the range the encoder divides in after
// renormalising).
std::uint32_t divide_by_frequency(std::uint32_t x, std::uint32_t frequency);

// The coder as the pipelines use it (see coders/coder.h). Its errors reach
// the codec as to_codec_error makes them.
CResult<> encode(std::span<const std::uint8_t> coefficient_string,
                 tessary::Buffer<std::uint8_t>& container);
CResult<> decode(std::span<const std::uint8_t> payload, coders::CoefficientSink& sink);

// OutOfMemory with the same bytes; the others as DecompressionFailed with
// their sentence.
CorvaneError to_codec_error(const AransError& error);

}  // namespace corvane::arans
