#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <optional>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "bytes.h"
#include "coders/arans.h"

// The largest single allocation made while tracking is on: decoding must not
// trust a claimed length for one big up-front allocation. Requests of
// g_refused_from bytes or more fail, as they would with memory exhausted.
// g++ sees the replacement delete's free() inlined next to the replacement
// new and takes the pair for a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
namespace {
std::atomic<bool> g_tracking{false};
std::atomic<std::size_t> g_largest_request{0};
std::atomic<std::size_t> g_refused_from{SIZE_MAX};
}  // namespace

void* operator new(std::size_t bytes) {
  if (g_tracking.load(std::memory_order_relaxed)) {
    std::size_t seen = g_largest_request.load(std::memory_order_relaxed);
    while (bytes > seen && !g_largest_request.compare_exchange_weak(seen, bytes)) {
    }
  }
  if (bytes >= g_refused_from.load(std::memory_order_relaxed)) throw std::bad_alloc();
  if (void* p = std::malloc(bytes == 0 ? 1 : bytes)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace corvane::arans {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes random_bytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

// Little-endian int16 values shaped like quantised wavelet details: about 60 %
// zeros, the rest Laplacian with a scale of a few units.
Bytes coefficient_bytes(std::size_t count, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  Bytes out;
  for (std::size_t i = 0; i < count; ++i) {
    std::int16_t v = 0;
    if (unit(rng) > 0.6) {
      const double magnitude = 1.0 - 6.0 * std::log(1.0 - unit(rng));
      v = static_cast<std::int16_t>(unit(rng) < 0.5 ? -magnitude : magnitude);
    }
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8));
  }
  return out;
}

void append_leb128(Bytes& out, std::uint64_t value) {
  std::uint8_t number[kMaxLeb128Bytes];
  out.insert(out.end(), number, number + put_leb128(number, value));
}

Bytes stream_of(std::uint8_t odd_flag, std::uint8_t context_bits, std::uint64_t pairs,
                const Bytes& code0, const Bytes& rest) {
  Bytes s = {odd_flag, context_bits};
  append_leb128(s, pairs);
  append_leb128(s, code0.size());
  s.insert(s.end(), code0.begin(), code0.end());
  s.insert(s.end(), rest.begin(), rest.end());
  return s;
}

Bytes encoded(const Bytes& input) {
  auto r = encode_stream(input);
  EXPECT_TRUE(r.ok()) << render(r.error());
  return r.ok() ? Bytes(r.value().begin(), r.value().end()) : Bytes{};
}

Bytes decoded(const Bytes& stream) {
  auto r = decode_stream(stream);
  EXPECT_TRUE(r.ok()) << render(r.error());
  return r.ok() ? Bytes(r.value().begin(), r.value().end()) : Bytes{};
}

Bytes plane_code(const Bytes& plane, std::uint8_t context_bits) {
  return encode_plane(plane, context_bits).value();
}

TEST(AransErrors, RenderTheirSentences) {
  EXPECT_EQ(render(AransError::Truncated), "Stream truncated");
  EXPECT_EQ(render(AransError::InconsistentLength), "Inconsistent or oversized length in stream");
  EXPECT_EQ(render(AransError::out_of_memory(65536)),
            "Out of memory, can't allocate additional 65536");
}

// In the codec, running out of memory stays OutOfMemory with its bytes; the
// stream's own faults are DecompressionFailed with their sentence.
TEST(AransErrors, ReachTheCodecAsItsErrors) {
  EXPECT_EQ(to_codec_error(AransError::out_of_memory(65536)), CorvaneError::out_of_memory(65536));
  EXPECT_EQ(to_codec_error(AransError::Truncated).render(),
            "Can't decompress data, reason: Stream truncated");
  EXPECT_EQ(to_codec_error(AransError::InconsistentLength).render(),
            "Can't decompress data, reason: Inconsistent or oversized length in stream");
}

TEST(AransStream, AbcdefGivesTheKnownStream) {
  const Bytes expected = {0x00, 0x03, 0x03, 0x06, 0xe6, 0x34, 0xcc, 0x00,
                          0x00, 0x31, 0x01, 0x37, 0xba, 0x00, 0x80, 0x37};
  EXPECT_EQ(encoded(bytes_of("abcdef")), expected);
  EXPECT_EQ(decoded(expected), bytes_of("abcdef"));
}

struct RoundTripCase {
  std::string name;
  Bytes input;
  friend void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }
};

class AransRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(AransRoundTrip, RestoresTheInputWithTheLayoutItPromises) {
  const Bytes& input = GetParam().input;
  const Bytes stream = encoded(input);
  EXPECT_EQ(decoded(stream), input);
  if (input.size() <= kMaxShortFormBytes) {
    EXPECT_EQ(stream, input);
    return;
  }
  ASSERT_GE(stream.size(), 12u);
  EXPECT_EQ(stream[0], input.size() & 1);
  EXPECT_EQ(stream[1], input.size() < 16384 ? 3 : 8);
  if (input.size() & 1) {
    EXPECT_EQ(stream.back(), input.back());
  }
}

std::vector<RoundTripCase> round_trip_cases() {
  std::vector<RoundTripCase> cases = {{"Empty", {}}};
  for (std::size_t n = 1; n <= 9; ++n) cases.push_back({"Random" + std::to_string(n), random_bytes(n, 7)});
  cases.push_back({"Random1000", random_bytes(1000, 1)});
  cases.push_back({"Random1001", random_bytes(1001, 2)});
  cases.push_back({"Random16383", random_bytes(16383, 3)});
  cases.push_back({"Random16384", random_bytes(16384, 4)});
  cases.push_back({"Coefficients5000", coefficient_bytes(5000, 5)});
  cases.push_back({"Coefficients300000", coefficient_bytes(300000, 6)});
  // Skewed planes decode far more bytes than their code holds, which grows
  // the decoder's output many times.
  cases.push_back({"Zeros2MiB", Bytes(std::size_t{1} << 21, 0x00)});
  cases.push_back({"Ones100001", Bytes(100001, 0xFF)});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Inputs, AransRoundTrip, testing::ValuesIn(round_trip_cases()),
                         [](const auto& test_case) { return test_case.param.name; });

class AransPrefix : public testing::TestWithParam<std::size_t> {};

// Every byte of a coded stream is needed (an odd input's trailing byte too):
// cutting it anywhere past the short forms is Truncated, and the short forms
// come back as they are.
TEST_P(AransPrefix, EveryPrefixIsTruncatedOrAShortForm) {
  Bytes input = coefficient_bytes(GetParam() / 2 + 1, 9);
  input.resize(GetParam());
  const Bytes stream = encoded(input);
  for (std::size_t len = 0; len < stream.size(); ++len) {
    const Bytes prefix(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(len));
    auto r = decode_stream(prefix);
    if (len <= kMaxShortFormBytes) {
      ASSERT_TRUE(r.ok());
      EXPECT_EQ(r.value(), prefix);
    } else {
      ASSERT_FALSE(r.ok()) << "prefix of " << len << " bytes decoded";
      EXPECT_EQ(r.error(), AransError::Truncated) << len;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(InputBytes, AransPrefix, testing::Values(6, 81, 300));

struct MalformedCase {
  std::string name;
  Bytes stream;
  std::optional<AransError> error;  // none: decodes to `output`
  Bytes output;
  friend void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.name; }
};

class AransMalformed : public testing::TestWithParam<MalformedCase> {};

TEST_P(AransMalformed, FollowsTheOrderOfChecks) {
  auto r = decode_stream(GetParam().stream);
  if (GetParam().error) {
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error(), *GetParam().error);
  } else {
    ASSERT_TRUE(r.ok()) << render(r.error());
    EXPECT_EQ(r.value(), GetParam().output);
  }
}

Bytes ff9_then(std::uint8_t last) {
  Bytes b(9, 0xFF);
  b.push_back(last);
  return b;
}

std::vector<MalformedCase> malformed_cases() {
  const Bytes abcdef = encoded(bytes_of("abcdef"));
  const Bytes body(abcdef.begin() + 4, abcdef.end());  // both plane codes
  const Bytes code0(body.begin(), body.begin() + 6);
  const Bytes code1(body.begin() + 6, body.end());
  const Bytes data = coefficient_bytes(2000, 12);
  Bytes even, odd;
  for (std::size_t i = 0; i < data.size(); i += 2) even.push_back(data[i]), odd.push_back(data[i + 1]);
  const auto cat = [](Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  constexpr auto IL = AransError::InconsistentLength;
  constexpr auto TR = AransError::Truncated;
  return {
      {"FiveBytesAreKeptEvenIfTheyLookLikeAHeader", {0, 3, 1, 1, 9}, {}, {0, 3, 1, 1, 9}},
      {"OddFlagReadsOnlyBit0", stream_of(0xFE, 3, 3, code0, code1), {}, bytes_of("abcdef")},
      {"ContextBits9", stream_of(0, 9, 3, code0, code1), IL, {}},
      {"ContextBits0", stream_of(0, 0, even.size(), plane_code(even, 0), plane_code(odd, 0)), {}, data},
      {"PairCountAbove2To28", stream_of(0, 3, kMaxPairs + 1, code0, code1), IL, {}},
      {"PairCount2To28RunsOutOfCode", stream_of(0, 3, kMaxPairs, code0, code1), TR, {}},
      {"PairCountCutShort", {0, 3, 0x80, 0x80, 0x80, 0x80}, TR, {}},
      {"PlaneLengthCutShort", {0, 3, 3, 0x80, 0x80, 0x80}, TR, {}},
      {"TenthByteContinues", cat({0, 3, 3}, ff9_then(0x80)), IL, {}},
      {"PlaneLengthSumOverflows", cat(cat({0, 3, 3}, ff9_then(0x01)), body), IL, {}},
      {"PlaneLengthPastTheData", stream_of(0, 3, 3, cat(code0, code1), {}), TR, {}},
      {"PlaneLengthOverTheTrailingByte", stream_of(1, 3, 0, {1, 2, 3, 4}, {}), TR, {}},
      {"PlaneCodeUnder4Bytes", stream_of(0, 3, 1, {0xAA, 0xBB}, {1, 2, 3, 4}), TR, {}},
      {"NoPairsEven", stream_of(0, 3, 0, {}, {0xAA, 0xBB}), {}, {}},
      {"NoPairsOdd", stream_of(1, 3, 0, {}, {0xAA, 0xBB, 0xCC}), {}, {0xCC}},
  };
}

INSTANTIATE_TEST_SUITE_P(Streams, AransMalformed, testing::ValuesIn(malformed_cases()),
                         [](const auto& test_case) { return test_case.param.name; });

TEST(AransStream, ExtraBytesAfterPlane0CodeAreIgnored) {
  const Bytes input = coefficient_bytes(700, 13);
  const Bytes stream = encoded(input);
  std::size_t cursor = 2;
  const std::uint64_t pairs = rv(stream, cursor).value();
  const std::uint64_t length0 = rv(stream, cursor).value();
  const Bytes code0(stream.begin() + cursor, stream.begin() + cursor + length0);
  const Bytes rest(stream.begin() + cursor + length0, stream.end());
  ASSERT_EQ(stream_of(0, 3, pairs, code0, rest), stream);
  for (std::size_t extra : {1, 7, 300}) {  // 300 also lengthens the LEB128 field
    Bytes padded = code0;
    padded.insert(padded.end(), extra, 0x5A);
    EXPECT_EQ(decoded(stream_of(0, 3, pairs, padded, rest)), input) << extra;
  }
}

TEST(AransStream, HugeClaimWithTinyBodyAllocatesLittle) {
  const Bytes stream = stream_of(0, 8, kMaxPairs, random_bytes(8, 14), random_bytes(8, 15));
  g_largest_request = 0;
  g_tracking = true;
  auto r = decode_stream(stream);
  g_tracking = false;
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error(), AransError::Truncated);
  EXPECT_LE(g_largest_request.load(), std::size_t{1} << 20);
}

// Running out of memory is OutOfMemory with the bytes asked for, on either
// side, and never passes for a fault of the stream.
class RefusedAllocations {
 public:
  explicit RefusedAllocations(std::size_t from) { g_refused_from = from; }
  ~RefusedAllocations() { g_refused_from = SIZE_MAX; }
};

TEST(AransMemory, DecoderOutOfMemoryIsNotAnInconsistentLength) {
  const Bytes plane(std::size_t{2} << 20, 0x11);
  const Bytes code = plane_code(plane, 8);
  AResult<std::vector<std::uint8_t>> r = AransError::Truncated;
  {
    const RefusedAllocations refused(std::size_t{1} << 20);
    r = decode_plane(code, plane.size(), 8);
  }
  ASSERT_FALSE(r.ok());
  // The output doubles from 64 KiB as bytes arrive; the 1 MiB step is refused.
  EXPECT_EQ(r.error(), AransError::out_of_memory(std::size_t{1} << 20));
}

TEST(AransMemory, EncoderOutOfMemoryIsAValue) {
  const Bytes plane = random_bytes(std::size_t{2} << 20, 17);
  AResult<std::vector<std::uint8_t>> r = AransError::Truncated;
  {
    const RefusedAllocations refused(std::size_t{1} << 20);
    r = encode_plane(plane, 8);
  }
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, AransErrorKind::OutOfMemory);
  EXPECT_GE(r.error().bytes, std::size_t{1} << 20);
}

TEST(AransPlane, EdgeArguments) {
  EXPECT_TRUE(decode_plane({}, 0, 3).value().empty());
  EXPECT_EQ(decode_plane(Bytes{1, 2, 3}, 1, 3).error(), AransError::Truncated);
  EXPECT_EQ(decode_plane(Bytes{0, 0, 1, 0}, 1, 9).error(), AransError::InconsistentLength);
  EXPECT_TRUE(plane_code({}, 3).empty());
}

// The encoder replays its model chunk by chunk from table copies; wherever
// it cuts the plane (one chunk, a cut that leaves a short last chunk, the
// smallest regular cut, a byte per chunk) the code must be the one plane
// coded in one piece.
struct PlaneCut {
  unsigned context_bits;
  std::size_t plane_bytes;
  std::size_t chunk_bytes;
};

class AransPlaneCuts : public testing::TestWithParam<PlaneCut> {};

TEST_P(AransPlaneCuts, CodeDoesNotDependOnTheCut) {
  const PlaneCut& c = GetParam();
  // Low bytes of coefficient-like values, then a run of one value, so the
  // tables at the cuts differ a lot from their start.
  Bytes plane;
  const Bytes coefficients = coefficient_bytes(c.plane_bytes / 2, 11);
  for (std::size_t i = 0; i < coefficients.size(); i += 2) plane.push_back(coefficients[i]);
  plane.resize(c.plane_bytes, 0x7F);
  const auto bits = static_cast<std::uint8_t>(c.context_bits);

  const Bytes whole = encode_plane_in_chunks(plane, bits, plane.size()).value();
  EXPECT_EQ(encode_plane_in_chunks(plane, bits, c.chunk_bytes).value(), whole);
  EXPECT_EQ(plane_code(plane, bits), whole);
  auto back = decode_plane(whole, plane.size(), bits);
  ASSERT_TRUE(back.ok());
  EXPECT_EQ(back.value(), plane);
}

INSTANTIATE_TEST_SUITE_P(
    Encoder, AransPlaneCuts,
    testing::Values(PlaneCut{8, 300000, 65536}, PlaneCut{8, 300000, 4099},
                    PlaneCut{8, 131072, 65536}, PlaneCut{3, 5000, 1}, PlaneCut{0, 70000, 69999}),
    [](const testing::TestParamInfo<PlaneCut>& param) {
      return "Bits" + std::to_string(param.param.context_bits) + "Plane" +
             std::to_string(param.param.plane_bytes) + "Chunk" +
             std::to_string(param.param.chunk_bytes);
    });

// The reader's own faults as the coder reports them: a number cut short is
// Truncated, one that runs past ten bytes InconsistentLength.
TEST(AransLeb128, ReaderFaultsAreStreamFaults) {
  std::size_t cursor = 0;
  EXPECT_EQ(rv(ff9_then(0x80), cursor).error(), AransError::InconsistentLength);
  cursor = 0;
  EXPECT_EQ(rv(Bytes(9, 0xFF), cursor).error(), AransError::Truncated);
  cursor = 1;
  EXPECT_EQ(rv(Bytes{0xEE, 0x80, 0x01}, cursor).value(), 128u);
  EXPECT_EQ(cursor, 3u);
}

// The reciprocal table against plain division, for every frequency, at the
// edges of each quotient step and at the top of the encoder's range.
TEST(AransDivision, ReciprocalMatchesPlainDivision) {
  std::mt19937 rng(16);
  for (std::uint32_t d = 1; d < 4096; ++d) {
    const std::uint32_t top = d * (1u << 20) - 1;
    std::vector<std::uint32_t> xs = {0, 1, d - 1, d, d + 1, top, top - d, top - d + 1, top / 2};
    for (int i = 0; i < 24; ++i) {
      const std::uint32_t multiple = (rng() % (1u << 20)) * d;
      xs.push_back(multiple);
      if (multiple > 0) xs.push_back(multiple - 1);
      xs.push_back(rng() % top);
    }
    for (const std::uint32_t x : xs) {
      ASSERT_EQ(divide_by_frequency(x, d), x / d) << x << " / " << d;
    }
  }
}

// The decoder's unchecked fast path against the decoding rule written out
// literally, on arbitrary codes: start states below 2^16 (which need several
// words at once and keep a plane on the checked path), at the boundary, and
// large; all context sizes; codes that run out mid-plane.
std::variant<Bytes, AransError> literal_decode(const Bytes& code, std::size_t n, unsigned bits) {
  if (n == 0) return Bytes{};
  if (code.size() < 4) return AransError::Truncated;
  std::uint32_t x = code[0] | code[1] << 8 | code[2] << 16 | std::uint32_t{code[3]} << 24;
  std::size_t at = 4;
  std::vector<std::uint16_t> table(std::size_t{256} << bits, 2048);
  Bytes out;
  unsigned previous = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t base = (previous >> (8 - bits)) * 256;
    unsigned node = 1;
    for (int k = 0; k < 8; ++k) {
      const std::uint32_t p = table[base + node];
      const std::uint32_t s = x & 0xFFF;
      const unsigned bit = s >= p;
      x = bit ? (4096 - p) * (x >> 12) + s - p : p * (x >> 12) + s;
      while (x < 65536) {
        if (code.size() - at < 2) return AransError::Truncated;
        x = x << 16 | code[at] | code[at + 1] << 8;
        at += 2;
      }
      std::uint32_t q = bit ? p - (p >> 4) : p + ((4096 - p) >> 4);
      q = std::clamp<std::uint32_t>(q, 1, 4095);
      table[base + node] = static_cast<std::uint16_t>(q);
      node = 2 * node + bit;
    }
    previous = node & 0xFF;
    out.push_back(static_cast<std::uint8_t>(previous));
  }
  return out;
}

struct ForgedCode {
  std::uint32_t start_state;
  unsigned context_bits;
  std::size_t code_bytes;
};

class AransForgedCodes : public testing::TestWithParam<ForgedCode> {};

TEST_P(AransForgedCodes, DecodeAsTheLiteralRule) {
  const ForgedCode& c = GetParam();
  const auto code_with_state = [&](std::uint32_t seed) {
    Bytes code = random_bytes(c.code_bytes, seed);
    for (int k = 0; k < 4; ++k) code[k] = static_cast<std::uint8_t>(c.start_state >> (8 * k));
    return code;
  };
  const Bytes code0 = code_with_state(31);
  const Bytes code1 = code_with_state(32);
  constexpr std::size_t kBytes = 3000;
  using V = std::variant<Bytes, AransError>;
  const auto plane = [&](const Bytes& code) -> V {
    auto r = decode_plane(code, kBytes, static_cast<std::uint8_t>(c.context_bits));
    if (!r) return r.error();
    return r.value();
  };
  const V want0 = literal_decode(code0, kBytes, c.context_bits);
  const V want1 = literal_decode(code1, kBytes, c.context_bits);
  EXPECT_EQ(plane(code0), want0);
  EXPECT_EQ(plane(code1), want1);

  // Both planes at once through the stream decoder.
  auto stream = decode_stream(stream_of(0, static_cast<std::uint8_t>(c.context_bits), kBytes,
                                        code0, code1));
  if (std::holds_alternative<AransError>(want0) || std::holds_alternative<AransError>(want1)) {
    ASSERT_FALSE(stream.ok());
    EXPECT_EQ(stream.error(), AransError::Truncated);
    return;
  }
  ASSERT_TRUE(stream.ok());
  const Bytes& a = std::get<Bytes>(want0);
  const Bytes& b = std::get<Bytes>(want1);
  Bytes interleaved;
  for (std::size_t i = 0; i < kBytes; ++i) interleaved.insert(interleaved.end(), {a[i], b[i]});
  EXPECT_EQ(stream.value(), interleaved);
}

INSTANTIATE_TEST_SUITE_P(
    Decoder, AransForgedCodes,
    testing::Values(ForgedCode{1, 8, 40000}, ForgedCode{0xFFFF, 3, 40000},
                    ForgedCode{0x10000, 0, 40000}, ForgedCode{0xFFFFFFFF, 8, 40000},
                    ForgedCode{0x12345678, 3, 2000}, ForgedCode{0, 8, 40000}),
    [](const testing::TestParamInfo<ForgedCode>& param) {
      return "state" + std::to_string(param.param.start_state) + "_bits" +
             std::to_string(param.param.context_bits) + "_code" +
             std::to_string(param.param.code_bytes);
    });

// The decoder runs unchecked over blocks of bytes sized from the code left
// and finishes each plane byte by byte with every read checked. Cutting a
// plane's code at every length around the least it needs moves that
// hand-over through every position: each cut must decode, or fail with
// Truncated, exactly as the rule written out literally does, through both
// entry points. Codes come from the encoder and, with start states below
// 2^16 (several words per decision, which keeps a plane on the checked path
// until it has caught up), from random bytes; both get spare bytes at the
// end, which must change nothing. A plane whose model was trained against
// its last bytes ends with the densest code (several words per byte).
struct CodeEnd {
  unsigned context_bits;
  std::uint32_t forged_start_state;  // 0: the encoder's code
  bool surprising_end = false;
  friend void PrintTo(const CodeEnd& c, std::ostream* os) {
    *os << c.context_bits << " bits, start " << c.forged_start_state
        << (c.surprising_end ? ", surprising end" : "");
  }
};

// kBytes plane bytes whose last few are as improbable as the model allows:
// runs of 0xFE, 0xFC, ..., 0x80, 0x00 leave every node on 0xFF's path
// expecting a 0 (each run sets the node where it leaves that path, and only
// runs before it pass the node again), then 0xFF follows.
Bytes surprising_plane(std::size_t bytes) {
  Bytes plane;
  for (int run = 0; run < 8; ++run) {
    plane.insert(plane.end(), (bytes - 8) / 8, static_cast<std::uint8_t>(0xFE << run));
  }
  plane.resize(bytes, 0xFF);
  return plane;
}

class AransCodeEnds : public testing::TestWithParam<CodeEnd> {};

TEST_P(AransCodeEnds, EveryCutAroundTheEndDecodesAsTheLiteralRule) {
  const CodeEnd& c = GetParam();
  const auto bits = static_cast<std::uint8_t>(c.context_bits);
  constexpr std::size_t kBytes = 1500;
  constexpr std::size_t kAround = 24;
  using V = std::variant<Bytes, AransError>;
  const auto code_for = [&](std::uint32_t seed) {
    Bytes code;
    if (c.surprising_end) {
      code = encode_plane(surprising_plane(kBytes), bits).value();
    } else if (c.forged_start_state == 0) {
      Bytes plane;
      const Bytes coefficients = coefficient_bytes(kBytes, seed);
      for (std::size_t i = 0; i < coefficients.size(); i += 2) plane.push_back(coefficients[i]);
      code = encode_plane(plane, bits).value();
    } else {
      code = random_bytes(3000, seed);
      for (int k = 0; k < 4; ++k) code[k] = static_cast<std::uint8_t>(c.forged_start_state >> (8 * k));
    }
    const Bytes spare = random_bytes(kAround, seed + 1);
    code.insert(code.end(), spare.begin(), spare.end());
    return code;
  };
  const auto cut = [](const Bytes& code, std::size_t length) {
    return Bytes(code.begin(), code.begin() + static_cast<std::ptrdiff_t>(length));
  };
  // The least length that decodes (more never hurts, so bisect).
  const auto needed = [&](const Bytes& code) {
    std::size_t lo = 4, hi = code.size();
    while (lo < hi) {
      const std::size_t mid = (lo + hi) / 2;
      if (std::holds_alternative<Bytes>(literal_decode(cut(code, mid), kBytes, c.context_bits))) {
        hi = mid;
      } else {
        lo = mid + 1;
      }
    }
    return lo;
  };
  const Bytes full0 = code_for(41);
  const Bytes full1 = code_for(42);
  const std::size_t needed0 = needed(full0);
  const std::size_t needed1 = needed(full1);
  ASSERT_GT(needed1, kAround + 4);
  if (c.forged_start_state == 0) {
    EXPECT_EQ(needed1, full1.size() - kAround);
  }

  for (std::size_t length1 = needed1 - kAround; length1 <= needed1 + kAround; ++length1) {
    const std::size_t length0 = needed0 + length1 / 2 - needed1 / 2;
    const Bytes code0 = cut(full0, length0);
    const Bytes code1 = cut(full1, length1);
    const V want0 = literal_decode(code0, kBytes, c.context_bits);
    const V want1 = literal_decode(code1, kBytes, c.context_bits);
    ASSERT_EQ(std::holds_alternative<Bytes>(want1), length1 >= needed1);

    auto plane = decode_plane(code1, kBytes, bits);
    if (length1 < needed1) {
      ASSERT_FALSE(plane.ok()) << length1;
      EXPECT_EQ(plane.error(), AransError::Truncated);
    } else {
      ASSERT_TRUE(plane.ok()) << length1;
      EXPECT_EQ(plane.value(), std::get<Bytes>(want1)) << length1;
    }

    // Both planes through the stream, with an odd trailing byte.
    Bytes tail = code1;
    tail.push_back(0x5C);
    auto stream = decode_stream(stream_of(1, bits, kBytes, code0, tail));
    if (length0 < needed0 || length1 < needed1) {
      ASSERT_FALSE(stream.ok()) << length0 << " " << length1;
      EXPECT_EQ(stream.error(), AransError::Truncated);
      continue;
    }
    ASSERT_TRUE(stream.ok()) << length0 << " " << length1;
    Bytes interleaved;
    for (std::size_t i = 0; i < kBytes; ++i) {
      interleaved.insert(interleaved.end(), {std::get<Bytes>(want0)[i], std::get<Bytes>(want1)[i]});
    }
    interleaved.push_back(0x5C);
    EXPECT_EQ(stream.value(), interleaved) << length0 << " " << length1;
  }
}

INSTANTIATE_TEST_SUITE_P(Decoder, AransCodeEnds,
                         testing::Values(CodeEnd{0, 0}, CodeEnd{3, 0}, CodeEnd{8, 0},
                                         CodeEnd{0, 0x2345}, CodeEnd{8, 1}, CodeEnd{3, 0xFFFF},
                                         CodeEnd{0, 0, true}, CodeEnd{8, 0, true}),
                         [](const testing::TestParamInfo<CodeEnd>& param) {
                           return "bits" + std::to_string(param.param.context_bits) + "_start" +
                                  std::to_string(param.param.forged_start_state) +
                                  (param.param.surprising_end ? "_surprising" : "");
                         });

}  // namespace
}  // namespace corvane::arans
