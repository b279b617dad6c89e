#include <gtest/gtest.h>

#include <cstdint>
#include <variant>
#include <vector>

#include "bytes.h"

namespace corvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(LittleEndian, FieldsStoreLowByteFirst) {
  std::uint8_t b[4] = {};
  store_le32(b, 0x12345678u);
  EXPECT_EQ(Bytes(b, b + 4), (Bytes{0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(load_le32(b), 0x12345678u);
  store_le16(b, 0xBEEF);
  EXPECT_EQ(Bytes(b, b + 2), (Bytes{0xEF, 0xBE}));
  EXPECT_EQ(load_le16(b), 0xBEEF);
}

using Read = std::variant<std::uint64_t, Leb128Error>;

Read read_all(const Bytes& b, std::size_t cursor) {
  auto r = read_leb128(b, cursor);
  if (!r) return r.error();
  EXPECT_EQ(cursor, b.size());
  return r.value();
}

TEST(Leb128, ShortestFormRoundTrips) {
  for (std::uint64_t v : {0ull, 127ull, 128ull, 16384ull, 1ull << 28, 1ull << 63, ~0ull}) {
    Bytes b(1 + kMaxLeb128Bytes, 0xEE);
    b.resize(1 + put_leb128(b.data() + 1, v));
    const std::size_t significant_bits =
        v == 0 ? 1 : 64 - static_cast<std::size_t>(__builtin_clzll(v));
    EXPECT_EQ(b.size(), 1 + (significant_bits + 6) / 7) << v;
    EXPECT_EQ(read_all(b, 1), Read(v));
  }
}

Bytes ff9_then(std::uint8_t last) {
  Bytes b(9, 0xFF);
  b.push_back(last);
  return b;
}

TEST(Leb128, TheTenthByteEndsTheNumber) {
  EXPECT_EQ(read_all(ff9_then(0x7F), 0), Read(~0ull));
  EXPECT_EQ(read_all(ff9_then(0x7E), 0), Read((1ull << 63) - 1));  // only bit 0 counts
  EXPECT_EQ(read_all(ff9_then(0x80), 0), Read(Leb128Error::Overlong));
  EXPECT_EQ(read_all(Bytes(9, 0xFF), 0), Read(Leb128Error::Truncated));
  EXPECT_EQ(read_all(Bytes{}, 0), Read(Leb128Error::Truncated));
}

}  // namespace
}  // namespace corvane
