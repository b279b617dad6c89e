#include "wavelet8taps.h"

namespace tessary {

template class FixedTapsBank<8>;

}  // namespace tessary
