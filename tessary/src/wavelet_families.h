// The orthogonal wavelet families the engine knows by name.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "border_mode.h"
#include "dwt_executor.h"
#include "factory.h"

namespace tessary {

// Variant k has k + 1 vanishing moments and 2(k + 1) taps.
enum class DaubechiesFamily : std::uint8_t {
  Db1, Db2, Db3, Db4, Db5, Db6, Db7, Db8, Db9, Db10, Db11, Db12,
  Db13, Db14, Db15, Db16, Db17, Db18, Db19, Db20, Db21, Db22, Db23, Db24,
};

// Variant t has t + 2 vanishing moments and 2t + 4 taps.
enum class SymletFamily : std::uint8_t {
  Sym2, Sym3, Sym4, Sym5, Sym6, Sym7, Sym8, Sym9, Sym10, Sym11,
  Sym12, Sym13, Sym14, Sym15, Sym16, Sym17, Sym18, Sym19, Sym20,
};

// The quadrature-mirror high-pass filter of a low-pass filter h of length L:
// g[k] = (-1)^k h[L-1-k]. The sign change flips the sign bit, so a zero at an
// odd position becomes -0.
TResult<std::vector<float>> low_pass_to_high(std::span<const float> low_pass);
// The same into `high_pass`, which has the length of `low_pass`.
void low_pass_to_high_into(std::span<const float> low_pass, std::span<float> high_pass);

class DwtFactory;

// The bank for a scaling-filter table (rounded to single precision): the
// fixed-length member for 2, 4, 6, 8, 10, 12 and 16 taps, the generic one for
// other even lengths.
IncompleteDwtExecutorHandle<float> make_filter_bank(const DwtFactory& factory,
                                                    std::span<const double> table,
                                                    BorderMode mode);

// A completed family member with the filter-bank path that the feature word
// selects; the facade passes the cached word, tests may pass made-up ones.
DwtExecutorHandle<float> make_daubechies_f32_for(DaubechiesFamily family, BorderMode mode,
                                                 CpuFeatures features);
DwtExecutorHandle<float> make_symlet_f32_for(SymletFamily family, BorderMode mode,
                                             CpuFeatures features);

}  // namespace tessary
