// What the four lifting executors (CDF 5/3 and CDF 9/7, portable and AVX)
// share: band sizes, the checks of the single-level steps, and the
// multi-level operations, which only need the single-level steps of an
// executor and the shortest length one level accepts.
#pragma once

#include <cstdint>
#include <span>

#include "executor.h"

namespace tessary {

// Band sizes of a lifting level. For n at or above the shortest input
// (3 for CDF 5/3, 4 for CDF 9/7) they are (ceil(n/2), floor(n/2)) and the
// inverse gives back a + d; the floors below only show when sizes of
// rejected lengths are queried: the approximation never drops below 2, the
// details never below shortest - 2 (1 resp. 2), the inverse never below the
// shortest input.
BandSizes lifting_dwt_size(std::uint64_t input_length, std::uint64_t shortest_input);
std::uint64_t lifting_idwt_size(std::uint64_t approximation_length, std::uint64_t details_length,
                                std::uint64_t shortest_input);

// The checks of a forward step, in the order the errors are reported.
TResult<> check_lifting_forward(std::uint64_t input_length, std::uint64_t approximation_length,
                                std::uint64_t details_length, std::uint64_t shortest_input);
// The checks of an inverse step; together they admit only
// output_length >= shortest_input with bands (ceil(n/2), floor(n/2)).
TResult<> check_lifting_inverse(std::uint64_t approximation_length, std::uint64_t details_length,
                                std::uint64_t output_length, std::uint64_t shortest_input);

// The inverse lifting steps run in place: the output y of n samples holds
// the approximation in its upper part y[m..n), m = floor(n/2), and the steps
// stream upwards, writing y[2i], y[2i + 1] only after the approximation
// samples at or below m + i are read (2i + 1 < m + i + 1 for i < m). So
// multi_idwt rebuilds every level inside the one final output buffer, each
// level's result landing exactly where the next one expects its
// approximation.
class LiftingDwtExecutor : public DwtExecutor<float> {
 public:
  // The unchecked forward step: a = ceil(n/2) approximation samples into s,
  // m = floor(n/2) details into d, n >= the shortest input.
  virtual void forward(const float* x, std::uint64_t n, float* s, float* d) const = 0;
  // The unchecked inverse step on y as above; `work` holds
  // inverse_work_length(n) floats. The details are read only.
  virtual void inverse_in_place(float* y, const float* details, std::uint64_t n,
                                float* work) const = 0;
  virtual std::uint64_t inverse_work_length(std::uint64_t n) const = 0;
};

// Multi-level operations over the single-level steps of `step`. Errors of a
// step come back unchanged; nothing is returned but the final result.
TResult<Dwt<float>> lifting_dwt(const DwtForwardExecutor<float>& step,
                                std::span<const float> signal, std::uint64_t level,
                                std::uint64_t shortest_input);
TResult<MultiDwt<float>> lifting_multi_dwt(const DwtForwardExecutor<float>& step,
                                           std::span<const float> signal, std::uint64_t levels,
                                           std::uint64_t shortest_input);
TResult<> lifting_execute_forward(const LiftingDwtExecutor& step, std::span<const float> input,
                                  std::span<float> approximation, std::span<float> details,
                                  std::uint64_t shortest_input);
TResult<> lifting_execute_inverse(const LiftingDwtExecutor& step,
                                  std::span<const float> approximation,
                                  std::span<const float> details, std::span<float> output,
                                  std::uint64_t shortest_input);
TResult<Buffer<float>> lifting_idwt(const DwtInverseExecutor<float>& step,
                                    const DwtRef<float>& bands);
TResult<Buffer<float>> lifting_multi_idwt(const LiftingDwtExecutor& step,
                                          const MultiDwtRef<float>& bands,
                                          std::uint64_t shortest_input);

// The lengths that make one lifting wavelet, whatever computes it.
struct LiftingShape {
  std::uint64_t shortest_input;  // below it a forward step fails with InputTooShort
  std::uint64_t filter_length;   // what filter_length() reports
  bool inverse_needs_details_copy;  // inverse_in_place works on floor(n/2) floats of its own
};

// Base of the four lifting executors: everything but the two unchecked
// steps. Holds no data; the wavelet's lengths are part of the type.
template <LiftingShape kShape>
class LiftingExecutor : public LiftingDwtExecutor {
 public:
  TResult<> execute_forward(std::span<const float> input, std::span<float> approximation,
                            std::span<float> details) const final {
    return lifting_execute_forward(*this, input, approximation, details, kShape.shortest_input);
  }
  // Lifting needs no scratch: the details are complete before the first
  // approximation sample is updated.
  TResult<> execute_forward_with_scratch(std::span<const float> input,
                                         std::span<float> approximation,
                                         std::span<float> details,
                                         std::span<float> /*scratch*/) const final {
    return execute_forward(input, approximation, details);
  }
  std::uint64_t required_scratch_size(std::uint64_t /*input_length*/) const final { return 0; }
  BandSizes dwt_size(std::uint64_t input_length) const final {
    return lifting_dwt_size(input_length, kShape.shortest_input);
  }
  TResult<> execute_inverse(std::span<const float> approximation, std::span<const float> details,
                            std::span<float> output) const final {
    return lifting_execute_inverse(*this, approximation, details, output, kShape.shortest_input);
  }
  std::uint64_t idwt_size(std::uint64_t approximation_length,
                          std::uint64_t details_length) const final {
    return lifting_idwt_size(approximation_length, details_length, kShape.shortest_input);
  }
  std::uint64_t filter_length() const final { return kShape.filter_length; }

  TResult<Dwt<float>> dwt(std::span<const float> signal, std::uint64_t level) const final {
    return lifting_dwt(*this, signal, level, kShape.shortest_input);
  }
  TResult<MultiDwt<float>> multi_dwt(std::span<const float> signal,
                                     std::uint64_t levels) const final {
    return lifting_multi_dwt(*this, signal, levels, kShape.shortest_input);
  }
  TResult<Buffer<float>> idwt(const DwtRef<float>& bands) const final {
    return lifting_idwt(*this, bands);
  }
  TResult<Buffer<float>> multi_idwt(const MultiDwtRef<float>& bands) const final {
    return lifting_multi_idwt(*this, bands, kShape.shortest_input);
  }
  std::uint64_t inverse_work_length(std::uint64_t n) const final {
    return kShape.inverse_needs_details_copy ? n / 2 : 0;
  }
};

}  // namespace tessary
