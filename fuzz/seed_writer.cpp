// Writes one container for the seed scripts: float32 samples (little-endian)
// on stdin, the container on stdout.
//   seed_writer METHOD SCALE CUTOFF CODER   e.g. seed_writer db4 11 low arans
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "compressor.h"
#include "options.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s METHOD SCALE CUTOFF CODER < samples.f32 > out\n", argv[0]);
    return 2;
  }
  auto options = corvane::CompressionOptions::from_names(
      argv[1], static_cast<std::uint8_t>(std::atoi(argv[2])), argv[3], std::string_view(argv[4]));
  if (!options) {
    std::fprintf(stderr, "%s\n", options.error().c_str());
    return 2;
  }
  std::vector<float> samples;
  float value;
  while (std::fread(&value, sizeof value, 1, stdin) == 1) samples.push_back(value);
  auto container = corvane::compress(std::span<const float>(samples), options.value());
  if (!container) {
    std::fprintf(stderr, "%s\n", container.error().render().c_str());
    return 1;
  }
  const auto& bytes = container.value();
  return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() ? 0 : 1;
}
