// The engine's one way of making a throwing allocation: standard containers
// and shared objects report running out of memory with exceptions, which
// must not leave the engine. Every such allocation goes through
// `allocating`, the only place in the engine that catches; Buffer gets its
// memory without exceptions and needs none of this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/error.h"

namespace tessary {

// Bytes of `count` elements of T, saturated at the largest 64-bit value (a
// request that large fails anyway).
template <class T>
constexpr std::uint64_t bytes_of(std::uint64_t count) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  return count > kMax / sizeof(T) ? kMax : count * sizeof(T);
}

// The result of `allocate()`, or AllocationFailed carrying `bytes` when it
// throws std::bad_alloc (out of memory) or std::length_error (more than a
// container can hold); it may throw nothing else. `bytes` is read only after
// a failure, so `allocate` may fill it in with what it asked for.
template <class Allocate, class R = std::invoke_result_t<Allocate&>>
TResult<R> allocating(const std::uint64_t& bytes, Allocate&& allocate) noexcept {
  try {
    if constexpr (std::is_void_v<R>) {
      allocate();
      return {};
    } else {
      return allocate();
    }
  } catch (const std::bad_alloc&) {
    return make_error(TessaryErrorKind::AllocationFailed, bytes);
  } catch (const std::length_error&) {
    return make_error(TessaryErrorKind::AllocationFailed, bytes);
  }
}

// Grows or shrinks `v` to `count` value-initialised elements; a failure
// reports the bytes of `count` elements and leaves `v` as it was.
template <class T>
TResult<> try_resize(std::vector<T>& v, std::uint64_t count) {
  return allocating(bytes_of<T>(count), [&] { v.resize(static_cast<std::size_t>(count)); });
}

// Room for `count` elements in `v` without moving them again.
template <class T>
TResult<> try_reserve(std::vector<T>& v, std::uint64_t count) {
  return allocating(bytes_of<T>(count), [&] { v.reserve(static_cast<std::size_t>(count)); });
}

// A new vector of `count` value-initialised (zero) elements.
template <class T>
TResult<std::vector<T>> allocate_zeroed(std::uint64_t count) {
  std::vector<T> v;
  if (auto s = try_resize(v, count); !s) return fail(std::move(s).error());
  return v;
}

// std::allocator that notes the bytes of its last request in *asked, so that
// a failed std::allocate_shared can report the size of the one block it
// wanted (the object with its reference counts). The copy a shared object's
// control block keeps, for releasing the block, never reads `asked`.
template <class T>
class NotingAllocator {
 public:
  using value_type = T;

  explicit NotingAllocator(std::uint64_t* asked) noexcept : asked_(asked) {}
  template <class U>
  NotingAllocator(const NotingAllocator<U>& other) noexcept : asked_(other.asked_) {}  // NOLINT

  T* allocate(std::size_t count) {
    *asked_ = bytes_of<T>(count);
    return std::allocator<T>().allocate(count);
  }
  void deallocate(T* p, std::size_t count) noexcept { std::allocator<T>().deallocate(p, count); }

  friend bool operator==(const NotingAllocator&, const NotingAllocator&) noexcept { return true; }

 private:
  template <class>
  friend class NotingAllocator;
  std::uint64_t* asked_;
};

// A new shared immutable T built from `args`; T's constructor must not
// allocate (the failure would report the wrong size).
template <class T, class... Args>
TResult<std::shared_ptr<const T>> try_make_shared(Args&&... args) {
  std::uint64_t asked = sizeof(T);
  return allocating(asked, [&] {
    return std::shared_ptr<const T>(
        std::allocate_shared<T>(NotingAllocator<T>(&asked), std::forward<Args>(args)...));
  });
}

}  // namespace tessary
