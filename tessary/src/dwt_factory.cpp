#include "dwt_factory.h"

#include <memory>

#include "wavelet10taps.h"
#include "wavelet12taps.h"
#include "wavelet16taps.h"
#include "wavelet2taps.h"
#include "wavelet4taps.h"
#include "wavelet6taps.h"
#include "wavelet8taps.h"
#include "wavelet_families.h"
#include "wavelet_n_taps.h"

namespace tessary {
namespace {

template <std::size_t L>
IncompleteDwtExecutorHandle<float> fixed_bank(BorderMode mode, const std::array<float, L>& h) {
  std::array<float, L> g{};
  low_pass_to_high_into(h, g);
  return std::make_shared<const FixedTapsBank<L>>(mode, h, g);
}

class PortableDwtFactory final : public DwtFactory {
 public:
  IncompleteDwtExecutorHandle<float> wavelet_2_taps(
      BorderMode mode, const std::array<float, 2>& h) const override {
    return fixed_bank(mode, h);
  }
  IncompleteDwtExecutorHandle<float> wavelet_4_taps(
      BorderMode mode, const std::array<float, 4>& h) const override {
    return fixed_bank(mode, h);
  }
  IncompleteDwtExecutorHandle<float> wavelet_6_taps(
      BorderMode mode, const std::array<float, 6>& h) const override {
    return fixed_bank(mode, h);
  }
  IncompleteDwtExecutorHandle<float> wavelet_8_taps(
      BorderMode mode, const std::array<float, 8>& h) const override {
    return fixed_bank(mode, h);
  }
  IncompleteDwtExecutorHandle<float> wavelet_10_taps(
      BorderMode mode, const std::array<float, 10>& h) const override {
    return fixed_bank(mode, h);
  }
  IncompleteDwtExecutorHandle<float> wavelet_12_taps(
      BorderMode mode, const std::array<float, 12>& h) const override {
    return fixed_bank(mode, h);
  }
  IncompleteDwtExecutorHandle<float> wavelet_16_taps(
      BorderMode mode, const std::array<float, 16>& h) const override {
    return fixed_bank(mode, h);
  }
  TResult<IncompleteDwtExecutorHandle<float>> wavelet_n_taps(
      BorderMode mode, std::span<const float> h) const override {
    auto bank = WaveletNTaps::create(mode, h);
    if (!bank) return fail(std::move(bank).error());
    return IncompleteDwtExecutorHandle<float>(std::move(bank).value());
  }
};

}  // namespace

const DwtFactory& make_dwt_factory(KernelPath path) {
  static const PortableDwtFactory portable;
  switch (path) {
    // The AVX (AVX2 + FMA) and SSE (SSE4.2) kernel factories take these two
    // paths once they exist; until then both build the portable banks.
    case KernelPath::Avx:
    case KernelPath::Sse:
    case KernelPath::Portable:
      break;
  }
  return portable;
}

}  // namespace tessary
