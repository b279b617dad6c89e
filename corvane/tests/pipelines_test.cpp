#include <gtest/gtest.h>
#include <sys/mman.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "bytes.h"
#include "coders/arans.h"
#include "compressor.h"
#include "decompressor.h"
#include "header.h"
#include "stages.h"

namespace corvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

CompressionOptions options(CompressionMethod method, std::uint8_t scale = 11,
                           CutoffLevel cutoff = CutoffLevel::Low,
                           EntropyCoder coder = EntropyCoder::Auto) {
  return CompressionOptions::create(method, scale, cutoff, coder).value();
}

Bytes compressed(const std::vector<float>& signal, const CompressionOptions& opts) {
  auto r = compress(signal, opts);
  EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error().render());
  return r.ok() ? Bytes(r.value().begin(), r.value().end()) : Bytes{};
}

std::vector<float> smooth_signal(std::size_t n) {
  std::vector<float> v(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i);
    v[i] = static_cast<float>(3.0 * std::sin(t * 0.01) + 0.5 * std::cos(t * 0.047) + 10.0);
  }
  return v;
}

std::vector<float> noisy_signal(std::size_t n, unsigned seed = 7) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  std::vector<float> v = smooth_signal(n);
  for (float& x : v) x += noise(rng);
  return v;
}

std::uint32_t u32_at(const Bytes& b, std::size_t at) { return load_le32(b.data() + at); }

float f32_at(const Bytes& b, std::size_t at) {
  float f;
  std::memcpy(&f, b.data() + at, 4);
  return f;
}

void put_u32(Bytes& b, std::size_t at, std::uint32_t v) { store_le32(b.data() + at, v); }

std::string decompress_error(const Bytes& b) {
  auto r = decompress(b);
  return r.ok() ? "(no error)" : r.error().render();
}

constexpr CompressionMethod kMethods[] = {CompressionMethod::Cdf53, CompressionMethod::Cdf97,
                                          CompressionMethod::Db4, CompressionMethod::Sym4};

std::string method_name(CompressionMethod m) { return std::string(tag_of(m)); }

constexpr EntropyCoder kCoders[] = {EntropyCoder::Deflate, EntropyCoder::Arans};

using MethodAndCoder = std::tuple<CompressionMethod, EntropyCoder>;

std::string method_and_coder_name(const ::testing::TestParamInfo<MethodAndCoder>& info) {
  const auto [method, coder] = info.param;
  return method_name(method) + "_" + std::string(name_of(coder));
}

// ---------------------------------------------------------------- levels

struct LevelCase {
  std::uint64_t n;
  std::uint8_t cdf53, cdf97, bank8;
};

class LevelRule : public ::testing::TestWithParam<LevelCase> {};

TEST_P(LevelRule, HeaderRecordsTheLevelsOfEveryMethod) {
  const LevelCase c = GetParam();
  const std::uint8_t expected[] = {c.cdf53, c.cdf97, c.bank8, c.bank8};
  const auto signal = smooth_signal(c.n);
  for (int m = 0; m < 4; ++m) {
    const Bytes b = compressed(signal, options(kMethods[m]));
    ASSERT_GE(b.size(), kHeaderLen);
    EXPECT_EQ(b[12], expected[m]) << method_name(kMethods[m]) << " n=" << c.n;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, LevelRule,
    ::testing::Values(LevelCase{1, 1, 1, 1}, LevelCase{19, 1, 1, 1}, LevelCase{20, 2, 2, 2},
                      LevelCase{39, 2, 2, 2}, LevelCase{40, 3, 3, 3}, LevelCase{59, 3, 3, 3},
                      LevelCase{60, 4, 4, 4}, LevelCase{79, 4, 4, 4}, LevelCase{80, 3, 3, 3},
                      LevelCase{1000, 7, 6, 6}, LevelCase{1535, 7, 7, 7},
                      LevelCase{1536, 8, 7, 7}, LevelCase{2560, 8, 8, 8},
                      LevelCase{1000000, 8, 8, 8}),
    [](const auto& param_info) { return std::to_string(param_info.param.n) + "_samples"; });

// ---------------------------------------------------------------- header

TEST(Container, HeaderOfAThousandSamplesWithDefaults) {
  const Bytes b = compressed(smooth_signal(1000), CompressionOptions());
  const Bytes first20(b.begin(), b.begin() + 20);
  EXPECT_EQ(first20, (Bytes{0x43, 0x52, 0x56, 0x4E, 0x01, 0x01, 0x66, 0x33, 0x63, 0x66, 0x39,
                            0x37, 0x06, 0x0B, 0x01, 0x00, 0xE8, 0x03, 0x00, 0x00}));
  EXPECT_EQ(u32_at(b, 32), b.size() - kHeaderLen);
  for (std::size_t i = 36; i < 52; ++i) EXPECT_EQ(b[i], 0) << i;
  auto parsed = CorvaneHeader::from_bytes(b);
  ASSERT_TRUE(parsed.ok());
}

TEST(Container, AutoAndAransGiveIdenticalBytes) {
  const auto signal = noisy_signal(5000);
  EXPECT_EQ(compressed(signal, options(CompressionMethod::Cdf97, 11, CutoffLevel::Low,
                                       EntropyCoder::Auto)),
            compressed(signal, options(CompressionMethod::Cdf97, 11, CutoffLevel::Low,
                                       EntropyCoder::Arans)));
}

TEST(Container, DeflatePayloadIsZlibLevel6RawOfTheCoefficientString) {
  // Recover the coefficient string through the rANS container, then check
  // the DEFLATE container carries exactly zlib's bytes for it.
  const auto signal = noisy_signal(3000);
  const Bytes a = compressed(signal, options(CompressionMethod::Db4, 10, CutoffLevel::Medium,
                                             EntropyCoder::Arans));
  const Bytes d = compressed(signal, options(CompressionMethod::Db4, 10, CutoffLevel::Medium,
                                             EntropyCoder::Deflate));
  EXPECT_EQ(d[14], 0);
  EXPECT_EQ(a[14], 1);
  auto string = arans::decode_stream(std::span<const std::uint8_t>(a).subspan(kHeaderLen));
  ASSERT_TRUE(string.ok());
  z_stream zs{};
  ASSERT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes expected(deflateBound(&zs, string.value().size()));
  zs.next_in = string.value().data();
  zs.avail_in = static_cast<uInt>(string.value().size());
  zs.next_out = expected.data();
  zs.avail_out = static_cast<uInt>(expected.size());
  ASSERT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  expected.resize(zs.total_out);
  deflateEnd(&zs);
  EXPECT_EQ(Bytes(d.begin() + kHeaderLen, d.end()), expected);
}

// ---------------------------------------------------------------- special signals

TEST(SpecialSignals, ConstantSignalStoresZeroPlanesAndDecodesToTheConstant) {
  const std::vector<float> signal(500, 4.25f);
  for (auto coder : {EntropyCoder::Arans, EntropyCoder::Deflate}) {
    const Bytes b = compressed(signal, options(CompressionMethod::Cdf97, 11, CutoffLevel::Low, coder));
    EXPECT_EQ(f32_at(b, 20), 4.25f);
    EXPECT_EQ(f32_at(b, 24), 4.25f);
    EXPECT_EQ(f32_at(b, 28), 0.0f);
    auto out = decompress(b);
    ASSERT_TRUE(out.ok());
    ASSERT_EQ(out.value().size(), 500u);
    for (float v : out.value()) EXPECT_EQ(v, 4.25f);
  }
}

TEST(SpecialSignals, NanSignalIsAFlatZeroSignal) {
  const std::vector<float> signal(100, std::numeric_limits<float>::quiet_NaN());
  const Bytes b = compressed(signal, CompressionOptions());
  EXPECT_EQ(f32_at(b, 20), 0.0f);
  EXPECT_EQ(f32_at(b, 24), 0.0f);
  EXPECT_EQ(f32_at(b, 28), 0.0f);
  auto out = decompress(b);
  ASSERT_TRUE(out.ok());
  for (float v : out.value()) EXPECT_EQ(v, 0.0f);
}

TEST(SpecialSignals, InfinitiesBecomeOneAndZero) {
  std::vector<float> signal(64, 0.5f);
  signal[3] = std::numeric_limits<float>::infinity();
  signal[9] = -std::numeric_limits<float>::infinity();
  signal[10] = 0.25f;
  const Bytes b = compressed(signal, CompressionOptions());
  EXPECT_EQ(f32_at(b, 20), 0.0f);  // -inf -> 0.0 is the smallest
  EXPECT_EQ(f32_at(b, 24), 1.0f);  // +inf -> 1.0 is the largest
}

TEST(SpecialSignals, RangeOverflowFailsInsteadOfWritingAnUnreadableContainer) {
  const std::vector<float> signal = {-3.0e38f, 3.0e38f, 0.0f, 1.0f};
  auto r = compress(signal, CompressionOptions());
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind(), CorvaneErrorKind::UnsupportedConfiguration);
}

TEST(SpecialSignals, RangeWhoseReciprocalOverflowsIsStoredFlat) {
  // 2e-39 is subnormal: 1 / range is infinite in float, so normalising would
  // give infinities. The signal is stored as its minimum.
  std::vector<float> signal(400);
  for (std::size_t i = 0; i < signal.size(); ++i) signal[i] = (i % 3) * 1e-39f;
  ASSERT_FALSE(std::isfinite(1.0f / 2e-39f));
  for (auto coder : {EntropyCoder::Arans, EntropyCoder::Deflate}) {
    const Bytes b = compressed(signal, options(CompressionMethod::Cdf97, 11, CutoffLevel::Low, coder));
    EXPECT_EQ(f32_at(b, 20), 0.0f);
    EXPECT_EQ(f32_at(b, 24), 2e-39f);
    EXPECT_EQ(f32_at(b, 28), 0.0f);
    auto out = decompress(b);
    ASSERT_TRUE(out.ok());
    for (float v : out.value()) EXPECT_EQ(v, 0.0f);
  }
}

// The coefficient count follows from the length and the method, so a
// signal too long for the rANS coder is refused before a sample is read:
// here the samples lie in memory that cannot be read at all.
TEST(SpecialSignals, TooManyCoefficientsForRansIsRefusedBeforeTheSamplesAreRead) {
  const std::size_t n = (std::size_t{1} << 28) + 1;
  void* unreadable = mmap(nullptr, n * sizeof(double), PROT_NONE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  ASSERT_NE(unreadable, MAP_FAILED);
  const std::string refused =
      "Unsupported compression configuration 'Too many coefficients for the arans coder (";
  for (const auto method : kMethods) {
    const auto opts = options(method, 11, CutoffLevel::Low, EntropyCoder::Arans);
    auto from_floats = compress(std::span(static_cast<const float*>(unreadable), n), opts);
    ASSERT_FALSE(from_floats.ok());
    EXPECT_EQ(from_floats.error().render().rfind(refused, 0), 0u) << from_floats.error().render();
    auto from_doubles = compress(std::span(static_cast<const double*>(unreadable), n), opts);
    ASSERT_FALSE(from_doubles.ok());
    EXPECT_EQ(from_doubles.error(), from_floats.error());
  }
  munmap(unreadable, n * sizeof(double));
}

TEST(SpecialSignals, SizeChecks) {
  auto r = compress(std::span<const float>(), CompressionOptions());
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().render(), "Unsupported compression configuration 'Can't compress empty data'");
  // A view longer than 2^31 - 1 samples is refused before anything is read.
  const std::span<const float> huge(reinterpret_cast<const float*>(16), std::size_t{1} << 31);
  r = compress(huge, CompressionOptions());
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().render(),
            "Unsupported compression configuration 'Can't compress data bigger than "
            "2147483647, but data was 2147483648'");
}

// ---------------------------------------------------------------- cut-off

TEST(Cutoff, ThresholdTable) {
  const int expected[7][3] = {{0, 0, 0}, {0, 0, 0}, {1, 3, 7}, {1, 3, 7},
                              {2, 6, 14}, {2, 6, 14}, {3, 9, 21}};
  for (int scale = 6; scale <= 12; ++scale) {
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(cutoff_threshold(static_cast<std::uint8_t>(scale), static_cast<CutoffLevel>(c)),
                expected[scale - 6][c])
          << "scale " << scale << " cutoff " << c;
    }
  }
}

TEST(Cutoff, HighCutoffAtScale12KeepsOnly21AndAbove) {
  // Every stored detail of a noisy signal is 0 or at least 21 in magnitude,
  // while the approximation band is never cut.
  const auto signal = noisy_signal(4096);
  const Bytes b = compressed(signal, options(CompressionMethod::Cdf53, 12, CutoffLevel::High,
                                             EntropyCoder::Arans));
  auto string = arans::decode_stream(std::span<const std::uint8_t>(b).subspan(kHeaderLen));
  ASSERT_TRUE(string.ok());
  const std::size_t approximation = 4096 >> 8;  // 8 levels of halving for Cdf53
  std::size_t small_kept = 0, zeros = 0;
  for (std::size_t i = approximation; i < string.value().size() / 2; ++i) {
    std::int16_t q;
    std::memcpy(&q, string.value().data() + 2 * i, 2);
    if (q == 0) ++zeros;
    if (q != 0 && std::abs(static_cast<int>(q)) < 21) ++small_kept;
  }
  EXPECT_EQ(small_kept, 0u);
  EXPECT_GT(zeros, 0u);
}

// ---------------------------------------------------------------- round trips

struct RoundTripCase {
  CompressionMethod method;
  EntropyCoder coder;
  CutoffLevel cutoff;
  std::uint8_t scale;
};

std::string round_trip_name(const ::testing::TestParamInfo<RoundTripCase>& info) {
  const auto& c = info.param;
  const char* coders[] = {"deflate", "arans", "auto"};
  const char* cutoffs[] = {"low", "medium", "high"};
  return method_name(c.method) + "_" + coders[static_cast<int>(c.coder)] + "_" +
         cutoffs[static_cast<int>(c.cutoff)] + "_s" + std::to_string(c.scale);
}

std::vector<RoundTripCase> all_round_trips() {
  std::vector<RoundTripCase> cases;
  for (auto m : kMethods)
    for (auto coder : {EntropyCoder::Deflate, EntropyCoder::Arans})
      for (auto cutoff : {CutoffLevel::Low, CutoffLevel::Medium, CutoffLevel::High})
        for (std::uint8_t scale : {6, 9, 12}) cases.push_back({m, coder, cutoff, scale});
  return cases;
}

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

// Error in units of the signal's range, given the quantisation step 2^-scale
// and the cut-off threshold T (in steps): truncation loses under one step per
// coefficient and the cut-off under T steps; the transforms spread that over
// a few samples with gains near 1, and 8 levels add up a few such terms.
double error_bound(const RoundTripCase& c) {
  const double step = std::ldexp(1.0, -c.scale);
  const double threshold = cutoff_threshold(c.scale, c.cutoff);
  return 12.0 * (1.0 + threshold) * step;
}

TEST_P(RoundTrip, SmoothAndNoisySignalsStayWithinTheQuantisationError) {
  const RoundTripCase c = GetParam();
  for (const auto& signal : {smooth_signal(3001), noisy_signal(2048)}) {
    const Bytes b = compressed(signal, options(c.method, c.scale, c.cutoff, c.coder));
    auto out = decompress(b);
    ASSERT_TRUE(out.ok()) << out.error().render();
    ASSERT_EQ(out.value().size(), signal.size());
    const auto [lo, hi] = std::minmax_element(signal.begin(), signal.end());
    const double range = *hi - *lo;
    double worst = 0.0, squares = 0.0;
    for (std::size_t i = 0; i < signal.size(); ++i) {
      const double e = std::abs(static_cast<double>(out.value()[i]) - signal[i]) / range;
      worst = std::max(worst, e);
      squares += e * e;
    }
    const double rms = std::sqrt(squares / static_cast<double>(signal.size()));
    EXPECT_LE(rms, error_bound(c) / 3.0);
    EXPECT_LE(worst, error_bound(c));
  }
}

INSTANTIATE_TEST_SUITE_P(EveryMethodCoderCutoff, RoundTrip, ::testing::ValuesIn(all_round_trips()),
                         round_trip_name);

// A signal is stored flat only when it cannot be normalised. Any other
// range, however small in absolute terms (strain, displacement, EEG in
// volts), keeps its shape within the usual error relative to its range, plus
// the rounding of float samples of its magnitude, which no codec can beat.
struct SmallRange {
  const char* name;
  float offset;
  float amplitude;
};

class SmallRangeSignals : public ::testing::TestWithParam<MethodAndCoder> {};

TEST_P(SmallRangeSignals, KeepTheirShapeWithinTheRelativeError) {
  const auto [method, coder] = GetParam();
  const SmallRange cases[] = {{"1e-6 sin", 0.0f, 1e-6f},     {"1e-9 sin", 0.0f, 1e-9f},
                              {"1 + 4e-6 sin", 1.0f, 4e-6f}, {"1e-5 sin", 0.0f, 5e-6f},
                              {"-3 + 2e-6 sin", -3.0f, 2e-6f}, {"1e-36 sin", 0.0f, 1e-36f}};
  const RoundTripCase bounds{method, coder, CutoffLevel::Low, 11};
  for (const SmallRange& c : cases) {
    std::vector<float> signal(3000);
    for (std::size_t i = 0; i < signal.size(); ++i) {
      signal[i] = c.offset + c.amplitude * static_cast<float>(std::sin(i / 20.0));
    }
    const auto [lo, hi] = std::minmax_element(signal.begin(), signal.end());
    const double range = static_cast<double>(*hi) - *lo;
    const double rounding = std::numeric_limits<float>::epsilon() *
                            std::max(std::abs(*lo), std::abs(*hi));
    const Bytes b = compressed(signal, options(method, 11, CutoffLevel::Low, coder));
    auto out = decompress(b);
    ASSERT_TRUE(out.ok()) << c.name << ": " << out.error().render();
    ASSERT_EQ(out.value().size(), signal.size());
    double worst = 0.0;
    for (std::size_t i = 0; i < signal.size(); ++i) {
      worst = std::max(worst, std::abs(static_cast<double>(out.value()[i]) - signal[i]));
    }
    EXPECT_LE(worst, error_bound(bounds) * range + rounding)
        << c.name << ": worst error " << worst / range << " of the range";
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryMethodAndCoder, SmallRangeSignals,
    ::testing::Combine(::testing::ValuesIn(kMethods), ::testing::ValuesIn(kCoders)),
    method_and_coder_name);

// Signals shorter than the filter are padded before the transform; the
// reader must plan its bands from the padded length.
class ShortSignals : public ::testing::TestWithParam<CompressionMethod> {};

TEST_P(ShortSignals, EveryLengthFrom1To30RoundTrips) {
  for (std::size_t n = 1; n <= 30; ++n) {
    std::vector<float> signal(n);
    for (std::size_t i = 0; i < n; ++i) signal[i] = static_cast<float>((i * 7) % 5) - 1.5f;
    const Bytes b = compressed(signal, options(GetParam(), 12));
    auto out = decompress(b);
    ASSERT_TRUE(out.ok()) << "n=" << n << ": " << out.error().render();
    ASSERT_EQ(out.value().size(), n);
    for (std::size_t i = 0; i < n; ++i) {
      EXPECT_NEAR(out.value()[i], signal[i], n == 1 ? 0.0 : 0.01) << "n=" << n << " i=" << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Methods, ShortSignals, ::testing::ValuesIn(kMethods),
                         [](const auto& param_info) { return method_name(param_info.param); });

// ---------------------------------------------------------------- malformed containers

Bytes valid_container(EntropyCoder coder = EntropyCoder::Arans) {
  return compressed(smooth_signal(1000), options(CompressionMethod::Cdf97, 11, CutoffLevel::Low, coder));
}

TEST(MalformedContainer, ChecksRunInOrderWithExactMessages) {
  Bytes b = valid_container();
  b[12] = 0;
  put_u32(b, 16, 0x80000000u);  // sample count wins over levels 0
  EXPECT_EQ(decompress_error(b),
            "Can't decompress data, reason: Can't decompress data bigger than 2147483647, but "
            "data was 2147483648");
  b = valid_container();
  b[12] = 11;
  EXPECT_EQ(decompress_error(b), "Can't decompress data, reason: Max supported level is 10 but it was 11");
  b[12] = 0;
  EXPECT_EQ(decompress_error(b), "Can't decompress data, reason: Min supported level is 1 but it was 0");
  b = valid_container();
  const std::uint32_t payload = u32_at(b, 32);
  b.pop_back();
  EXPECT_EQ(decompress_error(b), "Can't decompress data, reason: Minimum data size is " +
                                     std::to_string(payload + 52) + ", but it was " +
                                     std::to_string(payload + 51));
  EXPECT_EQ(decompress_error(Bytes{}), "Header is invalid");
}

// A header that claims no samples describes nothing the compressor writes;
// it is refused with the sample-count checks, before the level checks and
// before the payload is looked at, whatever the method and coder.
class ZeroSamples : public ::testing::TestWithParam<MethodAndCoder> {};

TEST_P(ZeroSamples, AreRefusedWithTheSampleCountChecks) {
  const auto [method, coder] = GetParam();
  const std::string refused =
      "Can't decompress data, reason: Min supported sample count is 1 but it was 0";
  Bytes b = compressed(smooth_signal(1000), options(method, 11, CutoffLevel::Low, coder));
  put_u32(b, 16, 0);
  EXPECT_EQ(decompress_error(b), refused);
  for (const std::uint8_t levels : {0, 11}) {
    Bytes c = b;
    c[12] = levels;
    EXPECT_EQ(decompress_error(c), refused) << int{levels};
  }
  Bytes cut = b;
  cut.resize(kHeaderLen + 1);
  EXPECT_EQ(decompress_error(cut), refused);
  Bytes junk = b;
  std::fill(junk.begin() + kHeaderLen, junk.end(), 0xFF);
  EXPECT_EQ(decompress_error(junk), refused);
  // The header reader's own checks come first.
  Bytes scale = b;
  scale[13] = 5;
  EXPECT_EQ(decompress_error(scale), "Only scaled 6..12 is supported, but it was 5");
}

INSTANTIATE_TEST_SUITE_P(
    EveryMethodAndCoder, ZeroSamples,
    ::testing::Combine(::testing::ValuesIn(kMethods), ::testing::ValuesIn(kCoders)),
    method_and_coder_name);

TEST(MalformedContainer, LevelTenIsAccepted) {
  Bytes b = compressed(smooth_signal(100000), options(CompressionMethod::Cdf53));
  b[12] = 10;  // decodes (wrongly split, but without error) or fails in the transform
  auto r = decompress(b);
  if (!r.ok()) {
    EXPECT_NE(r.error().kind(), CorvaneErrorKind::DecompressionFailed) << r.error().render();
  }
}

TEST(MalformedContainer, AransErrorsCarryTheCoderText) {
  Bytes b = valid_container();
  b[53] = 9;  // context bits above 8
  EXPECT_EQ(decompress_error(b),
            "Can't decompress data, reason: Inconsistent or oversized length in stream");
  b = valid_container();
  const std::size_t cut = 60;
  b.resize(cut);
  put_u32(b, 32, static_cast<std::uint32_t>(cut - kHeaderLen));
  EXPECT_EQ(decompress_error(b), "Can't decompress data, reason: Stream truncated");
}

TEST(MalformedContainer, CorruptDeflateStream) {
  Bytes b = valid_container(EntropyCoder::Deflate);
  b[kHeaderLen] = 0xFF;  // block type 3 does not exist
  EXPECT_EQ(decompress_error(b), "Can't decompress data, reason: corrupt deflate stream");
}

TEST(MalformedContainer, TooFewCoefficientsNamesBothCounts) {
  Bytes b = valid_container(EntropyCoder::Deflate);
  // A truncated DEFLATE payload is not an error in itself ...
  const std::size_t cut = kHeaderLen + (b.size() - kHeaderLen) / 2;
  b.resize(cut);
  put_u32(b, 32, static_cast<std::uint32_t>(cut - kHeaderLen));
  const std::string e = decompress_error(b);
  // ... but the coefficients it yields cannot fill the bands.
  EXPECT_EQ(e.rfind("Can't decompress data, reason: Payload holds ", 0), 0u) << e;
  EXPECT_NE(e.find("but the bands need 1000"), std::string::npos) << e;
}

TEST(MalformedContainer, ExtraBytesAfterThePayloadAreIgnored) {
  for (auto coder : {EntropyCoder::Arans, EntropyCoder::Deflate}) {
    const Bytes b = valid_container(coder);
    Bytes longer = b;
    longer.insert(longer.end(), {1, 2, 3, 4, 5});
    auto x = decompress(b), y = decompress(longer);
    ASSERT_TRUE(x.ok() && y.ok());
    EXPECT_EQ(x.value(), y.value());
  }
}

TEST(MalformedContainer, OddByteAndSurplusCoefficientsAreIgnored) {
  const Bytes b = valid_container(EntropyCoder::Arans);
  auto string = arans::decode_stream(std::span<const std::uint8_t>(b).subspan(kHeaderLen));
  ASSERT_TRUE(string.ok());
  Bytes longer(string.value().begin(), string.value().end());
  longer.insert(longer.end(), {0x34, 0x12, 0x7F});  // one surplus coefficient and an odd byte
  Bytes c(b.begin(), b.begin() + kHeaderLen);
  const auto payload = arans::encode_stream(longer).value();
  c.insert(c.end(), payload.begin(), payload.end());
  put_u32(c, 32, static_cast<std::uint32_t>(payload.size()));
  auto x = decompress(b), y = decompress(c);
  ASSERT_TRUE(x.ok() && y.ok());
  EXPECT_EQ(x.value(), y.value());
}


// DEFLATE payloads are inflated straight into the coefficients through a
// small buffer: what lies past the bands must still be read to its end
// (a corrupt tail is reported), surplus coefficients and an odd byte are
// ignored, and a payload far smaller than its bands (all-zero coefficients)
// fills them through a growing buffer.
Bytes deflate_container_of(const Bytes& header_from, const Bytes& coefficient_string,
                           std::size_t flush_after, const Bytes& tail) {
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes payload(deflateBound(&zs, coefficient_string.size()) + 64);
  zs.next_in = const_cast<Bytef*>(coefficient_string.data());
  zs.next_out = payload.data();
  zs.avail_out = static_cast<uInt>(payload.size());
  zs.avail_in = static_cast<uInt>(flush_after);
  deflate(&zs, Z_FULL_FLUSH);
  zs.avail_in = static_cast<uInt>(coefficient_string.size() - flush_after);
  deflate(&zs, tail.empty() ? Z_FINISH : Z_FULL_FLUSH);
  payload.resize(zs.total_out);
  deflateEnd(&zs);
  payload.insert(payload.end(), tail.begin(), tail.end());
  Bytes c(kHeaderLen + payload.size());
  std::copy(header_from.begin(), header_from.begin() + kHeaderLen, c.begin());
  std::copy(payload.begin(), payload.end(), c.begin() + kHeaderLen);
  put_u32(c, 32, static_cast<std::uint32_t>(payload.size()));
  return c;
}

TEST(DeflatePayload, TailPastTheBandsIsStillChecked) {
  // 20000 coefficients fill the small inflate buffer several times over.
  const Bytes b = compressed(
      smooth_signal(20000),
      options(CompressionMethod::Cdf97, 11, CutoffLevel::Low, EntropyCoder::Deflate));
  Bytes string(40000);
  std::span<const std::uint8_t> payload(b.data() + kHeaderLen, b.size() - kHeaderLen);
  z_stream zs{};
  ASSERT_EQ(inflateInit2(&zs, -15), Z_OK);
  zs.next_in = const_cast<Bytef*>(payload.data());
  zs.avail_in = static_cast<uInt>(payload.size());
  zs.next_out = string.data();
  zs.avail_out = static_cast<uInt>(string.size());
  ASSERT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END);
  inflateEnd(&zs);

  Bytes longer(80001, 0x5A);  // surplus coefficients and an odd byte after the string
  std::copy(string.begin(), string.end(), longer.begin());
  auto same = decompress(deflate_container_of(b, longer, 40001, {}));
  ASSERT_TRUE(same.ok()) << same.error().render();
  EXPECT_EQ(same.value(), decompress(b).value());

  // A block type that does not exist, well after every coefficient arrived.
  EXPECT_EQ(decompress_error(deflate_container_of(b, longer, 40001, {0xFF, 0xFF})),
            "Can't decompress data, reason: corrupt deflate stream");
}

TEST(DeflatePayload, AllZeroBandsFromATinyPayload) {
  const std::vector<float> flat(300000, 2.5f);
  const Bytes b =
      compressed(flat, options(CompressionMethod::Cdf53, 11, CutoffLevel::Low, EntropyCoder::Deflate));
  ASSERT_LT(b.size() - kHeaderLen, 300000u * 2 / 64);  // past the up-front allocation's ratio
  auto back = decompress(b);
  ASSERT_TRUE(back.ok()) << back.error().render();
  EXPECT_EQ(back.value(), flat);
}

}  // namespace
}  // namespace corvane
