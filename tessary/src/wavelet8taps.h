// The 8-tap filter bank: coefficients inline, border samples inline, no scratch.
#pragma once

#include "wavelet_taps.h"

namespace tessary {

extern template class FixedTapsBank<8>;
using Wavelet8Taps = FixedTapsBank<8>;

}  // namespace tessary
