// The coder seam: the table that maps options and container bytes to coders,
// the sink that takes decoded coefficients in pieces, and every coder's round
// trip through it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "coders/coder.h"

namespace corvane::coders {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Little-endian int16 coefficients, mostly small as quantised details are.
Bytes coefficient_string(std::size_t count, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::geometric_distribution<int> magnitude(0.3);
  Bytes out;
  for (std::size_t i = 0; i < count; ++i) {
    const auto v = static_cast<std::int16_t>(rng() % 2 ? magnitude(rng) : -magnitude(rng));
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8));
  }
  return out;
}

std::vector<float> dequantised(const Bytes& string, std::size_t count, float step) {
  std::vector<float> out(count);
  for (std::size_t i = 0; i < count; ++i) {
    std::int16_t q;
    std::memcpy(&q, string.data() + 2 * i, 2);
    out[i] = static_cast<float>(q) * step;
  }
  return out;
}

std::vector<float> floats_of(tessary::Buffer<float> b) { return {b.begin(), b.end()}; }

TEST(CoderTable, OptionsAndHeaderBytesNameTheSameCoders) {
  EXPECT_EQ(&coder_for(EntropyCoder::Auto), &coder_for(EntropyCoder::Arans));
  EXPECT_EQ(coder_for(EntropyCoder::Deflate).header_byte, 0);
  EXPECT_EQ(coder_for(EntropyCoder::Arans).header_byte, 1);
  for (const EntropyCoder e : {EntropyCoder::Deflate, EntropyCoder::Arans}) {
    const Coder& c = coder_for(e);
    EXPECT_EQ(coder_for_header_byte(c.header_byte), &c);
  }
  EXPECT_EQ(coder_for_header_byte(2), nullptr);
  EXPECT_EQ(coder_for_header_byte(255), nullptr);
}

TEST(CoderTable, AransRefusesMoreThan2To28Coefficients) {
  const std::uint64_t limit = std::uint64_t{1} << 28;
  EXPECT_TRUE(check_capacity(coder_for(EntropyCoder::Arans), limit).ok());
  EXPECT_TRUE(check_capacity(coder_for(EntropyCoder::Deflate), limit + 1).ok());
  auto s = check_capacity(coder_for(EntropyCoder::Auto), limit + 1);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().render(),
            "Unsupported compression configuration 'Too many coefficients for the arans coder "
            "(268435457, at most 268435456); use the \"deflate\" coder'");
}

// However a decoder cuts the string (single bytes, odd sizes that split
// coefficients, one piece), the sink keeps the same values.
class SinkPieces : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SinkPieces, AnyCutKeepsTheSameCoefficients) {
  const std::size_t needed = 3001;
  const float step = 1.0f / 2048;
  Bytes string = coefficient_string(needed + 40, 3);
  string.push_back(0x7F);  // an odd final byte, ignored
  CoefficientSink sink(needed, step);
  for (std::size_t at = 0; at < string.size(); at += GetParam()) {
    const std::size_t n = std::min(GetParam(), string.size() - at);
    ASSERT_TRUE(sink.take({string.data() + at, n}).ok());
  }
  EXPECT_EQ(sink.kept(), needed);  // surplus coefficients dropped
  EXPECT_EQ(floats_of(sink.release()), dequantised(string, needed, step));
  EXPECT_EQ(sink.kept(), 0u);
}

INSTANTIATE_TEST_SUITE_P(PieceBytes, SinkPieces, ::testing::Values(1, 3, 7, 4096, 1 << 20));

TEST(Sink, ShortStringKeepsWhatArrived) {
  const Bytes string = coefficient_string(10, 4);
  CoefficientSink sink(1000, 1.0f);
  ASSERT_TRUE(sink.reserve(5000).ok());
  ASSERT_TRUE(sink.take({string.data(), 7}).ok());
  ASSERT_TRUE(sink.take({string.data() + 7, string.size() - 7}).ok());
  EXPECT_EQ(sink.kept(), 10u);
  EXPECT_EQ(floats_of(sink.release()), dequantised(string, 10, 1.0f));
}

// Every coder in the table carries any coefficient string behind whatever the
// container already holds.
class EveryCoder : public ::testing::TestWithParam<EntropyCoder> {};

TEST_P(EveryCoder, RoundTripsThroughTheSink) {
  const Coder& coder = coder_for(GetParam());
  for (const std::size_t count : {0u, 1u, 3u, 20000u}) {
    const Bytes string = coefficient_string(count, 5);
    auto container = tessary::Buffer<std::uint8_t>::zeroed(52);
    ASSERT_TRUE(container.ok());
    ASSERT_TRUE(coder.encode(string, container.value()).ok());
    ASSERT_GE(container.value().size(), 52u);
    const std::span<const std::uint8_t> payload(container.value().data() + 52,
                                                container.value().size() - 52);
    CoefficientSink sink(count, 0.25f);
    ASSERT_TRUE(coder.decode(payload, sink).ok()) << count;
    EXPECT_EQ(sink.kept(), count);
    EXPECT_EQ(floats_of(sink.release()), dequantised(string, count, 0.25f));
  }
}

// A decoder hands the sink the whole string, however far it runs past what
// the bands need (the surplus is decoded, so that damage there is still
// found, but not kept), across the pieces it decodes at a time.
TEST_P(EveryCoder, KeepsOnlyTheNeededCoefficientsOfALongerString) {
  const Coder& coder = coder_for(GetParam());
  const std::size_t count = 3 * 32768 + 5;
  Bytes string = coefficient_string(count, 6);
  string.push_back(0x7F);  // an odd final byte
  auto container = tessary::Buffer<std::uint8_t>::zeroed(52);
  ASSERT_TRUE(container.ok());
  ASSERT_TRUE(coder.encode(string, container.value()).ok());
  const std::span<const std::uint8_t> payload(container.value().data() + 52,
                                              container.value().size() - 52);
  for (const std::size_t needed : {0u, 1u, 32767u, 32768u, 32769u, 70000u, 98309u, 98310u}) {
    CoefficientSink sink(needed, 0.5f);
    ASSERT_TRUE(coder.decode(payload, sink).ok()) << needed;
    EXPECT_EQ(sink.kept(), std::min(needed, count)) << needed;
    EXPECT_EQ(floats_of(sink.release()), dequantised(string, std::min(needed, count), 0.5f))
        << needed;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, EveryCoder,
                         ::testing::Values(EntropyCoder::Deflate, EntropyCoder::Arans),
                         [](const auto& param_info) { return std::string(name_of(param_info.param)); });

}  // namespace
}  // namespace corvane::coders
