#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "header.h"

namespace corvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A valid header for 1,000 samples with the default options, payload_len 0.
Bytes valid_header() {
  const auto h = CorvaneHeader::for_payload(CompressionOptions(), 6, 1000, -2.5f, 3.25f,
                                            0.125f, 0);
  const auto b = h.to_bytes();
  return Bytes(b.begin(), b.end());
}

void put_f32(Bytes& b, std::size_t at, float v) { std::memcpy(b.data() + at, &v, 4); }

TEST(HeaderWriter, DefaultOptionsThousandSamples) {
  const Bytes b = valid_header();
  ASSERT_EQ(b.size(), kHeaderLen);
  const Bytes first20 = {0x43, 0x52, 0x56, 0x4E, 0x01, 0x01, 0x66, 0x33, 0x63, 0x66,
                         0x39, 0x37, 0x06, 0x0B, 0x01, 0x00, 0xE8, 0x03, 0x00, 0x00};
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 20), first20);
  float mean = 0;
  std::memcpy(&mean, b.data() + 28, 4);
  EXPECT_EQ(mean, 0.125f);
  EXPECT_EQ(Bytes(b.begin() + 32, b.end()), Bytes(20, 0));  // payload_len 0, reserved zero
}

TEST(HeaderWriter, RecordsMethodScaleAndActualCoder) {
  auto opts = CompressionOptions::create(CompressionMethod::Db4, 7, CutoffLevel::High,
                                         EntropyCoder::Deflate);
  ASSERT_TRUE(opts.ok());
  const auto h = CorvaneHeader::for_payload(opts.value(), 3, 9, 0, 1, 0, 0x01020304);
  const auto b = h.to_bytes();
  EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 12), "db04");
  EXPECT_EQ(b[13], 7);
  EXPECT_EQ(b[14], 0);
  EXPECT_EQ(Bytes(b.begin() + 32, b.begin() + 36), (Bytes{4, 3, 2, 1}));
  EXPECT_EQ(h.method(), CompressionMethod::Db4);
}

TEST(HeaderParse, RoundTripKeepsEveryFieldIncludingUncheckedOnes) {
  Bytes b = valid_header();
  b[5] = 7;                 // version minor
  b[12] = 200;              // levels
  b[15] = 0xAB;             // reserved byte
  b[16] = 0xFF, b[19] = 0xFF;  // sample_count
  put_f32(b, 20, -0.0f);
  put_f32(b, 24, std::numeric_limits<float>::max());
  put_f32(b, 28, std::numeric_limits<float>::denorm_min());
  b[35] = 0x80;             // payload_len high byte
  for (std::size_t i = 36; i < 52; ++i) b[i] = static_cast<std::uint8_t>(i);
  Bytes container = b;
  container.push_back(0x99);  // a payload byte the reader must ignore

  auto parsed = CorvaneHeader::from_bytes(container);
  ASSERT_TRUE(parsed.ok()) << parsed.error().render();
  const CorvaneHeader& h = parsed.value();
  EXPECT_EQ(h.version[1], 7);
  EXPECT_EQ(h.levels, 200);
  EXPECT_EQ(h.reserved, 0xAB);
  EXPECT_EQ(h.sample_count, 0xFF0003FFu);
  EXPECT_TRUE(std::signbit(h.min));
  EXPECT_EQ(h.max, std::numeric_limits<float>::max());
  EXPECT_EQ(h.payload_len, 0x80000000u);
  EXPECT_EQ(h.reserved_tail[15], 51);
  const auto again = h.to_bytes();
  EXPECT_EQ(Bytes(again.begin(), again.end()), b);
}

TEST(HeaderParse, ExactlyFiftyTwoBytesWithEmptyPayload) {
  auto parsed = CorvaneHeader::from_bytes(valid_header());
  ASSERT_TRUE(parsed.ok());
  EXPECT_EQ(parsed.value().payload_len, 0u);
  EXPECT_EQ(parsed.value().sample_count, 1000u);
}

struct CorruptCase {
  const char* name;
  std::function<void(Bytes&)> corrupt;
  CorvaneError error;
  std::string message;
};

class HeaderCorruption : public ::testing::TestWithParam<CorruptCase> {};

TEST_P(HeaderCorruption, ReportsTheFirstFailingCheck) {
  Bytes b = valid_header();
  GetParam().corrupt(b);
  auto parsed = CorvaneHeader::from_bytes(b);
  ASSERT_FALSE(parsed.ok());
  EXPECT_EQ(parsed.error(), GetParam().error);
  EXPECT_EQ(parsed.error().render(), GetParam().message);
}

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    OneFieldEach, HeaderCorruption,
    ::testing::Values(
        CorruptCase{"Truncated51", [](Bytes& b) { b.pop_back(); }, CorvaneError::invalid_header(),
                    "Header is invalid"},
        CorruptCase{"Magic", [](Bytes& b) { b[3] = 'X'; },
                    CorvaneError::invalid_magic({'C', 'R', 'V', 'X'}),
                    "Magic should be 'CRVN' but it was 'CRVX'"},
        CorruptCase{"VersionMajor2", [](Bytes& b) { b[4] = 2; },
                    CorvaneError::invalid_header_version({2, 1}),
                    "Invalid header version '\x02\x01'"},
        CorruptCase{"Kind", [](Bytes& b) { b[7] = '2'; },
                    CorvaneError::invalid_compression_kind({'f', '2'}),
                    "Invalid compression method 'f2'"},
        CorruptCase{"MethodTag", [](Bytes& b) { b[8] = 'C'; },
                    CorvaneError::invalid_compression_method({'C', 'f', '9', '7'}),
                    "Invalid compression method 'Cf97'"},
        CorruptCase{"ScaleLow", [](Bytes& b) { b[13] = 5; }, CorvaneError::unsupported_scale(5),
                    "Only scaled 6..12 is supported, but it was 5"},
        CorruptCase{"ScaleHigh", [](Bytes& b) { b[13] = 13; },
                    CorvaneError::unsupported_scale(13),
                    "Only scaled 6..12 is supported, but it was 13"},
        CorruptCase{"Coder2", [](Bytes& b) { b[14] = 2; }, CorvaneError::unknown_entropy_coder(2),
                    "Unknown entropy coder 2"},
        CorruptCase{"MinNaN", [](Bytes& b) { put_f32(b, 20, kNaN); },
                    CorvaneError::invalid_header(), "Header is invalid"},
        CorruptCase{"MaxInf", [](Bytes& b) { put_f32(b, 24, kInf); },
                    CorvaneError::invalid_header(), "Header is invalid"},
        CorruptCase{"MeanNaN", [](Bytes& b) { put_f32(b, 28, -kNaN); },
                    CorvaneError::invalid_header(), "Header is invalid"},
        // Several fields wrong: the earliest check decides.
        CorruptCase{"MagicBeforeScale", [](Bytes& b) { b[0] = 'c', b[13] = 99; },
                    CorvaneError::invalid_magic({'c', 'R', 'V', 'N'}),
                    "Magic should be 'CRVN' but it was 'cRVN'"},
        CorruptCase{"ShortBeforeMagic", [](Bytes& b) { b[0] = 0, b.resize(40); },
                    CorvaneError::invalid_header(), "Header is invalid"},
        CorruptCase{"VersionBeforeKindAndTag", [](Bytes& b) { b[4] = 9, b[6] = 0, b[8] = 0; },
                    CorvaneError::invalid_header_version({9, 1}),
                    "Invalid header version '\x09\x01'"},
        CorruptCase{"KindBeforeTag", [](Bytes& b) { b[6] = 'g', b[8] = 0; },
                    CorvaneError::invalid_compression_kind({'g', '3'}),
                    "Invalid compression method 'g3'"},
        CorruptCase{"TagBeforeScale", [](Bytes& b) { b[11] = '8', b[13] = 0; },
                    CorvaneError::invalid_compression_method({'c', 'f', '9', '8'}),
                    "Invalid compression method 'cf98'"},
        CorruptCase{"ScaleBeforeCoder", [](Bytes& b) { b[13] = 13, b[14] = 7; },
                    CorvaneError::unsupported_scale(13),
                    "Only scaled 6..12 is supported, but it was 13"},
        CorruptCase{"CoderBeforeFloats", [](Bytes& b) { b[14] = 255, put_f32(b, 20, kNaN); },
                    CorvaneError::unknown_entropy_coder(255), "Unknown entropy coder 255"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(HeaderParse, EveryAcceptedValueParses) {
  struct Variant {
    const char* name;
    std::function<void(Bytes&)> change;
  };
  const Variant variants[] = {
      {"scale 6", [](Bytes& b) { b[13] = 6; }},
      {"scale 12", [](Bytes& b) { b[13] = 12; }},
      {"coder 0", [](Bytes& b) { b[14] = 0; }},
      {"sym4", [](Bytes& b) { std::memcpy(b.data() + 8, "sym4", 4); }},
      {"cf53", [](Bytes& b) { std::memcpy(b.data() + 8, "cf53", 4); }},
      {"db04", [](Bytes& b) { std::memcpy(b.data() + 8, "db04", 4); }},
  };
  for (const auto& v : variants) {
    Bytes b = valid_header();
    v.change(b);
    auto parsed = CorvaneHeader::from_bytes(b);
    EXPECT_TRUE(parsed.ok()) << v.name << ": " << parsed.error().render();
  }
}

}  // namespace
}  // namespace corvane
