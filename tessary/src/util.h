// Small vocabulary shared by the engine and the codec: a result type that
// carries a value or an error, the allocation helper, and the target macros
// that enable an instruction set for one function at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace tessary {

// Per-function instruction-set switches for kernel bodies. Files are never
// compiled with -mavx2/-msse4.x: a file-wide flag would also recompile every
// inline function and template it includes, and the linker could keep that
// wide copy for the portable path.
#define TESSARY_TARGET_AVX2_FMA __attribute__((target("avx2,fma")))
#define TESSARY_TARGET_AVX2 __attribute__((target("avx2")))
#define TESSARY_TARGET_SSE42 __attribute__((target("sse4.2")))
#define TESSARY_TARGET_SSE41 __attribute__((target("sse4.1")))

// Wraps an error so that a Result can be built from it unambiguously.
template <class E>
struct Failure {
  E error;
};

template <class E>
Failure<std::decay_t<E>> fail(E&& error) {
  return Failure<std::decay_t<E>>{std::forward<E>(error)};
}

// A value of type T or an error of type E. Callers test ok() and return
// early; reading the wrong alternative is a programming error.
template <class T, class E>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT
  Result(E error) requires(!std::is_same_v<T, E>)                    // NOLINT
      : v_(std::in_place_index<1>, std::move(error)) {}
  Result(Failure<E> failure) : v_(std::in_place_index<1>, std::move(failure.error)) {}  // NOLINT

  bool ok() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }

  T& value() & { return *std::get_if<0>(&v_); }
  const T& value() const& { return *std::get_if<0>(&v_); }
  T&& value() && { return std::move(*std::get_if<0>(&v_)); }
  const E& error() const& { return *std::get_if<1>(&v_); }
  E&& error() && { return std::move(*std::get_if<1>(&v_)); }

 private:
  std::variant<T, E> v_;
};

// The void form: success, or an error.
template <class E>
class [[nodiscard]] Result<void, E> {
 public:
  Result() = default;
  Result(E error) : e_(std::move(error)) {}                  // NOLINT
  Result(Failure<E> failure) : e_(std::move(failure.error)) {}  // NOLINT

  bool ok() const noexcept { return !e_.has_value(); }
  explicit operator bool() const noexcept { return ok(); }
  const E& error() const& { return *e_; }
  E&& error() && { return std::move(*e_); }

 private:
  std::optional<E> e_;
};

}  // namespace tessary
