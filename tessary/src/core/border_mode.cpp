#include "core/border_mode.h"

namespace tessary {

std::int64_t border_source_index(BorderMode mode, std::int64_t s, std::int64_t n,
                                 const DividerI64& period) {
  if (s >= 0 && s < n) return s;
  switch (mode) {
    case BorderMode::Clamp:
      return s < 0 ? 0 : n - 1;
    case BorderMode::Wrap:
      return period.modulo(s);
    case BorderMode::Reflect:
      //   c b a | a b c d | d c b
      return s < 0 ? period.modulo(-s - 1) : n - 1 - period.modulo(s);
    case BorderMode::Reflect101:
      //   d c b | a b c d | c b a
      if (n == 1) return 0;
      return s < 0 ? 1 + period.modulo(-s - 1) : n - 2 - period.modulo(s - n);
    case BorderMode::Zeros:
      break;
  }
  return -1;
}

BorderInterpolation BorderInterpolation::create(BorderMode mode, std::uint64_t start,
                                                std::int64_t length) {
  std::int64_t divisor = 1;
  if (mode == BorderMode::Wrap || mode == BorderMode::Reflect) {
    divisor = length;
  } else if (mode == BorderMode::Reflect101 && length >= 2) {
    divisor = length - 1;
  }
  if (divisor < 1) divisor = 1;  // an empty signal has no border samples to find
  return BorderInterpolation{DividerI64::create(divisor), start, length, mode};
}

}  // namespace tessary
