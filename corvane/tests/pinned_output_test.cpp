// Pins the exact bytes that both pipelines produce for fixed inputs, so that
// work on speed and memory cannot change a container or a reconstruction
// unnoticed. The transforms run on the portable path (feature word 0): the
// wide kernels round differently and may change with the processor.
//
// The expected FNV-1a hashes were taken from the code before any tuning. A
// failure means an output changed: find out why before touching a literal.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "coders/arans.h"
#include "compressor.h"
#include "decompressor.h"

namespace corvane {
namespace {

constexpr tessary::CpuFeatures kPortable = 0;

struct Fnv {
  std::uint64_t h = 0xcbf29ce484222325ull;
  void add(std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t b : bytes) {
      h ^= b;
      h *= 0x100000001b3ull;
    }
  }
};

// Integer generator and float arithmetic only (no libm), so the samples are
// the same bits on every host.
struct Lcg {
  std::uint32_t s;
  std::uint32_t next() { return s = s * 1664525u + 1013904223u; }
  float unit() { return static_cast<float>(next() >> 8) * (1.0f / 16777216.0f); }
};

// Spikes every 300 samples on a slow triangle wave with a little noise: an
// ECG-like mix of smooth parts and sharp events.
std::vector<float> pulses(std::size_t n, std::uint32_t seed) {
  Lcg rng{seed};
  std::vector<float> v(n);
  for (std::size_t i = 0; i < n; ++i) {
    const auto phase = static_cast<float>(i % 2000);
    const float wave = phase < 1000.0f ? phase / 1000.0f : (2000.0f - phase) / 1000.0f;
    const auto beat = static_cast<float>(i % 300);
    const float spike = beat < 10.0f ? 5.0f - beat * 0.5f : 0.0f;
    v[i] = 40.0f + wave + spike + 0.05f * rng.unit();
  }
  return v;
}

std::vector<float> noise(std::size_t n, std::uint32_t seed) {
  Lcg rng{seed};
  std::vector<float> v(n);
  for (float& x : v) x = 200.0f * rng.unit() - 100.0f;
  return v;
}

std::vector<float> with_specials(std::vector<float> v) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  for (std::size_t i = 0; i < v.size(); i += 97) v[i] = std::numeric_limits<float>::quiet_NaN();
  for (std::size_t i = 13; i < v.size(); i += 131) v[i] = kInf;
  for (std::size_t i = 29; i < v.size(); i += 151) v[i] = -kInf;
  return v;
}

struct PinCase {
  const char* signal;
  CompressionMethod method;
  std::uint64_t containers;       // hash of every container of the case, in order
  std::uint64_t reconstructions;  // hash of every decoded signal, in order
};

std::vector<float> signal_named(const std::string& name) {
  if (name == "pulses_40000") return pulses(40000, 1);
  if (name == "pulses_5001") return pulses(5001, 2);
  if (name == "noise_1000") return noise(1000, 3);
  if (name == "specials_300") return with_specials(pulses(300, 4));
  if (name == "specials_7") return with_specials(noise(7, 5));
  return std::vector<float>(100, 3.25f);  // "constant_100"
}

constexpr std::array<std::pair<std::uint8_t, CutoffLevel>, 4> kScales = {{
    {11, CutoffLevel::Low}, {8, CutoffLevel::High}, {12, CutoffLevel::Medium},
    {6, CutoffLevel::Low}}};

class PinnedOutput : public ::testing::TestWithParam<PinCase> {};

TEST_P(PinnedOutput, ContainersAndReconstructionsKeepTheirBytes) {
  const PinCase& c = GetParam();
  const std::vector<float> signal = signal_named(c.signal);
  Fnv containers;
  Fnv reconstructions;
  for (const EntropyCoder coder : {EntropyCoder::Deflate, EntropyCoder::Arans}) {
    for (const auto& [scale, cutoff] : kScales) {
      const auto options = CompressionOptions::create(c.method, scale, cutoff, coder).value();
      auto container = compress(signal, options, kPortable);
      ASSERT_TRUE(container.ok()) << container.error().render();
      containers.add(container.value());
      auto decoded = decompress(container.value(), kPortable);
      ASSERT_TRUE(decoded.ok()) << decoded.error().render();
      ASSERT_EQ(decoded.value().size(), signal.size());
      reconstructions.add({reinterpret_cast<const std::uint8_t*>(decoded.value().data()),
                           decoded.value().size() * sizeof(float)});
    }
  }
  EXPECT_EQ(containers.h, c.containers) << std::hex << "containers now 0x" << containers.h;
  EXPECT_EQ(reconstructions.h, c.reconstructions)
      << std::hex << "reconstructions now 0x" << reconstructions.h;
}

using M = CompressionMethod;
const PinCase kPins[] = {
    {"pulses_40000", M::Cdf53, 0xa9f9ba3603470367ull, 0x1d574ac51ce85ff5ull},
    {"pulses_40000", M::Cdf97, 0x708b3c817fa93749ull, 0x5824ef8fd389226dull},
    {"pulses_40000", M::Db4, 0xbe6be4be5ac4593bull, 0xe7c87ada128eaf25ull},
    {"pulses_40000", M::Sym4, 0x92a49f93e679cfc7ull, 0x63977b29885f3ccdull},
    {"pulses_5001", M::Cdf53, 0x8337995aa877a63dull, 0x682d8e2828028fa5ull},
    {"pulses_5001", M::Cdf97, 0xe2f8cbe35d7b466full, 0xa83ad92f359ec905ull},
    {"pulses_5001", M::Db4, 0x9c525f9f18705386ull, 0x40fc4f320c7a1d6dull},
    {"pulses_5001", M::Sym4, 0xa91778350ac2421dull, 0xf92ff70dc9ce6721ull},
    {"noise_1000", M::Cdf53, 0xb022b1b06e804fe5ull, 0x989def13ab18900dull},
    {"noise_1000", M::Cdf97, 0x5930b870e1ed3c46ull, 0x17c43be6a514a69dull},
    {"noise_1000", M::Db4, 0xe07c2cc53d257d9ull, 0x6929395dc9caa445ull},
    {"noise_1000", M::Sym4, 0xc7789e9cff776dfeull, 0xd476c8b74ed74efdull},
    {"specials_300", M::Cdf53, 0xc86ce2940dd49eb6ull, 0xb8cf53e7f92c2d5dull},
    {"specials_300", M::Cdf97, 0xb6206849d89fde7eull, 0x78b84a616ce8afd9ull},
    {"specials_300", M::Db4, 0xeda4ca55ad1f7d27ull, 0xcfd351ccd418cb65ull},
    {"specials_300", M::Sym4, 0x4d09364a9b6a3476ull, 0x69c52c872fabf0cdull},
    {"specials_7", M::Cdf53, 0xebb0c6b90aeb8478ull, 0x55da0ad9c3ea5b01ull},
    {"specials_7", M::Cdf97, 0xacb746d794cdbf6bull, 0xa31ee64e4a18618dull},
    {"specials_7", M::Db4, 0xa88771d60198a679ull, 0xed14146f068892edull},
    {"specials_7", M::Sym4, 0x9d9ba340317a064eull, 0x3b79912bde2aa545ull},
    {"constant_100", M::Cdf53, 0x8db66361131f54f5ull, 0xe855f3a07240cf25ull},
    {"constant_100", M::Cdf97, 0x34e654039c613b15ull, 0xe855f3a07240cf25ull},
    {"constant_100", M::Db4, 0x19b196dae3e4a4e9ull, 0xe855f3a07240cf25ull},
    {"constant_100", M::Sym4, 0xd967659177f16019ull, 0xe855f3a07240cf25ull},
};

std::string pin_name(const ::testing::TestParamInfo<PinCase>& info) {
  constexpr const char* kNames[] = {"cdf53", "cdf97", "db4", "sym4"};
  return std::string(info.param.signal) + "_" + kNames[static_cast<int>(info.param.method)];
}

INSTANTIATE_TEST_SUITE_P(Pipelines, PinnedOutput, ::testing::ValuesIn(kPins), pin_name);

// The coder on its own, over both context sizes, odd lengths and skewed
// bytes (mostly small values, as quantised coefficients are).
struct StreamPin {
  std::size_t length;
  std::uint64_t stream;
};

std::string stream_name(const ::testing::TestParamInfo<StreamPin>& info) {
  return "bytes_" + std::to_string(info.param.length);
}

class PinnedStream : public ::testing::TestWithParam<StreamPin> {};

TEST_P(PinnedStream, EncodedBytesKeepTheirHash) {
  const StreamPin& c = GetParam();
  Lcg rng{static_cast<std::uint32_t>(c.length)};
  std::vector<std::uint8_t> input(c.length);
  for (std::size_t i = 0; i < input.size(); ++i) {
    const std::uint32_t r = rng.next() >> 16;
    // Even bytes spread out, odd bytes mostly 0 or 0xff like high bytes.
    input[i] = (i & 1) ? static_cast<std::uint8_t>((r & 7) == 0 ? r >> 8 : (r & 8 ? 0xff : 0))
                       : static_cast<std::uint8_t>((r >> 3) % ((r & 3) == 0 ? 256 : 9));
  }
  const auto stream = arans::encode_stream(input).value();
  Fnv h;
  h.add(stream);
  EXPECT_EQ(h.h, c.stream) << std::hex << "stream now 0x" << h.h;
  auto back = arans::decode_stream(stream);
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(back.value(), input);
}

const StreamPin kStreamPins[] = {
    StreamPin{6, 0xf5e437036f1ecb66ull},
    StreamPin{7, 0x593d25685e6fa87aull},
    StreamPin{999, 0x127b3924c0e4cb13ull},
    StreamPin{16383, 0x8d3b879d30f56e4aull},
    StreamPin{16384, 0xf85df0b2e4eed84cull},
    StreamPin{100001, 0xa519335fe14c80c1ull},
};

INSTANTIATE_TEST_SUITE_P(Coder, PinnedStream, ::testing::ValuesIn(kStreamPins), stream_name);

}  // namespace
}  // namespace corvane
