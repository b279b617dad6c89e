// The orthogonal wavelet families the engine knows by name.
#pragma once

#include <cstdint>

namespace tessary {

// Variant k has k + 1 vanishing moments and 2(k + 1) taps.
enum class DaubechiesFamily : std::uint8_t {
  Db1, Db2, Db3, Db4, Db5, Db6, Db7, Db8, Db9, Db10, Db11, Db12,
  Db13, Db14, Db15, Db16, Db17, Db18, Db19, Db20, Db21, Db22, Db23, Db24,
};

// Variant t has t + 2 vanishing moments and 2t + 4 taps.
enum class SymletFamily : std::uint8_t {
  Sym2, Sym3, Sym4, Sym5, Sym6, Sym7, Sym8, Sym9, Sym10, Sym11,
  Sym12, Sym13, Sym14, Sym15, Sym16, Sym17, Sym18, Sym19, Sym20,
};

}  // namespace tessary
