// The 2-tap filter bank for processors with AVX2 and FMA.
#pragma once

#include "avx/wavelet_taps.h"

namespace tessary::avx {

using AvxWavelet2TapsF32 = AvxFixedTapsBank<2>;

}  // namespace tessary::avx
