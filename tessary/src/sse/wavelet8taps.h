// The 8-tap filter bank for processors with SSE4.2.
#pragma once

#include "sse/wavelet_taps.h"

namespace tessary::sse {

using SseWavelet8TapsF32 = SseFixedTapsBank<8>;

}  // namespace tessary::sse
