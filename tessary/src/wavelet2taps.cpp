#include "wavelet2taps.h"

namespace tessary {

template class FixedTapsBank<2>;

}  // namespace tessary
