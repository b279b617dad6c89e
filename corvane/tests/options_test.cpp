#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "options.h"

namespace corvane {
namespace {

using namespace std::string_literals;

// Readable ctest names for the parametrised cases below.
struct CaseName {
  template <class Info>
  std::string operator()(const Info& info) const {
    return info.param.name;
  }
};

constexpr std::nullopt_t kNone = std::nullopt;  // no coder given

struct Names {
  std::string method = "cdf97";
  std::uint8_t scale = 11;
  std::string cutoff = "low";
  std::optional<std::string> coder;
};

Result<CompressionOptions, std::string> build(const Names& n) {
  return CompressionOptions::from_names(
      n.method, n.scale, n.cutoff,
      n.coder ? std::optional<std::string_view>(*n.coder) : std::nullopt);
}

TEST(OptionNames, DefaultsMatchTheDefaultOptions) {
  auto built = build({});
  ASSERT_TRUE(built.ok());
  EXPECT_EQ(built.value(), CompressionOptions());
  EXPECT_EQ(built.value().method(), CompressionMethod::Cdf97);
  EXPECT_EQ(built.value().scale(), 11);
  EXPECT_EQ(built.value().cutoff(), CutoffLevel::Low);
  EXPECT_EQ(built.value().coder(), EntropyCoder::Auto);
  // "auto" and no coder at all are the same options.
  auto with_auto = build({"cdf97", 11, "low", "auto"});
  ASSERT_TRUE(with_auto.ok());
  EXPECT_EQ(with_auto.value(), built.value());
}

TEST(OptionNames, EveryNameSelectsItsCode) {
  const std::pair<const char*, CompressionMethod> methods[] = {
      {"cdf53", CompressionMethod::Cdf53},
      {"cdf97", CompressionMethod::Cdf97},
      {"db4", CompressionMethod::Db4},
      {"sym4", CompressionMethod::Sym4}};
  for (const auto& [name, code] : methods) {
    auto r = build({name, 11, "low", kNone});
    ASSERT_TRUE(r.ok()) << name;
    EXPECT_EQ(r.value().method(), code) << name;
  }
  const std::pair<const char*, CutoffLevel> cutoffs[] = {
      {"low", CutoffLevel::Low}, {"medium", CutoffLevel::Medium}, {"high", CutoffLevel::High}};
  for (const auto& [name, code] : cutoffs) {
    auto r = build({"cdf97", 11, name, kNone});
    ASSERT_TRUE(r.ok()) << name;
    EXPECT_EQ(r.value().cutoff(), code) << name;
  }
  const std::pair<const char*, EntropyCoder> coders[] = {{"deflate", EntropyCoder::Deflate},
                                                         {"arans", EntropyCoder::Arans},
                                                         {"auto", EntropyCoder::Auto}};
  for (const auto& [name, code] : coders) {
    auto r = build({"cdf97", 11, "low", name});
    ASSERT_TRUE(r.ok()) << name;
    EXPECT_EQ(r.value().coder(), code) << name;
  }
  for (std::uint8_t scale : {6, 12}) {
    auto r = build({"cdf97", scale, "low", kNone});
    ASSERT_TRUE(r.ok()) << int{scale};
    EXPECT_EQ(r.value().scale(), scale);
  }
}

struct RejectCase {
  const char* name;
  Names names;
  std::string message;
};

class OptionRejects : public ::testing::TestWithParam<RejectCase> {};

TEST_P(OptionRejects, WithExactMessage) {
  auto r = build(GetParam().names);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error(), GetParam().message);
}

const std::string kMethodTail = ", expected 'cdf97' or 'cdf53' or 'db4' or 'sym4'";
const std::string kCutoffTail = ", expected 'low' or 'medium' or 'high'";
const std::string kCoderTail = ", expected 'auto', 'deflate', 'arans'";

INSTANTIATE_TEST_SUITE_P(
    Names, OptionRejects,
    ::testing::Values(
        // Only the exact lower-case names count: no header tags, no case
        // folding, no trimming.
        RejectCase{"HeaderTag", {"db04", 11, "low", kNone},
                   "Unknown method \"db04\"" + kMethodTail},
        RejectCase{"UpperCase", {"CDF97", 11, "low", kNone},
                   "Unknown method \"CDF97\"" + kMethodTail},
        RejectCase{"LeadingBlank", {" cdf97", 11, "low", kNone},
                   "Unknown method \" cdf97\"" + kMethodTail},
        RejectCase{"EmptyMethod", {"", 11, "low", kNone}, "Unknown method \"\"" + kMethodTail},
        RejectCase{"Cutoff", {"cdf97", 11, "Low", kNone},
                   "Unknown cutoff level \"Low\"" + kCutoffTail},
        RejectCase{"Coder", {"cdf97", 11, "low", "AUTO"}, "Unknown coder \"AUTO\"" + kCoderTail},
        RejectCase{"ScaleBelow", {"cdf97", 5, "low", kNone},
                   "Only scaled 6..12 is supported, but it was 5"},
        RejectCase{"ScaleAbove", {"cdf97", 13, "low", kNone},
                   "Only scaled 6..12 is supported, but it was 13"},
        // Checks run method, cutoff, scale, coder; the first failure wins.
        RejectCase{"AllBadReportsMethod",
                   {"x", 200, "y", "z"},
                   "Unknown method \"x\"" + kMethodTail},
        RejectCase{"CutoffBeforeScale",
                   {"cdf97", 13, "y", "z"},
                   "Unknown cutoff level \"y\"" + kCutoffTail},
        RejectCase{"ScaleBeforeCoder",
                   {"cdf97", 13, "low", "z"},
                   "Only scaled 6..12 is supported, but it was 13"},
        // Debug quoting of the rejected text.
        RejectCase{"QuoteAndBackslash",
                   {"a\"b\\c", 11, "low", kNone},
                   "Unknown method \"a\\\"b\\\\c\"" + kMethodTail},
        RejectCase{"NamedControls",
                   {"cdf97", 11, "\t\r\n"s + '\0', kNone},
                   "Unknown cutoff level \"\\t\\r\\n\\0\"" + kCutoffTail},
        RejectCase{"OtherControls",
                   {"cdf97", 11, "low", "\x01\x1f\x7f\xc2\x85"},
                   "Unknown coder \"\\u{1}\\u{1f}\\u{7f}\\u{85}\"" + kCoderTail},
        RejectCase{"PrintableKept",
                   {"caf\xc3\xa9 'x'", 11, "low", kNone},
                   "Unknown method \"caf\xc3\xa9 'x'\"" + kMethodTail},
        RejectCase{"NotUtf8", {"a\xff", 11, "low", kNone},
                   "Unknown method \"a\\xff\"" + kMethodTail}),
    CaseName());

TEST(OptionCodes, CreateValidatesEveryField) {
  auto ok = CompressionOptions::create(CompressionMethod::Sym4, 6, CutoffLevel::High,
                                       EntropyCoder::Deflate);
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(ok.value().method(), CompressionMethod::Sym4);
  auto bad_scale = CompressionOptions::create(CompressionMethod::Sym4, 13, CutoffLevel::High,
                                              EntropyCoder::Deflate);
  ASSERT_FALSE(bad_scale.ok());
  EXPECT_EQ(bad_scale.error(), CorvaneError::unsupported_scale(13));
  auto bad_code = CompressionOptions::create(static_cast<CompressionMethod>(4), 11,
                                             CutoffLevel::Low, EntropyCoder::Auto);
  EXPECT_FALSE(bad_code.ok());
}

TEST(OptionCodes, TagsName4BytesEachAndOnlyTheirMethod) {
  EXPECT_EQ(method_from_tag({'c', 'f', '5', '3'}), CompressionMethod::Cdf53);
  EXPECT_EQ(method_from_tag({'c', 'f', '9', '7'}), CompressionMethod::Cdf97);
  EXPECT_EQ(method_from_tag({'d', 'b', '0', '4'}), CompressionMethod::Db4);
  EXPECT_EQ(method_from_tag({'s', 'y', 'm', '4'}), CompressionMethod::Sym4);
  EXPECT_EQ(method_from_tag({'d', 'b', '4', 0}), std::nullopt);
  EXPECT_EQ(method_from_tag({'C', 'F', '9', '7'}), std::nullopt);
}

// Every code from 0 up has exactly one row, so that name_of, tag_of and the
// parser agree on every option the enumerations can hold.
template <class Rows>
void expect_one_row_per_code(const Rows& rows) {
  for (std::size_t code = 0; code < rows.size(); ++code) {
    const auto rows_with_code = std::count_if(rows.begin(), rows.end(), [&](const auto& row) {
      return static_cast<std::size_t>(row.value) == code;
    });
    EXPECT_EQ(rows_with_code, 1) << "code " << code;
  }
}

TEST(OptionTables, OneRowPerCode) {
  expect_one_row_per_code(kMethodRows);
  expect_one_row_per_code(kCutoffRows);
  expect_one_row_per_code(kCoderRows);
}

}  // namespace
}  // namespace corvane
