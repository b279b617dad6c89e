// The 4-tap filter bank: coefficients inline, border samples inline, no scratch.
#pragma once

#include "wavelet_taps.h"

namespace tessary {

extern template class FixedTapsBank<4>;
using Wavelet4Taps = FixedTapsBank<4>;

}  // namespace tessary
