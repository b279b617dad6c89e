// The published scaling filters of the Daubechies and Symlet families in
// double precision: h[0..L) with sum sqrt(2) and sum of squares 1, h[0] first.
#pragma once

#include <span>

#include "wavelet_families.h"

namespace tessary {

// 2(k + 1) values for variant k.
std::span<const double> daubechies_table(DaubechiesFamily family);
// 2t + 4 values for variant t.
std::span<const double> symlet_table(SymletFamily family);

}  // namespace tessary
