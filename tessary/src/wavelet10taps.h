// The 10-tap filter bank: coefficients inline, border samples inline, no scratch.
#pragma once

#include "wavelet_taps.h"

namespace tessary {

extern template class FixedTapsBank<10>;
using Wavelet10Taps = FixedTapsBank<10>;

}  // namespace tessary
