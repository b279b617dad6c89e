// The engine's single error type: a kind and up to two unsigned payloads,
// rendered to one fixed English sentence per kind.
#pragma once

#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "util.h"

namespace tessary {

enum class TessaryErrorKind : std::uint8_t {
  AllocationFailed = 0,             // bytes requested
  ApproxDetailsNotHalfLength = 1,   // length found
  ApproxDetailsSizeMismatch = 2,    // approximation length, details length
  InputNotDivisible = 3,            // divisor
  Overflow = 4,                     //
  OutputSizeMismatch = 5,           // expected length, given length
  InputTooShort = 6,                // given length, minimum length
  InputOutputSizeMismatch = 7,      // input length, output length
  ZeroOrOddWavelet = 8,             //
  FilterCenterTooLarge = 9,         // center, filter size
  BufferTooSmallForLevel = 10,      //
  ApproximationSizeMismatch = 11,   // given length, required length
  DetailsSizeMismatch = 12,         // given length, required length
  ZeroSizedInput = 13,              //
  InputSizeMismatch = 14,           // expected length, given length
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

using Status = Result<void, TessaryError>;
template <class T>
using TResult = Result<T, TessaryError>;

// The one place where the engine (and the codec, through it) turns a failed
// allocation into a value. Sizes past what a vector can hold fail the same
// way instead of throwing std::length_error.
template <class T>
Status try_resize(std::vector<T>& v, std::uint64_t count) {
  constexpr std::uint64_t kMaxBytes = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t bytes =
      count > kMaxBytes / sizeof(T) ? kMaxBytes : count * sizeof(T);
  try {
    v.resize(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    return make_error(TessaryErrorKind::AllocationFailed, bytes);
  } catch (const std::length_error&) {
    return make_error(TessaryErrorKind::AllocationFailed, bytes);
  }
  return {};
}

template <class T>
Status try_reserve(std::vector<T>& v, std::uint64_t count) {
  constexpr std::uint64_t kMaxBytes = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t bytes =
      count > kMaxBytes / sizeof(T) ? kMaxBytes : count * sizeof(T);
  try {
    v.reserve(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    return make_error(TessaryErrorKind::AllocationFailed, bytes);
  } catch (const std::length_error&) {
    return make_error(TessaryErrorKind::AllocationFailed, bytes);
  }
  return {};
}

// A new zero-filled (value-initialised) vector of `count` elements.
template <class T>
TResult<std::vector<T>> allocate_zeroed(std::uint64_t count) {
  std::vector<T> v;
  if (auto s = try_resize(v, count); !s) return fail(std::move(s).error());
  return v;
}

}  // namespace tessary
