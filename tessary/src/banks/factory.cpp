#include "banks/factory.h"

#include <vector>

#include "banks/fixed_taps.h"
#include "core/memory.h"
#if TESSARY_HAVE_X86_KERNELS
#include "avx/fixed_taps.h"
#include "sse/fixed_taps.h"
#endif

namespace tessary {

TResult<IncompleteDwtExecutorHandle<float>> make_filter_bank_f32(
    KernelPath path, BorderMode mode, std::span<const float> low_pass) {
  switch (path) {
#if TESSARY_HAVE_X86_KERNELS
    case KernelPath::Avx:
      return avx::make_bank_f32(mode, low_pass);
    case KernelPath::Sse:
      return sse::make_bank_f32(mode, low_pass);
#else
    // Not built for this processor (no word supports them): portable banks.
    case KernelPath::Avx:
    case KernelPath::Sse:
#endif
    case KernelPath::Portable:
      break;
  }
  return make_bank_f32(mode, low_pass);
}

TResult<IncompleteDwtExecutorHandle<float>> make_filter_bank_f32(
    KernelPath path, BorderMode mode, std::span<const double> table) {
  auto rounded = allocate_zeroed<float>(table.size());
  if (!rounded) return fail(std::move(rounded).error());
  std::vector<float>& floats = rounded.value();
  for (std::size_t k = 0; k < table.size(); ++k) floats[k] = static_cast<float>(table[k]);
  return make_filter_bank_f32(path, mode, std::span<const float>(floats));
}

}  // namespace tessary
