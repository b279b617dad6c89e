// A wavelet factory that runs out of memory hands back an empty executor
// handle; both pipelines must turn that into an OutOfMemory value instead of
// calling through it.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "compressor.h"
#include "decompressor.h"

namespace corvane {
namespace {

tessary::DwtExecutorHandle<float> no_executor(CompressionMethod, tessary::CpuFeatures) {
  return nullptr;
}

class ExecutorFailure : public ::testing::TestWithParam<CompressionMethod> {};

TEST_P(ExecutorFailure, CompressReportsOutOfMemory) {
  const auto options = CompressionOptions::create(GetParam(), 11, CutoffLevel::Low,
                                                  EntropyCoder::Auto).value();
  std::vector<float> signal(100);
  for (std::size_t i = 0; i < signal.size(); ++i) signal[i] = std::sin(0.1f * i);
  auto r = compress(signal, options, tessary::cpu_features(), &no_executor);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind(), CorvaneErrorKind::OutOfMemory);
}

TEST_P(ExecutorFailure, DecompressOfAValidContainerReportsOutOfMemory) {
  const auto options = CompressionOptions::create(GetParam(), 11, CutoffLevel::Low,
                                                  EntropyCoder::Deflate).value();
  const std::vector<float> signal(50, 1.5f);
  auto container = compress(signal, options);
  ASSERT_TRUE(container.ok());
  auto r = decompress(container.value(), tessary::cpu_features(), &no_executor);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind(), CorvaneErrorKind::OutOfMemory);
  // The same container decodes with the real factories.
  auto good = decompress(container.value(), tessary::cpu_features(), &make_executor);
  ASSERT_TRUE(good.ok());
  EXPECT_EQ(good.value().size(), signal.size());
}

INSTANTIATE_TEST_SUITE_P(EveryMethod, ExecutorFailure,
                         ::testing::Values(CompressionMethod::Cdf53, CompressionMethod::Cdf97,
                                           CompressionMethod::Db4, CompressionMethod::Sym4),
                         [](const auto& param_info) {
                           const auto& tag = kMethodTags[static_cast<int>(param_info.param)];
                           return std::string(tag.begin(), tag.end());
                         });

}  // namespace
}  // namespace corvane
