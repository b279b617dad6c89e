#include "dwt_factory.h"

#include <memory>
#include <new>

#include "avx/wavelet10taps.h"
#include "avx/wavelet12taps.h"
#include "avx/wavelet16taps.h"
#include "avx/wavelet2taps.h"
#include "avx/wavelet4taps.h"
#include "avx/wavelet6taps.h"
#include "avx/wavelet8taps.h"
#include "avx/wavelet_n_taps.h"
#include "sse/wavelet10taps.h"
#include "sse/wavelet12taps.h"
#include "sse/wavelet2taps.h"
#include "sse/wavelet4taps.h"
#include "sse/wavelet6taps.h"
#include "sse/wavelet8taps.h"
#include "sse/wavelet_n_taps.h"
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

// A fixed-length bank, or an empty handle when it cannot be allocated (the
// factories report no errors, and no exception may leave the engine).
template <template <std::size_t> class Bank, std::size_t L>
IncompleteDwtExecutorHandle<float> fixed_bank(BorderMode mode, const std::array<float, L>& h) {
  try {
    return std::make_shared<const Bank<L>>(mode, h);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// A generic bank, or an empty handle when its coefficients cannot be copied.
template <class Bank>
IncompleteDwtExecutorHandle<float> generic_or_empty(BorderMode mode, std::span<const float> h) {
  auto bank = make_n_taps_bank<Bank>(mode, h);
  return bank ? std::move(bank).value() : nullptr;
}

template <class Bank>
TResult<IncompleteDwtExecutorHandle<float>> generic_bank(BorderMode mode,
                                                         std::span<const float> h) {
  auto bank = make_n_taps_bank<Bank>(mode, h);
  if (!bank) return fail(std::move(bank).error());
  return IncompleteDwtExecutorHandle<float>(std::move(bank).value());
}

// The banks of one processor path: the fixed-length members Fixed<L> and the
// generic member Generic, which also serves sixteen taps on a path without a
// sixteen-tap kernel (kSixteenFixed false).
template <template <std::size_t> class Fixed, class Generic, bool kSixteenFixed>
class PathDwtFactory final : public DwtFactory {
 public:
  IncompleteDwtExecutorHandle<float> wavelet_2_taps(
      BorderMode mode, const std::array<float, 2>& h) const override {
    return fixed_bank<Fixed>(mode, h);
  }
  IncompleteDwtExecutorHandle<float> wavelet_4_taps(
      BorderMode mode, const std::array<float, 4>& h) const override {
    return fixed_bank<Fixed>(mode, h);
  }
  IncompleteDwtExecutorHandle<float> wavelet_6_taps(
      BorderMode mode, const std::array<float, 6>& h) const override {
    return fixed_bank<Fixed>(mode, h);
  }
  IncompleteDwtExecutorHandle<float> wavelet_8_taps(
      BorderMode mode, const std::array<float, 8>& h) const override {
    return fixed_bank<Fixed>(mode, h);
  }
  IncompleteDwtExecutorHandle<float> wavelet_10_taps(
      BorderMode mode, const std::array<float, 10>& h) const override {
    return fixed_bank<Fixed>(mode, h);
  }
  IncompleteDwtExecutorHandle<float> wavelet_12_taps(
      BorderMode mode, const std::array<float, 12>& h) const override {
    return fixed_bank<Fixed>(mode, h);
  }
  IncompleteDwtExecutorHandle<float> wavelet_16_taps(
      BorderMode mode, const std::array<float, 16>& h) const override {
    if constexpr (kSixteenFixed) {
      return fixed_bank<Fixed>(mode, h);
    } else {
      return generic_or_empty<Generic>(mode, h);
    }
  }
  TResult<IncompleteDwtExecutorHandle<float>> wavelet_n_taps(
      BorderMode mode, std::span<const float> h) const override {
    return generic_bank<Generic>(mode, h);
  }
};

using PortableDwtFactory = PathDwtFactory<FixedTapsBank, WaveletNTaps, true>;
using AvxDwtFactory = PathDwtFactory<avx::AvxFixedTapsBank, avx::AvxWaveletNTapsF32, true>;
// SSE has no sixteen-tap kernel of its own: the generic SSE kernel serves,
// with its scratch rule.
using SseDwtFactory = PathDwtFactory<sse::SseFixedTapsBank, sse::SseWaveletNTapsF32, false>;

}  // namespace

const DwtFactory& make_dwt_factory(KernelPath path) {
  static const PortableDwtFactory portable;
  static const SseDwtFactory sse_banks;
  static const AvxDwtFactory avx_banks;
  switch (path) {
    case KernelPath::Avx:
      return avx_banks;
    case KernelPath::Sse:
      return sse_banks;
    case KernelPath::Portable:
      break;
  }
  return portable;
}

}  // namespace tessary
