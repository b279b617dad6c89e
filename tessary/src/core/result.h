// A value or an error, the engine's (and the codec's) way of reporting
// failure without exceptions.
#pragma once

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace tessary {

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
  // From the result of a value convertible to T (a derived class's handle
  // to a base class's).
  template <class U>
    requires(!std::is_same_v<U, T> && std::is_convertible_v<U, T>)
  Result(Result<U, E>&& other)  // NOLINT
      : v_(other.ok() ? std::variant<T, E>(std::in_place_index<0>, std::move(other).value())
                      : std::variant<T, E>(std::in_place_index<1>, std::move(other).error())) {}

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
