// The 4-tap filter bank for processors with SSE4.2.
#pragma once

#include "sse/wavelet_taps.h"

namespace tessary::sse {

using SseWavelet4TapsF32 = SseFixedTapsBank<4>;

}  // namespace tessary::sse
