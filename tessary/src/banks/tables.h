// The published scaling filters of the Daubechies and Symlet families in
// double precision: h[0..L) with sum sqrt(2) and sum of squares 1, h[0]
// first. The definitions are generated (scripts/gen_wavelet_tables.py).
#pragma once

#include <span>

#include "banks/families.h"

namespace tessary {

// 2(k + 1) values for variant k.
std::span<const double> scaling_filter(DaubechiesFamily member);
// 2t + 4 values for variant t.
std::span<const double> scaling_filter(SymletFamily member);

}  // namespace tessary
