// The 16-tap filter bank: coefficients inline, border samples inline, no scratch.
#pragma once

#include "wavelet_taps.h"

namespace tessary {

extern template class FixedTapsBank<16>;
using Wavelet16Taps = FixedTapsBank<16>;

}  // namespace tessary
