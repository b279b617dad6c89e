// The 10-tap filter bank for processors with SSE4.2.
#pragma once

#include "sse/wavelet_taps.h"

namespace tessary::sse {

using SseWavelet10TapsF32 = SseFixedTapsBank<10>;

}  // namespace tessary::sse
