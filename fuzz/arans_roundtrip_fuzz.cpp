// encode_stream then decode_stream gives back every input exactly.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <span>

#include "coders/arans.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace arans = corvane::arans;
  const std::span<const std::uint8_t> input(data, size);
  const auto stream = arans::encode_stream(input);
  if (!stream) std::abort();
  auto decoded = arans::decode_stream(stream.value());
  if (!decoded) std::abort();
  const auto& out = decoded.value();
  if (out.size() != size || !std::equal(out.begin(), out.end(), input.begin())) std::abort();
  return 0;
}
