// The 12-tap filter bank: coefficients inline, border samples inline, no scratch.
#pragma once

#include "wavelet_taps.h"

namespace tessary {

extern template class FixedTapsBank<12>;
using Wavelet12Taps = FixedTapsBank<12>;

}  // namespace tessary
