// How long the rANS coder's stream of a byte string is, bounded from one pass
// of the coder's adaptive model instead of coding it. The model pass is a
// fraction of the encoder's work, whose backward pass of divisions is the
// expensive part; the bounds let a caller that compares the lengths of many
// strings code only those whose ranges overlap.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "error.h"

namespace corvane {

// Inclusive bounds on a length in bytes.
struct LengthRange {
  std::uint64_t lowest;
  std::uint64_t highest;

  friend bool operator==(const LengthRange&, const LengthRange&) = default;
};

// What the model pass sums over the decisions of one plane.
struct PlaneTally {
  std::uint64_t decisions = 0;
  // Sum of ceil(log2(4096 / f) * 2^24) + 1, f being the frequency of the
  // coded bit out of 4096: the ideal code length in 2^-24 bits, rounded up
  // by at most two units per decision.
  std::uint64_t cost = 0;
};

// The tallies of the two planes of input[0, 2 * pairs) (plane 0 holds the
// even-indexed bytes) under the model with `context_bits` (0 to 8).
CResult<std::array<PlaneTally, 2>> tally_planes(std::span<const std::uint8_t> input,
                                                std::uint64_t pairs, std::uint8_t context_bits);

// Bounds on the length of one non-empty plane's code, from its tally.
LengthRange plane_code_length(const PlaneTally& tally);

// Bounds on the length of arans::encode_stream(input); exact for the inputs
// that the coder stores as they are.
CResult<LengthRange> arans_stream_length(std::span<const std::uint8_t> input);

}  // namespace corvane
