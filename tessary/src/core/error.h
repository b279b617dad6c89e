// The engine's single error type: a kind and up to two unsigned payloads,
// rendered to one fixed English sentence per kind, and the engine's result
// alias.
#pragma once

#include <cstdint>
#include <string>

#include "core/result.h"

namespace tessary {

// The numbers are fixed: a kind keeps its number when others are removed.
enum class TessaryErrorKind : std::uint8_t {
  AllocationFailed = 0,             // bytes requested
  ApproxDetailsNotHalfLength = 1,   // length found
  ApproxDetailsSizeMismatch = 2,    // approximation length, details length
  OutputSizeMismatch = 5,           // expected length, given length
  InputTooShort = 6,                // given length, minimum length
  ZeroOrOddWavelet = 8,             //
  BufferTooSmallForLevel = 10,      //
  ApproximationSizeMismatch = 11,   // given length, required length
  DetailsSizeMismatch = 12,         // given length, required length
  ZeroSizedInput = 13,              //
  ScratchSizeMismatch = 15,         // expected length, given length
};

struct TessaryError {
  TessaryErrorKind kind;
  std::uint64_t first = 0;   // first payload, in the order of the message
  std::uint64_t second = 0;  // second payload, where the kind has one

  friend bool operator==(const TessaryError&, const TessaryError&) = default;
};

inline TessaryError make_error(TessaryErrorKind kind, std::uint64_t first = 0,
                               std::uint64_t second = 0) {
  return TessaryError{kind, first, second};
}

// The fixed sentence of the error with its payloads in decimal.
std::string render(const TessaryError& error);

// A value of type T, or success for T = void, or a TessaryError.
template <class T = void>
using TResult = Result<T, TessaryError>;

}  // namespace tessary
