// The 16-tap filter bank for processors with AVX2 and FMA.
#pragma once

#include "avx/wavelet_taps.h"

namespace tessary::avx {

using AvxWavelet16TapsF32 = AvxFixedTapsBank<16>;

}  // namespace tessary::avx
