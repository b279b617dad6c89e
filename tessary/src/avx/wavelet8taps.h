// The 8-tap filter bank for processors with AVX2 and FMA.
#pragma once

#include "avx/wavelet_taps.h"

namespace tessary::avx {

using AvxWavelet8TapsF32 = AvxFixedTapsBank<8>;

}  // namespace tessary::avx
