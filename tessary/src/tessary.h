// The engine's facade: ready executors, with the processor-specific
// implementation chosen from the cached feature word on every call.
#pragma once

#include "border_mode.h"
#include "dwt_executor.h"
#include "wavelet_families.h"

namespace tessary {

struct Tessary {
  static DwtExecutorHandle<float> make_cdf53_f32();
  static DwtExecutorHandle<float> make_cdf97_f32();
  static DwtExecutorHandle<float> make_daubechies_f32(DaubechiesFamily family, BorderMode mode);
  static DwtExecutorHandle<float> make_symlet_f32(SymletFamily family, BorderMode mode);
};

}  // namespace tessary
