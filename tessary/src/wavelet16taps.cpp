#include "wavelet16taps.h"

namespace tessary {

template class FixedTapsBank<16>;

}  // namespace tessary
