// Arbitrary bytes into the header reader. A header that parses must be written
// back byte for byte (every field is kept, checked or not); a rejection must
// render to a message.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto parsed = corvane::CorvaneHeader::from_bytes(std::span<const std::uint8_t>(data, size));
  if (!parsed) {
    if (parsed.error().render().empty()) std::abort();
    return 0;
  }
  if (size < corvane::kHeaderLen) std::abort();
  const auto written = parsed.value().to_bytes();
  if (std::memcmp(written.data(), data, corvane::kHeaderLen) != 0) std::abort();
  if (!parsed.value().method()) std::abort();
  return 0;
}
