// The 6-tap filter bank for processors with SSE4.2.
#pragma once

#include "sse/wavelet_taps.h"

namespace tessary::sse {

using SseWavelet6TapsF32 = SseFixedTapsBank<6>;

}  // namespace tessary::sse
