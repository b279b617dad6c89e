// The 6-tap filter bank: coefficients inline, border samples inline, no scratch.
#pragma once

#include "wavelet_taps.h"

namespace tessary {

extern template class FixedTapsBank<6>;
using Wavelet6Taps = FixedTapsBank<6>;

}  // namespace tessary
