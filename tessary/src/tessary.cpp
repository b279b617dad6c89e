#include "tessary.h"

#include "factory.h"
#include "lifting_factory.h"

namespace tessary {

DwtExecutorHandle<float> Tessary::make_cdf53_f32() { return make_cdf53_f32_for(cpu_features()); }

DwtExecutorHandle<float> Tessary::make_cdf97_f32() { return make_cdf97_f32_for(cpu_features()); }

}  // namespace tessary
