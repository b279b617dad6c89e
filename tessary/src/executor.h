// What every transform of the engine shares: the executor interfaces (their
// virtual operations are declared in a fixed slot order), the result records
// and the borrowed inputs of the inverse operations.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/buffer.h"
#include "core/error.h"

namespace tessary {

// Lengths of the two bands that one forward level produces.
struct BandSizes {
  std::uint64_t approximation = 0;
  std::uint64_t details = 0;

  friend bool operator==(const BandSizes&, const BandSizes&) = default;
};

// One decomposition level; owns its bands.
template <class T>
struct Dwt {
  Buffer<T> approximations;
  Buffer<T> details;
};

// Several levels, index 0 = first (finest) level, last = deepest.
template <class T>
struct MultiDwt {
  std::vector<Dwt<T>> levels;
};

// Borrowed input of idwt.
template <class T>
struct DwtRef {
  std::span<const T> approximation;
  std::span<const T> details;
};

// Borrowed input of multi_idwt: details finest first, and the approximation
// of the deepest level.
template <class T>
struct MultiDwtRef {
  std::vector<std::span<const T>> details;
  std::span<const T> approximation;
};

template <class T>
class DwtForwardExecutor {
 public:
  virtual TResult<> execute_forward(std::span<const T> input, std::span<T> approximation,
                                 std::span<T> details) const = 0;
  virtual TResult<> execute_forward_with_scratch(std::span<const T> input,
                                              std::span<T> approximation,
                                              std::span<T> details,
                                              std::span<T> scratch) const = 0;
  virtual std::uint64_t required_scratch_size(std::uint64_t input_length) const = 0;
  virtual BandSizes dwt_size(std::uint64_t input_length) const = 0;

  virtual ~DwtForwardExecutor() = default;
};

template <class T>
class DwtInverseExecutor {
 public:
  // Filter banks add into `output`; lifting executors overwrite it.
  virtual TResult<> execute_inverse(std::span<const T> approximation, std::span<const T> details,
                                 std::span<T> output) const = 0;
  virtual std::uint64_t idwt_size(std::uint64_t approximation_length,
                                  std::uint64_t details_length) const = 0;

  virtual ~DwtInverseExecutor() = default;
};

template <class T>
class IncompleteDwtExecutor : public DwtForwardExecutor<T>, public DwtInverseExecutor<T> {
 public:
  virtual std::uint64_t filter_length() const = 0;
};

template <class T>
class DwtExecutor : public IncompleteDwtExecutor<T> {
 public:
  virtual TResult<Dwt<T>> dwt(std::span<const T> signal, std::uint64_t level) const = 0;
  virtual TResult<MultiDwt<T>> multi_dwt(std::span<const T> signal,
                                         std::uint64_t levels) const = 0;
  virtual TResult<Buffer<T>> idwt(const DwtRef<T>& bands) const = 0;
  virtual TResult<Buffer<T>> multi_idwt(const MultiDwtRef<T>& bands) const = 0;
};

// Shared-ownership handles; std::shared_ptr updates its counts atomically and
// the executors are immutable, so a handle may be used from several threads.
template <class T>
using DwtExecutorHandle = std::shared_ptr<const DwtExecutor<T>>;
template <class T>
using IncompleteDwtExecutorHandle = std::shared_ptr<const IncompleteDwtExecutor<T>>;

}  // namespace tessary
