// The candidate evaluator must see exactly what the pipelines make: the
// samples decompress(compress(...)) returns, bit for bit, their errors, and
// the container's length, for every option on the same transform path.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "candidates.h"
#include "compressor.h"
#include "decompressor.h"

namespace corvane {
namespace {

struct Signal {
  std::string name;
  std::vector<double> samples;
  bool as_double;  // given as double (else rounded to float first)
};

void PrintTo(const Signal& signal, std::ostream* os) { *os << signal.name; }

std::vector<double> wave(std::size_t n, double offset, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 0.05);
  std::vector<double> v(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i);
    v[i] = offset + std::sin(t / 40.0) + 0.3 * std::sin(t / 3.0) + noise(rng);
  }
  return v;
}

// Long enough for 8 levels of every method, odd lengths, signals shorter than
// every filter (padded), far from zero (the deepest band clips at high
// scales), flat, and holding NaN and infinities (sanitised).
std::vector<Signal> signals() {
  std::vector<Signal> s;
  s.push_back({"wave_float", wave(3001, 0.0, 1), false});
  s.push_back({"wave_double", wave(2560, 0.0, 2), true});
  s.push_back({"far_from_zero", wave(1027, 1000.0, 3), true});
  for (std::size_t n : {1, 5, 7, 9, 79, 80}) {
    s.push_back({"short_" + std::to_string(n), wave(n, 0.5, static_cast<unsigned>(n)), n % 2 == 0});
  }
  s.push_back({"flat", std::vector<double>(300, 2.5), false});
  s.push_back({"nearly_flat", std::vector<double>{1.0, 1.000001, 1.0, 1.0, 1.000002, 1.0}, true});
  auto holes = wave(500, 0.0, 4);
  holes[3] = std::numeric_limits<double>::quiet_NaN();
  holes[100] = std::numeric_limits<double>::infinity();
  holes[101] = -std::numeric_limits<double>::infinity();
  s.push_back({"non_finite", holes, false});
  // Beyond the float range: infinities once rounded, then sanitised.
  auto wide = wave(400, 0.0, 5);
  wide[7] = 1e300;
  s.push_back({"beyond_float_range", wide, true});
  return s;
}

std::vector<float> rounded(const std::vector<double>& v) {
  return std::vector<float>(v.begin(), v.end());
}

struct Fixture {
  std::vector<double> doubles;
  std::vector<float> floats;
  bool as_double;

  CResult<CandidateEvaluator> evaluator(const TransformPath& path) const {
    return as_double ? CandidateEvaluator::create(std::span<const double>(doubles), path)
                     : CandidateEvaluator::create(std::span<const float>(floats), path);
  }
  CResult<tessary::Buffer<std::uint8_t>> compressed(const CompressionOptions& o,
                                                     const TransformPath& path) const {
    return as_double ? compress(std::span<const double>(doubles), o, path)
                     : compress(std::span<const float>(floats), o, path);
  }
  double given(std::size_t i) const { return as_double ? doubles[i] : floats[i]; }
};

std::vector<CompressionOptions> every_candidate(EntropyCoder coder) {
  std::vector<CompressionOptions> all;
  for (auto method : {CompressionMethod::Cdf97, CompressionMethod::Cdf53, CompressionMethod::Db4,
                      CompressionMethod::Sym4}) {
    for (std::uint8_t scale = kMinScale; scale <= kMaxScale; ++scale) {
      for (auto cutoff : {CutoffLevel::Low, CutoffLevel::Medium, CutoffLevel::High}) {
        all.push_back(CompressionOptions::create(method, scale, cutoff, coder).value());
      }
    }
  }
  return all;
}

std::string describe(const CompressionOptions& o) {
  return std::string(name_of(o.method())) + " scale " + std::to_string(o.scale()) + " " +
         std::string(name_of(o.cutoff())) + " " + std::string(name_of(o.coder()));
}

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class EveryCandidate : public ::testing::TestWithParam<Signal> {};

void expect_pipelines_agree(const Signal& signal, const TransformPath& path) {
  const Fixture f{signal.samples, rounded(signal.samples), signal.as_double};
  auto made = f.evaluator(path);
  ASSERT_TRUE(made.ok()) << made.error().render();
  CandidateEvaluator& evaluator = made.value();
  for (const auto& options : every_candidate(EntropyCoder::Arans)) {
    SCOPED_TRACE(describe(options));
    auto container = f.compressed(options, path);
    ASSERT_TRUE(container.ok());
    auto expected = decompress(container.value(), path);
    ASSERT_TRUE(expected.ok());
    auto decoded = evaluator.decoded(options);
    ASSERT_TRUE(decoded.ok()) << decoded.error().render();
    ASSERT_EQ(decoded.value().size(), expected.value().size());
    for (std::size_t i = 0; i < expected.value().size(); ++i) {
      ASSERT_TRUE(same_bits(decoded.value()[i], expected.value()[i]))
          << "sample " << i << ": " << decoded.value()[i] << " vs " << expected.value()[i];
    }

    double worst = 0.0, lanes[kSumLanes] = {};
    bool nan = false;
    for (std::size_t i = 0; i < expected.value().size(); ++i) {
      const double d = static_cast<double>(expected.value()[i]) - f.given(i);
      nan = nan || std::isnan(d);
      worst = std::max(worst, std::abs(d));
      lanes[i % kSumLanes] += d * d;
    }
    const double squares = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
    auto errors = evaluator.errors(options);
    ASSERT_TRUE(errors.ok());
    if (nan) {
      EXPECT_TRUE(std::isnan(errors.value().max_abs));
      EXPECT_TRUE(std::isnan(errors.value().sum_of_squares));
    } else {
      EXPECT_EQ(errors.value().max_abs, worst);
      EXPECT_EQ(errors.value().sum_of_squares, squares);
    }

    auto size = evaluator.container_size(options);
    ASSERT_TRUE(size.ok());
    EXPECT_EQ(size.value(), container.value().size());
    auto range = evaluator.container_size_range(options);
    ASSERT_TRUE(range.ok());
    EXPECT_LE(range.value().lowest, size.value());
    EXPECT_GE(range.value().highest, size.value());
  }
}

TEST_P(EveryCandidate, DecodedSamplesErrorsAndSizesAreThePipelines) {
  expect_pipelines_agree(GetParam(), TransformPath());
}

TEST_P(EveryCandidate, OnThePortablePathToo) {
  // The kernels differ in rounding between paths; the evaluator follows the
  // path it is given.
  expect_pipelines_agree(GetParam(), TransformPath(0));
}

INSTANTIATE_TEST_SUITE_P(Signals, EveryCandidate, ::testing::ValuesIn(signals()),
                         [](const auto& param_info) { return param_info.param.name; });

TEST(CandidateSizes, DeflateSizesAreExactAndItsRangeIsTheExactSize) {
  const auto signal = rounded(wave(4000, 0.0, 9));
  auto made = CandidateEvaluator::create(std::span<const float>(signal));
  ASSERT_TRUE(made.ok());
  for (const auto& options : every_candidate(EntropyCoder::Deflate)) {
    SCOPED_TRACE(describe(options));
    auto container = compress(std::span<const float>(signal), options);
    ASSERT_TRUE(container.ok());
    auto range = made.value().container_size_range(options);
    ASSERT_TRUE(range.ok());
    EXPECT_EQ(range.value(), (LengthRange{container.value().size(), container.value().size()}));
  }
}

TEST(CandidateSizes, AutoIsMeasuredAsRans) {
  const auto signal = rounded(wave(2000, 0.0, 10));
  auto made = CandidateEvaluator::create(std::span<const float>(signal));
  ASSERT_TRUE(made.ok());
  const auto options = CompressionOptions::create(CompressionMethod::Db4, 10, CutoffLevel::Medium,
                                                  EntropyCoder::Auto)
                           .value();
  auto container = compress(std::span<const float>(signal), options);
  auto size = made.value().container_size(options);
  ASSERT_TRUE(container.ok() && size.ok());
  EXPECT_EQ(size.value(), container.value().size());
}

TEST(CandidateEvaluatorErrors, RefusesWhatCompressRefuses) {
  const std::vector<float> empty;
  const std::vector<float> overflowing = {-3.0e38f, 3.0e38f, 0.0f};
  for (const auto& samples : {empty, overflowing}) {
    auto made = CandidateEvaluator::create(std::span<const float>(samples));
    auto container = compress(std::span<const float>(samples), CompressionOptions());
    ASSERT_FALSE(made.ok());
    ASSERT_FALSE(container.ok());
    EXPECT_EQ(made.error(), container.error());
  }
}

TEST(CandidateEvaluatorErrors, AFailingMakerIsReportedByEveryCall) {
  const auto signal = rounded(wave(100, 0.0, 11));
  const TransformPath failing(0, [](CompressionMethod, tessary::CpuFeatures)
                                  -> tessary::TResult<tessary::DwtExecutorHandle<float>> {
    return tessary::make_error(tessary::TessaryErrorKind::AllocationFailed, 4096);
  });
  auto made = CandidateEvaluator::create(std::span<const float>(signal), failing);
  ASSERT_TRUE(made.ok());  // nothing is transformed until a candidate asks
  const CompressionOptions options;
  EXPECT_EQ(made.value().errors(options).error().kind(), CorvaneErrorKind::OutOfMemory);
  EXPECT_EQ(made.value().decoded(options).error().kind(), CorvaneErrorKind::OutOfMemory);
  EXPECT_EQ(made.value().container_size(options).error().kind(), CorvaneErrorKind::OutOfMemory);
}

TEST(CandidateEvaluatorErrors, MethodsCanBeRevisitedInAnyOrder) {
  // One method's bands are held at a time; coming back to a method computes
  // its transform again and must give the same answers.
  const auto signal = rounded(wave(5000, 0.0, 12));
  auto made = CandidateEvaluator::create(std::span<const float>(signal));
  ASSERT_TRUE(made.ok());
  const auto db4 =
      CompressionOptions::create(CompressionMethod::Db4, 9, CutoffLevel::High, EntropyCoder::Arans)
          .value();
  const auto first = made.value().errors(db4).value();
  ASSERT_TRUE(made.value().errors(CompressionOptions()).ok());
  const auto again = made.value().errors(db4).value();
  EXPECT_EQ(first.max_abs, again.max_abs);
  EXPECT_EQ(first.sum_of_squares, again.sum_of_squares);
}

}  // namespace
}  // namespace corvane
