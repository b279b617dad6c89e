// The seam between the pipelines and the entropy coders. Every coder carries
// the coefficient string: the quantised coefficients as little-endian int16,
// the deepest approximation band first, then the detail bands finest first.
// The compressor hands a coder the whole string and the container to append
// its payload to; a decoder hands the string back in pieces of any size to a
// CoefficientSink, which dequantises each piece as it arrives and keeps only
// the coefficients the bands need.
//
// Adding a coder: a file pair in this folder offering encode and decode with
// the signatures of Coder, a row in the table in coder.cpp, and its name in
// the options' coder table.
#pragma once

#include <cstdint>
#include <span>

#include "core/buffer.h"
#include "error.h"
#include "options.h"

namespace corvane::coders {

// Where a decoder delivers the coefficient string. It keeps the first
// `needed` coefficients as floats q * step (exact: step is a power of two),
// counts them, and drops whatever follows. Beyond what a decoder reserves,
// its memory grows with what arrives, never with what a payload claims.
class CoefficientSink {
 public:
  CoefficientSink(std::uint64_t needed, float step) : needed_(needed), step_(step) {}

  std::uint64_t needed() const { return needed_; }
  // Coefficients kept so far, at most needed().
  std::uint64_t kept() const { return kept_; }

  // Room for `count` coefficients (at most needed()) before any arrive, for
  // a decoder that can tell how many are coming. Without it the room doubles
  // as pieces arrive.
  CResult<> reserve(std::uint64_t count);

  // Room for every needed coefficient when a payload of this many bytes
  // could plausibly decode to them (see kTrustedRatio in coder.cpp), so that
  // an ordinary container fills its bands without moving them; otherwise a
  // first block, grown as coefficients actually arrive.
  CResult<> reserve_for_payload(std::uint64_t payload_bytes);

  // The next bytes of the string. A piece may end inside a coefficient; the
  // next piece completes it. A final odd byte is ignored.
  CResult<> take(std::span<const std::uint8_t> bytes);

  // The kept coefficients; the sink is empty afterwards.
  tessary::Buffer<float> release();

 private:
  CResult<> make_room(std::uint64_t count);

  std::uint64_t needed_;
  float step_;
  std::uint64_t kept_ = 0;
  tessary::Buffer<float> coefficients_;  // its size is the room, kept_ of it filled
  bool has_odd_byte_ = false;
  std::uint8_t odd_byte_ = 0;
};

// An entropy coder as the pipelines see it.
struct Coder {
  EntropyCoder value;
  // The coder byte a container records when this coder made its payload.
  std::uint8_t header_byte;
  // The most coefficients its decoder accepts.
  std::uint64_t max_coefficients;
  // Appends the payload of a coefficient string to `container`.
  CResult<> (*encode)(std::span<const std::uint8_t> coefficient_string,
                      tessary::Buffer<std::uint8_t>& container);
  // Decodes a payload into `sink`; fewer coefficients than needed is left
  // for the caller to judge.
  CResult<> (*decode)(std::span<const std::uint8_t> payload, CoefficientSink& sink);
};

// The coder that options select (Auto is kAutoCoder).
const Coder& coder_for(EntropyCoder coder);

// The coder a container's coder byte names, or null for a byte no coder has.
const Coder* coder_for_header_byte(std::uint8_t header_byte);

// UnsupportedConfiguration when the coder's decoder would refuse a payload of
// this many coefficients, naming the coder that would not.
CResult<> check_capacity(const Coder& coder, std::uint64_t coefficient_count);

}  // namespace corvane::coders
