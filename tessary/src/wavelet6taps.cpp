#include "wavelet6taps.h"

namespace tessary {

template class FixedTapsBank<6>;

}  // namespace tessary
