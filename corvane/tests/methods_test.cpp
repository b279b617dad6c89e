// The executors behind each method and the levels rule.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
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

// An executor whose multi-level transforms run out of memory, as the
// engine reports it (AllocationFailed with the bytes it asked for); every
// other operation is the real one.
class OutOfMemoryInTransforms : public tessary::DwtExecutor<float> {
 public:
  explicit OutOfMemoryInTransforms(tessary::DwtExecutorHandle<float> real)
      : real_(std::move(real)) {}

  tessary::TResult<> execute_forward(std::span<const float> input, std::span<float> approximation,
                                     std::span<float> details) const override {
    return real_->execute_forward(input, approximation, details);
  }
  tessary::TResult<> execute_forward_with_scratch(std::span<const float> input,
                                                  std::span<float> approximation,
                                                  std::span<float> details,
                                                  std::span<float> scratch) const override {
    return real_->execute_forward_with_scratch(input, approximation, details, scratch);
  }
  std::uint64_t required_scratch_size(std::uint64_t input_length) const override {
    return real_->required_scratch_size(input_length);
  }
  tessary::BandSizes dwt_size(std::uint64_t input_length) const override {
    return real_->dwt_size(input_length);
  }
  tessary::TResult<> execute_inverse(std::span<const float> approximation,
                                     std::span<const float> details,
                                     std::span<float> output) const override {
    return real_->execute_inverse(approximation, details, output);
  }
  std::uint64_t idwt_size(std::uint64_t approximation_length,
                          std::uint64_t details_length) const override {
    return real_->idwt_size(approximation_length, details_length);
  }
  std::uint64_t filter_length() const override { return real_->filter_length(); }
  tessary::TResult<tessary::Dwt<float>> dwt(std::span<const float> signal,
                                            std::uint64_t level) const override {
    return real_->dwt(signal, level);
  }
  tessary::TResult<tessary::MultiDwt<float>> multi_dwt(std::span<const float>,
                                                       std::uint64_t) const override {
    return tessary::make_error(tessary::TessaryErrorKind::AllocationFailed, kRefusedBytes);
  }
  tessary::TResult<tessary::Buffer<float>> idwt(const tessary::DwtRef<float>& bands) const override {
    return real_->idwt(bands);
  }
  tessary::TResult<tessary::Buffer<float>> multi_idwt(
      const tessary::MultiDwtRef<float>&) const override {
    return tessary::make_error(tessary::TessaryErrorKind::AllocationFailed, kRefusedBytes);
  }

 private:
  tessary::DwtExecutorHandle<float> real_;
};

tessary::TResult<tessary::DwtExecutorHandle<float>> executor_out_of_memory(
    CompressionMethod method, tessary::CpuFeatures features) {
  auto real = make_executor(method, features);
  if (!real) return real;
  return tessary::DwtExecutorHandle<float>(
      std::make_shared<OutOfMemoryInTransforms>(std::move(real).value()));
}

// Running out inside a transform is the codec's OutOfMemory with the bytes,
// never the engine's own sentence.
TEST_P(ExecutorFailure, OutOfMemoryInsideTheTransformsIsOutOfMemory) {
  const auto options = CompressionOptions::create(GetParam(), 11, CutoffLevel::Low,
                                                  EntropyCoder::Auto).value();
  const TransformPath failing{tessary::cpu_features(), &executor_out_of_memory};
  std::vector<float> signal(1000);
  for (std::size_t i = 0; i < signal.size(); ++i) signal[i] = std::sin(0.1f * i);
  auto r = compress(signal, options, failing);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().render(), "Out of memory, can't allocate additional 4096");
  auto container = compress(signal, options);
  ASSERT_TRUE(container.ok());
  auto back = decompress(container.value(), failing);
  ASSERT_FALSE(back.ok());
  EXPECT_EQ(back.error().render(), "Out of memory, can't allocate additional 4096");
}

INSTANTIATE_TEST_SUITE_P(EveryMethod, ExecutorFailure,
                         ::testing::Values(CompressionMethod::Cdf53, CompressionMethod::Cdf97,
                                           CompressionMethod::Db4, CompressionMethod::Sym4),
                         [](const auto& param_info) {
                           return std::string(name_of(param_info.param));
                         });

}  // namespace
}  // namespace corvane
