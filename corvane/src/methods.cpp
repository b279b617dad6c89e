#include "methods.h"

#include <algorithm>
#include <bit>

#include "lifting_factory.h"
#include "wavelet_families.h"

namespace corvane {

tessary::DwtExecutorHandle<float> make_executor(CompressionMethod method,
                                                tessary::CpuFeatures features) {
  switch (method) {
    case CompressionMethod::Cdf53:
      return tessary::make_cdf53_f32_for(features);
    case CompressionMethod::Cdf97:
      return tessary::make_cdf97_f32_for(features);
    case CompressionMethod::Db4:
      return tessary::make_daubechies_f32_for(features, tessary::DaubechiesFamily::Db4,
                                              tessary::BorderMode::Wrap);
    case CompressionMethod::Sym4:
      return tessary::make_symlet_f32_for(features, tessary::SymletFamily::Sym4,
                                          tessary::BorderMode::Wrap);
  }
  return tessary::make_cdf97_f32_for(features);
}

TransformPath::TransformPath() : features(tessary::cpu_features()), maker(&make_executor) {}

CResult<tessary::DwtExecutorHandle<float>> executor_for(CompressionMethod method,
                                                        const TransformPath& path) {
  auto executor = path.maker(method, path.features);
  // The makers hand back an empty handle when memory runs out, without the
  // bytes they asked for; until they report them, 1 stands for "some".
  constexpr std::uint64_t kUnreportedBytes = 1;
  if (!executor) return CorvaneError::out_of_memory(kUnreportedBytes);
  return executor;
}

std::uint64_t transformed_length(std::uint64_t sample_count, std::uint64_t filter_length) {
  return std::max(sample_count, filter_length);
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
