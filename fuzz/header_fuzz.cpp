// Arbitrary bytes into the header reader. A header that parses must be written
// back byte for byte (every field is kept, checked or not) and must hold only
// values the rest of the decoder relies on: the known magic, major version,
// kind and tag, a scale in range, a stored coder, finite amplitudes. A
// rejection must render to a message. Bytes after the header never matter.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "coders/coder.h"
#include "header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  auto parsed = corvane::CorvaneHeader::from_bytes(bytes);
  if (size > corvane::kHeaderLen) {
    // The same verdict on the header alone, copied so that ASan catches a
    // read past it.
    const std::vector<std::uint8_t> alone(data, data + corvane::kHeaderLen);
    auto again = corvane::CorvaneHeader::from_bytes(alone);
    if (again.ok() != parsed.ok()) std::abort();
    if (!again.ok() && !(again.error() == parsed.error())) std::abort();
  }
  if (!parsed) {
    if (parsed.error().render().empty()) std::abort();
    return 0;
  }
  if (size < corvane::kHeaderLen) std::abort();
  const corvane::CorvaneHeader& h = parsed.value();
  const auto written = h.to_bytes();
  if (std::memcmp(written.data(), data, corvane::kHeaderLen) != 0) std::abort();
  if (!h.method()) std::abort();
  if (h.magic != corvane::kMagic || h.version[0] != corvane::kVersion[0] ||
      h.compression_kind != corvane::kCompressionKind) {
    std::abort();
  }
  if (h.scale < corvane::kMinScale || h.scale > corvane::kMaxScale ||
      !corvane::coders::coder_for_header_byte(h.coder)) std::abort();
  if (!std::isfinite(h.min) || !std::isfinite(h.max) || !std::isfinite(h.mean)) std::abort();
  return 0;
}
