// The 6-tap filter bank for processors with AVX2 and FMA.
#pragma once

#include "avx/wavelet_taps.h"

namespace tessary::avx {

using AvxWavelet6TapsF32 = AvxFixedTapsBank<6>;

}  // namespace tessary::avx
