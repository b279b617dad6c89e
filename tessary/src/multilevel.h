// Turns a single-level filter bank into a full executor: multi-level forward
// and inverse on top of the bank's own steps and sizes.
#pragma once

#include <cstdint>
#include <span>

#include "banks/bank.h"
#include "executor.h"

namespace tessary {

// Level lengths for an L-tap bank: n(k+1) = (n(k) + L - 1) / 2, and a level
// may run while n(k) >= L. One level reconstructs 2 n(k+1) - L + 2 samples,
// which is n(k) for even n(k) and n(k) + 1 for odd n(k); multi_idwt cuts that
// extra sample at every level but the finest, where the caller keeps the
// samples it needs.
class CompletedDwtExecutor final : public DwtExecutor<float> {
 public:
  // Precondition: bank is non-null and its filter_length() is at least 1.
  explicit CompletedDwtExecutor(IncompleteDwtExecutorHandle<float> bank);

  TResult<> execute_forward(std::span<const float> input, std::span<float> approximation,
                            std::span<float> details) const override;
  TResult<> execute_forward_with_scratch(std::span<const float> input,
                                         std::span<float> approximation,
                                         std::span<float> details,
                                         std::span<float> scratch) const override;
  std::uint64_t required_scratch_size(std::uint64_t input_length) const override;
  BandSizes dwt_size(std::uint64_t input_length) const override;
  TResult<> execute_inverse(std::span<const float> approximation, std::span<const float> details,
                            std::span<float> output) const override;
  std::uint64_t idwt_size(std::uint64_t approximation_length,
                          std::uint64_t details_length) const override;
  std::uint64_t filter_length() const override { return filter_length_; }

  TResult<Dwt<float>> dwt(std::span<const float> signal, std::uint64_t level) const override;
  TResult<MultiDwt<float>> multi_dwt(std::span<const float> signal,
                                     std::uint64_t levels) const override;
  TResult<Buffer<float>> idwt(const DwtRef<float>& bands) const override;
  TResult<Buffer<float>> multi_idwt(const MultiDwtRef<float>& bands) const override;

  const IncompleteDwtExecutorHandle<float>& bank() const { return bank_; }

 private:
  // One level into new bands; a non-empty scratch is the bank's padded
  // working copy (otherwise the bank allocates its own).
  TResult<Dwt<float>> one_level(std::span<const float> signal,
                                std::span<float> scratch = {}) const;

  // Writes one level's synthesis into `output`, which holds `length`
  // elements afterwards: written over by banks that can, added into a
  // cleared output by the others.
  TResult<> synthesise(std::span<const float> approximation, std::span<const float> details,
                       Buffer<float>& output, std::uint64_t length) const;

  IncompleteDwtExecutorHandle<float> bank_;
  std::uint64_t filter_length_;
  // The bank's overwriting synthesis, or null when it only adds.
  const OverwritingSynthesis* overwriting_;
};

}  // namespace tessary
