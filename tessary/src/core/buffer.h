// Owned arrays of samples, coefficients and bytes whose large instances are
// backed by transparent huge pages.
//
// A fresh 4 KiB page costs a fault on first touch, and a large band filled
// page by page can cost more in faults than the transform that writes it.
// Buffers of kLargeBufferBytes or more are
// therefore mapped on their own, 2 MiB-aligned and rounded up to 2 MiB, and
// marked for huge pages, so that one fault brings in 2 MiB. Where the system
// offers no huge pages (or refuses them) the mapping simply stays in small
// pages; smaller buffers come from the ordinary heap. A few released
// mappings (at most 32 MiB) are kept for reuse, so that a loop of calls does
// not have the kernel clear fresh pages every time, and more of them while a
// MappingReuseScope is open.
//
// A Buffer holds trivially copyable elements, knows whether its spare
// capacity is still the zeroes a fresh mapping comes with (so zeroing it is
// free), and never throws: allocation fails as AllocationFailed with the
// bytes asked for. It is a contiguous range, so it converts to std::span.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <type_traits>
#include <utility>

#include "core/error.h"

namespace tessary {

// Buffers of at least this many bytes get their own huge-page mapping.
inline constexpr std::uint64_t kLargeBufferBytes = std::uint64_t{1} << 20;
// The huge-page size the mappings are aligned and rounded to.
inline constexpr std::uint64_t kHugePageBytes = std::uint64_t{2} << 20;

// Raw storage behind a Buffer; `mapped_bytes` is 0 for heap blocks.
struct RawBlock {
  void* data = nullptr;
  std::uint64_t capacity_bytes = 0;
  std::uint64_t mapped_bytes = 0;
  bool zeroed = false;  // every byte of the block is known to be 0
};

// A block of at least `bytes` bytes (at least one byte is always asked for),
// zero-filled when `zeroed` is set; data is null when memory is exhausted.
RawBlock allocate_block(std::uint64_t bytes, bool zeroed) noexcept;
void release_block(const RawBlock& block) noexcept;

// While one of these is alive anywhere in the process, released mappings of
// any size are kept (up to kScopedCachedBytes in all, 32 of them) instead of
// only 32 MiB of them, so that the later buffers of one large operation reuse
// the pages of its earlier ones instead of having the kernel clear new ones.
// When the last one ends, the kept mappings are cut back to the usual
// 32 MiB, so nothing larger outlives the operations. Calls that
// overlap without pause on several threads keep up to kScopedCachedBytes
// of released memory between them.
class MappingReuseScope {
 public:
  MappingReuseScope() noexcept;
  ~MappingReuseScope();
  MappingReuseScope(const MappingReuseScope&) = delete;
  MappingReuseScope& operator=(const MappingReuseScope&) = delete;
};
inline constexpr std::uint64_t kScopedCachedBytes = std::uint64_t{1} << 30;

// Bytes of released mappings kept for reuse at this moment.
std::uint64_t cached_mapping_bytes() noexcept;

template <class T>
class Buffer {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_default_constructible_v<T>,
                "a Buffer copies and zeroes its elements as bytes");

 public:
  using value_type = T;
  using iterator = T*;
  using const_iterator = const T*;

  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  Buffer(Buffer&& other) noexcept
      : block_(std::exchange(other.block_, RawBlock{})),
        size_(std::exchange(other.size_, 0)),
        dirty_end_(std::exchange(other.dirty_end_, 0)) {}
  Buffer& operator=(Buffer&& other) noexcept {
    if (this != &other) {
      release_block(block_);
      block_ = std::exchange(other.block_, RawBlock{});
      size_ = std::exchange(other.size_, 0);
      dirty_end_ = std::exchange(other.dirty_end_, 0);
    }
    return *this;
  }
  ~Buffer() { release_block(block_); }

  // `count` zero elements, with room for at least `capacity` without moving.
  static TResult<Buffer> zeroed(std::uint64_t count, std::uint64_t capacity = 0) {
    return make(count, std::max(count, capacity), true);
  }
  // `count` elements the caller overwrites before reading them, with room
  // for at least `capacity` without moving.
  static TResult<Buffer> for_overwrite(std::uint64_t count, std::uint64_t capacity = 0) {
    return make(count, std::max(count, capacity), false);
  }

  // Keeps the first min(size, count) elements; new elements are 0. Shrinking
  // never moves the data; growing beyond the capacity moves it to a new block.
  TResult<> resize(std::uint64_t count) {
    if (count <= capacity()) {
      const std::uint64_t dirty = std::max(dirty_end_, size_);
      if (count > size_ && dirty > size_) {
        std::memset(data() + size_, 0, (std::min(count, dirty) - size_) * sizeof(T));
      }
      dirty_end_ = dirty;
      size_ = count;
      return {};
    }
    return move_to_block_of(count, true);
  }

  // Keeps the first min(size, count) elements; new elements are left for
  // the caller to write before reading them. Growing beyond the capacity
  // moves the data to a new block.
  TResult<> resize_for_overwrite(std::uint64_t count) {
    if (count <= capacity()) {
      dirty_end_ = std::max({dirty_end_, size_, count});
      size_ = count;
      return {};
    }
    return move_to_block_of(count, false);
  }

  // `count` zero elements in place of the contents; only what may have been
  // written is cleared, and the block moves only when it is too small.
  TResult<> assign_zeroes(std::uint64_t count) {
    if (count > capacity()) {
      auto fresh = zeroed(count);
      if (!fresh) return std::move(fresh).error();
      *this = std::move(fresh).value();
      return {};
    }
    const std::uint64_t dirty = std::max(dirty_end_, size_);
    if (count > 0 && dirty > 0) std::memset(data(), 0, std::min(count, dirty) * sizeof(T));
    dirty_end_ = dirty;
    size_ = count;
    return {};
  }

  // `count` elements the caller overwrites before reading them, in place of
  // the contents (which are not kept); the block moves only when it is too
  // small.
  TResult<> assign_for_overwrite(std::uint64_t count) {
    if (count > capacity()) {
      auto fresh = for_overwrite(count);
      if (!fresh) return std::move(fresh).error();
      *this = std::move(fresh).value();
      return {};
    }
    dirty_end_ = std::max({dirty_end_, size_, count});
    size_ = count;
    return {};
  }

  // Returns the memory; the buffer is empty afterwards.
  void reset() noexcept { *this = Buffer(); }

  T* data() noexcept { return static_cast<T*>(block_.data); }
  const T* data() const noexcept { return static_cast<const T*>(block_.data); }
  std::uint64_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  std::uint64_t capacity() const noexcept { return block_.capacity_bytes / sizeof(T); }
  T& operator[](std::uint64_t i) noexcept { return data()[i]; }
  const T& operator[](std::uint64_t i) const noexcept { return data()[i]; }
  T& back() noexcept { return data()[size_ - 1]; }
  const T& back() const noexcept { return data()[size_ - 1]; }
  T* begin() noexcept { return data(); }
  T* end() noexcept { return data() + size_; }
  const T* begin() const noexcept { return data(); }
  const T* end() const noexcept { return data() + size_; }

  // Element-wise (as bytes) equality with any array of the same elements.
  friend bool operator==(const Buffer& a, std::span<const T> b) noexcept {
    return a.size_ == b.size() &&
           (a.size_ == 0 || std::memcmp(a.data(), b.data(), a.size_ * sizeof(T)) == 0);
  }
  friend bool operator==(const Buffer& a, const Buffer& b) noexcept {
    return a == std::span<const T>(b.data(), b.size());
  }

 private:
  // The elements moved into a new block of `count` (more than the capacity);
  // the new ones are zero when `clear` is set. The new block's own record of
  // what may be dirty (all of it, unless it is a fresh mapping) stands:
  // everything written from here on lies below the size.
  TResult<> move_to_block_of(std::uint64_t count, bool clear) {
    auto bigger = make(count, count, false);
    if (!bigger) return std::move(bigger).error();
    Buffer& next = bigger.value();
    if (size_ > 0) std::memcpy(next.data(), data(), size_ * sizeof(T));
    // A fresh mapping is already 0 past the copied elements.
    if (clear && !next.block_.zeroed) {
      std::memset(next.data() + size_, 0, (count - size_) * sizeof(T));
    }
    *this = std::move(next);
    return {};
  }

  static TResult<Buffer> make(std::uint64_t count, std::uint64_t capacity, bool zeroed) {
    constexpr std::uint64_t kMaxCount = std::numeric_limits<std::uint64_t>::max() / sizeof(T);
    if (capacity > kMaxCount) {
      return make_error(TessaryErrorKind::AllocationFailed,
                        std::numeric_limits<std::uint64_t>::max());
    }
    Buffer b;
    if (capacity == 0) return b;
    b.block_ = allocate_block(capacity * sizeof(T), zeroed);
    if (b.block_.data == nullptr) {
      return make_error(TessaryErrorKind::AllocationFailed, count * sizeof(T));
    }
    b.size_ = count;
    b.dirty_end_ = b.block_.zeroed ? 0 : b.capacity();
    return b;
  }

  RawBlock block_;
  std::uint64_t size_ = 0;
  // Elements from max(dirty_end_, size_) to the capacity are known to be 0;
  // everything before may have been written.
  std::uint64_t dirty_end_ = 0;
};

// The vector helpers' counterpart, so that code growing either kind of
// array reads the same.
template <class T>
TResult<> try_resize(Buffer<T>& buffer, std::uint64_t count) {
  return buffer.resize(count);
}

}  // namespace tessary
