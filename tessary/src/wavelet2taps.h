// The 2-tap filter bank: coefficients inline, border samples inline, no scratch.
#pragma once

#include "wavelet_taps.h"

namespace tessary {

extern template class FixedTapsBank<2>;
using Wavelet2Taps = FixedTapsBank<2>;

}  // namespace tessary
