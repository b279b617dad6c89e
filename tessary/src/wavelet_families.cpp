#include "wavelet_families.h"

#include <algorithm>
#include <array>
#include <bit>
#include <memory>
#include <new>

#include "completed.h"
#include "dwt_factory.h"
#include "factory.h"
#include "tessary.h"
#include "wavelet_tables.h"

namespace tessary {
namespace {

constexpr std::size_t kLongestTable = 48;

template <std::size_t L>
std::array<float, L> first_taps(const float* values) {
  std::array<float, L> taps{};
  std::copy(values, values + L, taps.begin());
  return taps;
}

// A bank that could not be built (out of memory) gives an empty handle, and so
// does a wrapper that cannot be allocated.
DwtExecutorHandle<float> complete(IncompleteDwtExecutorHandle<float> bank) {
  if (!bank) return nullptr;
  try {
    return std::make_shared<const CompletedDwtExecutor>(std::move(bank));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

void low_pass_to_high_into(std::span<const float> low_pass, std::span<float> high_pass) {
  const std::size_t length = low_pass.size();
  for (std::size_t k = 0; k < length; ++k) {
    const auto bits = std::bit_cast<std::uint32_t>(low_pass[length - 1 - k]);
    const std::uint32_t sign = (k % 2 == 1) ? 0x80000000u : 0u;
    high_pass[k] = std::bit_cast<float>(bits ^ sign);
  }
}

TResult<std::vector<float>> low_pass_to_high(std::span<const float> low_pass) {
  auto high = allocate_zeroed<float>(low_pass.size());
  if (!high) return high;
  low_pass_to_high_into(low_pass, high.value());
  return high;
}

IncompleteDwtExecutorHandle<float> make_filter_bank(const DwtFactory& factory,
                                                    std::span<const double> table,
                                                    BorderMode mode) {
  // Rounded to the nearest float; the tables are at most 48 long, so the
  // floats live on the stack.
  std::array<float, kLongestTable> values{};
  const std::size_t length = std::min(table.size(), kLongestTable);
  for (std::size_t k = 0; k < length; ++k) values[k] = static_cast<float>(table[k]);
  const float* v = values.data();
  switch (length) {
    case 2: return factory.wavelet_2_taps(mode, first_taps<2>(v));
    case 4: return factory.wavelet_4_taps(mode, first_taps<4>(v));
    case 6: return factory.wavelet_6_taps(mode, first_taps<6>(v));
    case 8: return factory.wavelet_8_taps(mode, first_taps<8>(v));
    case 10: return factory.wavelet_10_taps(mode, first_taps<10>(v));
    case 12: return factory.wavelet_12_taps(mode, first_taps<12>(v));
    case 16: return factory.wavelet_16_taps(mode, first_taps<16>(v));
    default: break;
  }
  // Every table has an even, non-zero length, which the generic bank accepts.
  auto bank = factory.wavelet_n_taps(mode, std::span<const float>(v, length));
  return bank ? std::move(bank).value() : nullptr;
}

DwtExecutorHandle<float> make_daubechies_f32_for(CpuFeatures features, DaubechiesFamily family,
                                                 BorderMode mode) {
  const DwtFactory& factory = make_dwt_factory(choose_filter_bank_path(features));
  return complete(make_filter_bank(factory, daubechies_table(family), mode));
}

DwtExecutorHandle<float> make_symlet_f32_for(CpuFeatures features, SymletFamily family,
                                             BorderMode mode) {
  const DwtFactory& factory = make_dwt_factory(choose_filter_bank_path(features));
  return complete(make_filter_bank(factory, symlet_table(family), mode));
}

DwtExecutorHandle<float> Tessary::make_daubechies_f32(DaubechiesFamily family, BorderMode mode) {
  return make_daubechies_f32_for(cpu_features(), family, mode);
}

DwtExecutorHandle<float> Tessary::make_symlet_f32(SymletFamily family, BorderMode mode) {
  return make_symlet_f32_for(cpu_features(), family, mode);
}

}  // namespace tessary
