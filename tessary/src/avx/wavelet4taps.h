// The 4-tap filter bank for processors with AVX2 and FMA.
#pragma once

#include "avx/wavelet_taps.h"

namespace tessary::avx {

using AvxWavelet4TapsF32 = AvxFixedTapsBank<4>;

}  // namespace tessary::avx
