// The lifting executors that Tessary::make_cdf53_f32 and make_cdf97_f32 hand
// out, chosen from a given feature word (the facade passes the cached one),
// so that the choice can be checked with made-up words.
#pragma once

#include "dwt_executor.h"
#include "factory.h"

namespace tessary {

// AvxCdf53 when the word has AVX2 and FMA, Cdf53 otherwise.
DwtExecutorHandle<float> make_cdf53_f32_for(CpuFeatures features);
// AvxCdf97 when the word has AVX2 and FMA, Cdf97 otherwise.
DwtExecutorHandle<float> make_cdf97_f32_for(CpuFeatures features);

}  // namespace tessary
