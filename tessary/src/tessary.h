// The engine's facade: every executor the engine hands out, ready for
// multi-level use, with the processor-specific implementation chosen from a
// feature word (this processor's cached one, or one the caller gives).
#pragma once

#include "banks/families.h"
#include "core/border_mode.h"
#include "core/error.h"
#include "cpu/cpu_features.h"
#include "executor.h"

namespace tessary {

struct Tessary {
  // For this processor; an empty handle when memory runs out.
  static DwtExecutorHandle<float> make_cdf53_f32();
  static DwtExecutorHandle<float> make_cdf97_f32();
  static DwtExecutorHandle<float> make_daubechies_f32(DaubechiesFamily family, BorderMode mode);
  static DwtExecutorHandle<float> make_symlet_f32(SymletFamily family, BorderMode mode);

  // For the path that `features` selects (by choose_lifting_path, resp.
  // choose_filter_bank_path), or AllocationFailed with the bytes that could
  // not be had. Any word may be given: building an executor runs none of its
  // instructions, running it needs what its path asks of the processor.
  static TResult<DwtExecutorHandle<float>> make_cdf53_f32(CpuFeatures features);
  static TResult<DwtExecutorHandle<float>> make_cdf97_f32(CpuFeatures features);
  static TResult<DwtExecutorHandle<float>> make_daubechies_f32(CpuFeatures features,
                                                               DaubechiesFamily family,
                                                               BorderMode mode);
  static TResult<DwtExecutorHandle<float>> make_symlet_f32(CpuFeatures features,
                                                           SymletFamily family, BorderMode mode);
};

}  // namespace tessary
