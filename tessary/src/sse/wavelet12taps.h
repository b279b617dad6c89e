// The 12-tap filter bank for processors with SSE4.2.
#pragma once

#include "sse/wavelet_taps.h"

namespace tessary::sse {

using SseWavelet12TapsF32 = SseFixedTapsBank<12>;

}  // namespace tessary::sse
