// decode_stream on arbitrary bytes: it must never crash or read out of
// bounds, and whatever it decodes must survive a second round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "coders/arans.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace arans = corvane::arans;
  auto decoded = arans::decode_stream(std::span<const std::uint8_t>(data, size));
  if (!decoded) return 0;
  const auto restream = arans::encode_stream(decoded.value());
  if (!restream) std::abort();
  auto again = arans::decode_stream(restream.value());
  if (!again || !(again.value() == decoded.value())) std::abort();
  return 0;
}
