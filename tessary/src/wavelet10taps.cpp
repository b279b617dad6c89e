#include "wavelet10taps.h"

namespace tessary {

template class FixedTapsBank<10>;

}  // namespace tessary
