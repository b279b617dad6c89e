// The generic filter bank: any number of taps, coefficients in owned arrays,
// the input extended into a padded arena in caller scratch.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "border_mode.h"
#include "dwt_executor.h"

namespace tessary {

class WaveletNTaps final : public IncompleteDwtExecutor<float> {
 public:
  // Derives the high-pass filter from `low_pass`. Fails with ZeroOrOddWavelet
  // for an empty or odd-length filter (the arena geometry needs L >= 2, even)
  // and with AllocationFailed when the coefficients cannot be copied.
  static TResult<std::shared_ptr<const WaveletNTaps>> create(BorderMode mode,
                                                             std::span<const float> low_pass);

  // Obtains a zero-filled scratch of required_scratch_size(n) itself.
  Status execute_forward(std::span<const float> input, std::span<float> approximation,
                         std::span<float> details) const override;
  // Writes scratch[0 .. required_scratch_size(n)) only.
  Status execute_forward_with_scratch(std::span<const float> input,
                                      std::span<float> approximation, std::span<float> details,
                                      std::span<float> scratch) const override;
  // The arena: L - 2 samples before the signal, L - 2 (even n) or L - 1 (odd n) after.
  std::uint64_t required_scratch_size(std::uint64_t n) const override;
  BandSizes dwt_size(std::uint64_t n) const override;
  Status execute_inverse(std::span<const float> approximation, std::span<const float> details,
                         std::span<float> output) const override;
  std::uint64_t idwt_size(std::uint64_t approximation_length,
                          std::uint64_t details_length) const override;
  std::uint64_t filter_length() const override { return filter_length_; }

  BorderMode border_mode() const { return border_mode_; }
  std::span<const float> low_pass() const { return low_pass_; }
  std::span<const float> high_pass() const { return high_pass_; }

 private:
  WaveletNTaps(std::vector<float> low_pass, std::vector<float> high_pass, BorderMode mode);

  std::vector<float> low_pass_;
  std::vector<float> high_pass_;
  std::uint64_t filter_length_;
  BorderMode border_mode_;
};

}  // namespace tessary
