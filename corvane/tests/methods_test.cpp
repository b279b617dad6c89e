// The executors behind each method and the levels rule.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "compressor.h"
#include "decompressor.h"
#include "methods.h"

namespace corvane {
namespace {

TEST(LevelRule, ComputeMaxLevels) {
  EXPECT_EQ(compute_max_levels(5, 6), 1u);    // shorter than the filter
  EXPECT_EQ(compute_max_levels(11, 6), 1u);   // q = 1
  EXPECT_EQ(compute_max_levels(12, 6), 1u);   // q = 2 -> log2 = 1
  EXPECT_EQ(compute_max_levels(24, 6), 2u);
  EXPECT_EQ(compute_max_levels(1000, 6), 7u);
  EXPECT_EQ(compute_max_levels(std::uint64_t{1} << 40, 8), 8u);
}

TEST(Executors, FilterLengthsOfTheFourMethods) {
  const std::pair<CompressionMethod, std::uint64_t> lengths[] = {
      {CompressionMethod::Cdf53, 6},
      {CompressionMethod::Cdf97, 10},
      {CompressionMethod::Db4, 8},
      {CompressionMethod::Sym4, 8}};
  for (const auto& [method, length] : lengths) {
    auto executor = executor_for(method, TransformPath());
    ASSERT_TRUE(executor.ok());
    EXPECT_EQ(executor.value()->filter_length(), length) << name_of(method);
    EXPECT_EQ(transformed_length(3, length), length);
    EXPECT_EQ(transformed_length(length + 1, length), length + 1);
  }
}

// A wavelet factory that runs out of memory reports the bytes it asked for;
// both pipelines must turn that into an OutOfMemory value with those bytes.
constexpr std::uint64_t kRefusedBytes = 4096;
tessary::TResult<tessary::DwtExecutorHandle<float>> no_executor(CompressionMethod,
                                                                tessary::CpuFeatures) {
  return tessary::make_error(tessary::TessaryErrorKind::AllocationFailed, kRefusedBytes);
}

class ExecutorFailure : public ::testing::TestWithParam<CompressionMethod> {};

TEST_P(ExecutorFailure, CompressReportsOutOfMemory) {
  const auto options = CompressionOptions::create(GetParam(), 11, CutoffLevel::Low,
                                                  EntropyCoder::Auto).value();
  std::vector<float> signal(100);
  for (std::size_t i = 0; i < signal.size(); ++i) signal[i] = std::sin(0.1f * i);
  auto r = compress(signal, options, {tessary::cpu_features(), &no_executor});
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error(), CorvaneError::out_of_memory(kRefusedBytes));
}

TEST_P(ExecutorFailure, DecompressOfAValidContainerReportsOutOfMemory) {
  const auto options = CompressionOptions::create(GetParam(), 11, CutoffLevel::Low,
                                                  EntropyCoder::Deflate).value();
  const std::vector<float> signal(50, 1.5f);
  auto container = compress(signal, options);
  ASSERT_TRUE(container.ok());
  auto r = decompress(container.value(), {tessary::cpu_features(), &no_executor});
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error(), CorvaneError::out_of_memory(kRefusedBytes));
  // The same container decodes with the real factories.
  auto good = decompress(container.value(), {tessary::cpu_features(), &make_executor});
  ASSERT_TRUE(good.ok());
  EXPECT_EQ(good.value().size(), signal.size());
}

INSTANTIATE_TEST_SUITE_P(EveryMethod, ExecutorFailure,
                         ::testing::Values(CompressionMethod::Cdf53, CompressionMethod::Cdf97,
                                           CompressionMethod::Db4, CompressionMethod::Sym4),
                         [](const auto& param_info) {
                           return std::string(name_of(param_info.param));
                         });

}  // namespace
}  // namespace corvane
