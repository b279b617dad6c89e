// Arbitrary bytes into the whole-container decoder. It must never crash, read
// out of bounds or leak; a container it accepts must yield exactly the number
// of samples its header claims.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "decompressor.h"
#include "header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  auto out = corvane::decompress(bytes);
  if (!out) {
    if (out.error().render().empty()) std::abort();
    return 0;
  }
  // Success implies the header itself was acceptable.
  auto header = corvane::CorvaneHeader::from_bytes(bytes);
  if (!header) std::abort();
  if (out.value().size() != header.value().sample_count) std::abort();
  return 0;
}
