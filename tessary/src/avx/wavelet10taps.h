// The 10-tap filter bank for processors with AVX2 and FMA.
#pragma once

#include "avx/wavelet_taps.h"

namespace tessary::avx {

using AvxWavelet10TapsF32 = AvxFixedTapsBank<10>;

}  // namespace tessary::avx
