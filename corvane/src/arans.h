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
#include <string_view>
#include <vector>

#include "core/buffer.h"
#include "core/result.h"

namespace corvane::arans {

enum class AransError : std::uint8_t {
  Truncated = 0,           // a byte the decoder needs is missing
  InconsistentLength = 1,  // a count or length that cannot be right
};

// The fixed sentence of the error.
std::string_view render(AransError error);

template <class T>
using AResult = tessary::Result<T, AransError>;

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

// Codes any byte string. Never fails; memory exhaustion surfaces as
// std::bad_alloc like any other container growth.
std::vector<std::uint8_t> encode_stream(std::span<const std::uint8_t> input);
// The same stream appended to `out` (the codec writes it behind its header).
void append_stream(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& out);
// The same into a Buffer; false (with `out` unchanged in size) when it cannot
// grow. The coder's own working tables still throw std::bad_alloc.
bool append_stream(std::span<const std::uint8_t> input, tessary::Buffer<std::uint8_t>& out);

// Restores the bytes of a stream; any byte string is a legal argument.
AResult<std::vector<std::uint8_t>> decode_stream(std::span<const std::uint8_t> stream);
// The same into a Buffer (large outputs on huge pages).
AResult<tessary::Buffer<std::uint8_t>> decode_stream_buffer(std::span<const std::uint8_t> stream);

// The code of one plane with the given context bits (0 to 8; larger values
// are treated as 8).
std::vector<std::uint8_t> encode_plane(std::span<const std::uint8_t> plane,
                                       std::uint8_t context_bits);

// encode_plane with the plane cut into chunks of `chunk_bytes` (at least
// one), whatever its length. The encoder cuts long planes so that its
// working memory stays bounded; the code must not depend on the cut, which
// tests check through this.
std::vector<std::uint8_t> encode_plane_in_chunks(std::span<const std::uint8_t> plane,
                                                 std::uint8_t context_bits,
                                                 std::size_t chunk_bytes);

// Exactly byte_count bytes decoded from a plane code, or an error. Context
// bits above 8 are InconsistentLength.
AResult<std::vector<std::uint8_t>> decode_plane(std::span<const std::uint8_t> code,
                                                std::uint64_t byte_count,
                                                std::uint8_t context_bits);

// Reads one unsigned LEB128 number of at most 10 bytes at `cursor` and moves
// the cursor past the bytes read. The tenth byte always ends the number and
// only its lowest bit counts (as bit 63); its bit 7 set is InconsistentLength.
AResult<std::uint64_t> rv(std::span<const std::uint8_t> buffer, std::size_t& cursor);

// Appends the shortest unsigned LEB128 form of `value`.
void append_leb128(std::vector<std::uint8_t>& out, std::uint64_t value);

// floor(x / frequency) through a reciprocal table, exact for frequency in
// [1, 4095] and x < frequency * 2^20 (the range the encoder divides in after
// renormalising).
std::uint32_t divide_by_frequency(std::uint32_t x, std::uint32_t frequency);

}  // namespace corvane::arans
