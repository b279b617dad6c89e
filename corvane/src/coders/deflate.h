// Raw DEFLATE (RFC 1951, no zlib or gzip wrapper, no checksum) through zlib
// as a coder: level 6, memory level 8, default strategy on the way in;
// inflation straight into the coefficient sink on the way out.
#pragma once

#include <cstdint>
#include <span>

#include "core/buffer.h"
#include "coders/coder.h"
#include "error.h"

namespace corvane::deflate {

// Appends the DEFLATE stream of the coefficient string to `container`; a
// zlib failure is Io with zlib's text.
CResult<> encode(std::span<const std::uint8_t> coefficient_string,
                 tessary::Buffer<std::uint8_t>& container);

// Inflates a payload into `sink`. The stream is read to its end even after
// the sink has every coefficient it needs, so that a corrupt tail is still
// reported (DecompressionFailed with zlib's text, "corrupt deflate stream"
// for malformed data). A payload that ends before its stream does is not an
// error here: what was inflated stands.
CResult<> decode(std::span<const std::uint8_t> payload, coders::CoefficientSink& sink);

}  // namespace corvane::deflate
