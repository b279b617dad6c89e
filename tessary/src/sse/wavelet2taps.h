// The 2-tap filter bank for processors with SSE4.2.
#pragma once

#include "sse/wavelet_taps.h"

namespace tessary::sse {

using SseWavelet2TapsF32 = SseFixedTapsBank<2>;

}  // namespace tessary::sse
