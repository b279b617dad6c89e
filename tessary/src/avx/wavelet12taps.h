// The 12-tap filter bank for processors with AVX2 and FMA.
#pragma once

#include "avx/wavelet_taps.h"

namespace tessary::avx {

using AvxWavelet12TapsF32 = AvxFixedTapsBank<12>;

}  // namespace tessary::avx
