#include "methods.h"

#include <algorithm>
#include <bit>

#include "tessary.h"

namespace corvane {

tessary::TResult<tessary::DwtExecutorHandle<float>> make_executor(CompressionMethod method,
                                                                  tessary::CpuFeatures features) {
  using tessary::Tessary;
  switch (method) {
    case CompressionMethod::Cdf53:
      return Tessary::make_cdf53_f32(features);
    case CompressionMethod::Cdf97:
      return Tessary::make_cdf97_f32(features);
    case CompressionMethod::Db4:
      return Tessary::make_daubechies_f32(features, tessary::DaubechiesFamily::Db4,
                                          tessary::BorderMode::Wrap);
    case CompressionMethod::Sym4:
      return Tessary::make_symlet_f32(features, tessary::SymletFamily::Sym4,
                                      tessary::BorderMode::Wrap);
  }
  return Tessary::make_cdf97_f32(features);
}

TransformPath::TransformPath() : features(tessary::cpu_features()), maker(&make_executor) {}

CResult<tessary::DwtExecutorHandle<float>> executor_for(CompressionMethod method,
                                                        const TransformPath& path) {
  auto executor = path.maker(method, path.features);
  // Building an executor can only fail for want of memory.
  if (!executor) return CorvaneError::out_of_memory(executor.error());
  return std::move(executor).value();
}

std::uint64_t transformed_length(std::uint64_t sample_count, std::uint64_t filter_length) {
  return std::max(sample_count, filter_length);
}

std::uint64_t plan_bands(const tessary::DwtExecutor<float>& executor, std::uint64_t sample_count,
                         std::span<tessary::BandSizes> bands) {
  std::uint64_t length = transformed_length(sample_count, executor.filter_length());
  std::uint64_t count = 0;
  for (auto& band : bands) {
    band = executor.dwt_size(length);
    count += band.details;
    length = band.approximation;
  }
  return count + length;
}

CorvaneError transform_error(const tessary::TessaryError& error) {
  if (error.kind == tessary::TessaryErrorKind::AllocationFailed) {
    return CorvaneError::out_of_memory(error);
  }
  return CorvaneError::transform(tessary::render(error));
}

std::uint64_t compute_max_levels(std::uint64_t signal_length, std::uint64_t filter_length) {
  if (signal_length < filter_length) return 1;
  const std::uint64_t q = signal_length / filter_length;
  if (q == 1) return 1;
  const std::uint64_t log2_q = static_cast<std::uint64_t>(std::bit_width(q)) - 1;
  return std::min<std::uint64_t>(log2_q, 8);
}

std::uint64_t levels_for_length(std::uint64_t n, std::uint64_t filter_length) {
  if (n < 20) return 1;
  if (n < 40) return 2;
  if (n < 60) return 3;
  if (n < 80) return 4;
  return compute_max_levels(n, filter_length);
}

}  // namespace corvane
