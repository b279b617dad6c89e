// The orthogonal wavelet families the engine knows by name, and the
// quadrature-mirror rule that turns a family's scaling filter into the
// high-pass filter of its bank.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/error.h"

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

}  // namespace tessary
