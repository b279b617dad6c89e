#include "wavelet4taps.h"

namespace tessary {

template class FixedTapsBank<4>;

}  // namespace tessary
