#include <gtest/gtest.h>

#include <string>

#include "error.h"

namespace corvane {
namespace {

using namespace std::string_literals;

struct MessageCase {
  const char* name;
  CorvaneError error;
  std::string text;
};

class ErrorMessages : public ::testing::TestWithParam<MessageCase> {};

TEST_P(ErrorMessages, RenderExactly) { EXPECT_EQ(GetParam().error.render(), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    AllVariants, ErrorMessages,
    ::testing::Values(
        MessageCase{"Method", CorvaneError::invalid_compression_method({'x', 'y', 'z', 'w'}),
                    "Invalid compression method 'xyzw'"},
        MessageCase{"Magic", CorvaneError::invalid_magic({'A', 'B', 'C', 'D'}),
                    "Magic should be 'CRVN' but it was 'ABCD'"},
        MessageCase{"Kind", CorvaneError::invalid_compression_kind({'f', '4'}),
                    "Invalid compression method 'f4'"},
        MessageCase{"Version", CorvaneError::invalid_header_version({'2', '1'}),
                    "Invalid header version '21'"},
        MessageCase{"Transform", CorvaneError::transform("Zero sized input is not supported"),
                    "Zero sized input is not supported"},
        MessageCase{"Io", CorvaneError::io("disk on fire"), "disk on fire"},
        MessageCase{"OutOfMemory", CorvaneError::out_of_memory(18446744073709551615ull),
                    "Out of memory, can't allocate additional 18446744073709551615"},
        MessageCase{"OutOfMemoryFromTheEngine",
                    CorvaneError::out_of_memory(tessary::make_error(
                        tessary::TessaryErrorKind::AllocationFailed, 4096)),
                    "Out of memory, can't allocate additional 4096"},
        MessageCase{"InvalidHeader", CorvaneError::invalid_header(), "Header is invalid"},
        MessageCase{"Unsupported",
                    CorvaneError::unsupported_configuration("Can't compress empty data"),
                    "Unsupported compression configuration 'Can't compress empty data'"},
        MessageCase{"Decompression", CorvaneError::decompression_failed("bad levels"),
                    "Can't decompress data, reason: bad levels"},
        MessageCase{"Scale", CorvaneError::unsupported_scale(255),
                    "Only scaled 6..12 is supported, but it was 255"},
        MessageCase{"Coder", CorvaneError::unknown_entropy_coder(2), "Unknown entropy coder 2"},
        // Byte payloads: valid UTF-8 is shown as it is, control characters
        // included; anything else becomes one '?' per payload byte.
        MessageCase{"MagicNotUtf8", CorvaneError::invalid_magic({0xFF, 0xFF, 0xFF, 0xFF}),
                    "Magic should be 'CRVN' but it was '????'"},
        MessageCase{"MagicTruncatedSequence", CorvaneError::invalid_magic({'a', 'b', 'c', 0xC3}),
                    "Magic should be 'CRVN' but it was '????'"},
        MessageCase{"MagicSurrogate", CorvaneError::invalid_magic({0xED, 0xA0, 0x80, 'a'}),
                    "Magic should be 'CRVN' but it was '????'"},
        MessageCase{"MagicMultiByte", CorvaneError::invalid_magic({0xC3, 0xA9, 'a', 'b'}),
                    "Magic should be 'CRVN' but it was '\xC3\xA9"
                    "ab'"},
        MessageCase{"KindOverlong", CorvaneError::invalid_compression_kind({0xC0, 0x80}),
                    "Invalid compression method '??'"},
        MessageCase{"VersionControlChars", CorvaneError::invalid_header_version({2, 0}),
                    "Invalid header version '\x02\0'"s}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace corvane
