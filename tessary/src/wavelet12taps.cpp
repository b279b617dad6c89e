#include "wavelet12taps.h"

namespace tessary {

template class FixedTapsBank<12>;

}  // namespace tessary
