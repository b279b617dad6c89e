// The generic filter bank: any even number of taps, coefficients in owned
// arrays, the input extended into a padded arena in caller scratch.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/border_mode.h"
#include "core/memory.h"
#include "executor.h"

namespace tessary {

// The record of a generic bank: h as given, g derived from it.
struct NTapsCoefficients {
  std::vector<float> low_pass;
  std::vector<float> high_pass;
  BorderMode mode;

  // Fails with ZeroOrOddWavelet for an empty or odd-length filter (the arena
  // geometry needs L >= 2, even) and with AllocationFailed when the
  // coefficients cannot be copied.
  static TResult<NTapsCoefficients> create(BorderMode mode, std::span<const float> low_pass);
};

// What every generic bank shares, whatever evaluates its sums (the portable
// bank and the SSE and AVX kernels): the sizes, the checks in their order,
// the scratch rule and the padded arena. A bank supplies two bodies:
//   execute_forward_impl  the m band pairs, output i from arena[2i .. 2i + L)
//   execute_inverse_impl  the synthesis of out_length / 2 output pairs
// They run only after the checks passed, so a failed call writes nothing.
class NTapsBank : public IncompleteDwtExecutor<float> {
 public:
  explicit NTapsBank(NTapsCoefficients coefficients);

  // The forward checks first, so that a bad call allocates nothing, then a
  // temporary scratch of required_scratch_size(n) floats.
  TResult<> execute_forward(std::span<const float> input, std::span<float> approximation,
                            std::span<float> details) const final;
  // Writes scratch[0 .. required_scratch_size(n)) only, by the process-wide
  // arena writer.
  TResult<> execute_forward_with_scratch(std::span<const float> input,
                                         std::span<float> approximation,
                                         std::span<float> details,
                                         std::span<float> scratch) const final;
  // The arena: L - 2 samples before the signal, L - 2 (even n) or L - 1 (odd n) after.
  std::uint64_t required_scratch_size(std::uint64_t n) const final;
  BandSizes dwt_size(std::uint64_t n) const final;
  TResult<> execute_inverse(std::span<const float> approximation, std::span<const float> details,
                            std::span<float> output) const final;
  std::uint64_t idwt_size(std::uint64_t approximation_length,
                          std::uint64_t details_length) const final;
  std::uint64_t filter_length() const final { return filter_length_; }

  BorderMode border_mode() const { return border_mode_; }
  std::span<const float> low_pass() const { return low_pass_; }
  std::span<const float> high_pass() const { return high_pass_; }

 private:
  virtual void execute_forward_impl(const float* arena, float* approximation, float* details,
                                    std::uint64_t m) const = 0;
  // Adds the synthesis into out[0 .. 2 pairs), pairs = m - L/2 + 1.
  virtual void execute_inverse_impl(const float* approximation, const float* details,
                                    float* out, std::uint64_t pairs) const = 0;

  std::vector<float> low_pass_;
  std::vector<float> high_pass_;
  std::uint64_t filter_length_;
  BorderMode border_mode_;
};

// A generic bank of type Bank (constructible from NTapsCoefficients) for `low_pass`.
template <class Bank>
TResult<std::shared_ptr<const Bank>> make_n_taps_bank(BorderMode mode,
                                                      std::span<const float> low_pass) {
  auto coefficients = NTapsCoefficients::create(mode, low_pass);
  if (!coefficients) return fail(std::move(coefficients).error());
  return try_make_shared<Bank>(std::move(coefficients).value());
}

// The portable generic bank: sums in ascending tap order, multiplies and
// adds kept separate, bit for bit the sums of the fixed-length banks.
class WaveletNTaps final : public NTapsBank {
 public:
  using NTapsBank::NTapsBank;

 private:
  void execute_forward_impl(const float* arena, float* approximation, float* details,
                            std::uint64_t m) const override;
  void execute_inverse_impl(const float* approximation, const float* details, float* out,
                            std::uint64_t pairs) const override;
};

}  // namespace tessary
