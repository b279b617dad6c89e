#include "lifting/levels.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "core/memory.h"

namespace tessary {
namespace {

// Every level needs at least 3 samples and leaves ceil(n/2) of them, so a
// 64-bit length supports fewer than 64 levels; a larger count always ends in
// BufferTooSmallForLevel, and this bounds what multi_dwt reserves up front.
constexpr std::uint64_t kMostLevels = 64;

TessaryError too_small_for_level() {
  return make_error(TessaryErrorKind::BufferTooSmallForLevel);
}

// One forward level into freshly allocated bands.
TResult<Dwt<float>> forward_level(const DwtForwardExecutor<float>& step,
                                  std::span<const float> input) {
  const std::uint64_t n = input.size();
  // The step writes every element of both bands.
  auto approximations = Buffer<float>::for_overwrite(n - n / 2);
  if (!approximations) return std::move(approximations).error();
  auto details = Buffer<float>::for_overwrite(n / 2);
  if (!details) return std::move(details).error();
  Dwt<float> level{std::move(approximations).value(), std::move(details).value()};
  if (auto s = step.execute_forward(input, level.approximations, level.details); !s) {
    return s.error();
  }
  return level;
}

}  // namespace

BandSizes lifting_dwt_size(std::uint64_t input_length, std::uint64_t shortest_input) {
  const std::uint64_t half_down = input_length / 2;
  return BandSizes{std::max<std::uint64_t>(input_length - half_down, 2),
                   std::max<std::uint64_t>(half_down, shortest_input - 2)};
}

std::uint64_t lifting_idwt_size(std::uint64_t approximation_length, std::uint64_t details_length,
                                std::uint64_t shortest_input) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t total = approximation_length > kMax - details_length
                                  ? kMax
                                  : approximation_length + details_length;
  return std::max(total, shortest_input);
}

TResult<> check_lifting_forward(std::uint64_t input_length, std::uint64_t approximation_length,
                                std::uint64_t details_length, std::uint64_t shortest_input) {
  using K = TessaryErrorKind;
  if (input_length < shortest_input) {
    return make_error(K::InputTooShort, input_length, shortest_input);
  }
  const std::uint64_t half_down = input_length / 2;
  if (approximation_length != input_length - half_down) {
    return make_error(K::ApproximationSizeMismatch, approximation_length,
                      input_length - half_down);
  }
  if (details_length != half_down) {
    return make_error(K::DetailsSizeMismatch, details_length, half_down);
  }
  return {};
}

TResult<> check_lifting_inverse(std::uint64_t approximation_length, std::uint64_t details_length,
                                std::uint64_t output_length, std::uint64_t shortest_input) {
  using K = TessaryErrorKind;
  // Both bands are views of real memory, so their sum cannot wrap.
  if (approximation_length + details_length != output_length) {
    return make_error(K::OutputSizeMismatch, approximation_length + details_length,
                      output_length);
  }
  const BandSizes want = lifting_dwt_size(output_length, shortest_input);
  if (approximation_length != want.approximation) {
    return make_error(K::ApproximationSizeMismatch, approximation_length, want.approximation);
  }
  if (details_length != want.details) {
    return make_error(K::DetailsSizeMismatch, details_length, want.details);
  }
  return {};
}

TResult<Dwt<float>> lifting_dwt(const DwtForwardExecutor<float>& step,
                                std::span<const float> signal, std::uint64_t level,
                                std::uint64_t shortest_input) {
  const std::uint64_t count = std::max<std::uint64_t>(level, 1);
  // The forward step never writes its input, so the first level reads the
  // caller's signal and each further level the previous approximation.
  Buffer<float> previous;
  std::span<const float> input = signal;
  for (std::uint64_t k = 0;; ++k) {
    if (input.size() < shortest_input) return too_small_for_level();
    auto bands = forward_level(step, input);
    if (!bands || k + 1 == count) return bands;
    previous = std::move(bands.value().approximations);
    input = previous;
  }
}

TResult<MultiDwt<float>> lifting_multi_dwt(const DwtForwardExecutor<float>& step,
                                           std::span<const float> signal, std::uint64_t levels,
                                           std::uint64_t shortest_input) {
  const std::uint64_t count = std::max<std::uint64_t>(levels, 1);
  if (signal.size() < shortest_input) return too_small_for_level();
  MultiDwt<float> out;
  if (auto s = try_reserve(out.levels, std::min(count, kMostLevels)); !s) return s.error();
  std::span<const float> input = signal;
  for (std::uint64_t k = 0; k < count; ++k) {
    if (input.size() < shortest_input) return too_small_for_level();
    auto bands = forward_level(step, input);
    if (!bands) return bands.error();
    // Never grows in practice (see kMostLevels); a growth would move the
    // bands, whose buffers, and so `input`, stay where they are.
    if (auto s = try_reserve(out.levels, out.levels.size() + 1); !s) return s.error();
    out.levels.push_back(std::move(bands).value());
    input = out.levels.back().approximations;
  }
  return out;
}

TResult<> lifting_execute_forward(const LiftingDwtExecutor& step, std::span<const float> input,
                                  std::span<float> approximation, std::span<float> details,
                                  std::uint64_t shortest_input) {
  const std::uint64_t n = input.size();
  if (auto s = check_lifting_forward(n, approximation.size(), details.size(), shortest_input);
      !s) {
    return s;
  }
  step.forward(input.data(), n, approximation.data(), details.data());
  return {};
}

TResult<> lifting_execute_inverse(const LiftingDwtExecutor& step,
                                  std::span<const float> approximation,
                                  std::span<const float> details, std::span<float> output,
                                  std::uint64_t shortest_input) {
  const std::uint64_t n = output.size();
  if (auto s = check_lifting_inverse(approximation.size(), details.size(), n, shortest_input);
      !s) {
    return s;
  }
  // The step fills its working array before reading it.
  auto work = Buffer<float>::for_overwrite(step.inverse_work_length(n));
  if (!work) return std::move(work).error();
  std::copy(approximation.begin(), approximation.end(), output.begin() + details.size());
  step.inverse_in_place(output.data(), details.data(), n, work.value().data());
  return {};
}

TResult<Buffer<float>> lifting_idwt(const DwtInverseExecutor<float>& step,
                                    const DwtRef<float>& bands) {
  // The lifting steps write every output sample before reading it.
  auto out = Buffer<float>::for_overwrite(bands.approximation.size() + bands.details.size());
  if (!out) return out;
  if (auto s = step.execute_inverse(bands.approximation, bands.details, out.value()); !s) {
    return s.error();
  }
  return out;
}

TResult<Buffer<float>> lifting_multi_idwt(const LiftingDwtExecutor& step,
                                          const MultiDwtRef<float>& bands,
                                          std::uint64_t shortest_input) {
  if (bands.details.empty() || bands.approximation.empty()) {
    return make_error(TessaryErrorKind::ZeroSizedInput);
  }
  // Level k rebuilds a_k + m_k samples, the approximation of level k - 1.
  // The whole chain is checked first, so the first misfit is reported as the
  // level-by-level order would, nothing is allocated for it, and the final
  // length cannot wrap: every accepted level has n <= 2m + 1 with m the
  // length of a real view.
  std::uint64_t total = bands.approximation.size();
  for (std::size_t k = bands.details.size(); k-- > 0;) {
    const std::uint64_t m = bands.details[k].size();
    if (auto s = check_lifting_inverse(total, m, total + m, shortest_input); !s) {
      return s.error();
    }
    total += m;
  }
  // Each level writes the lower part of its range before reading it, and
  // the last level's range is the whole buffer: no sample needs clearing.
  auto out = Buffer<float>::for_overwrite(total);
  if (!out) return out;
  auto work = Buffer<float>::for_overwrite(step.inverse_work_length(total));
  if (!work) return std::move(work).error();
  // Every level works on the top of the one output buffer, where the level
  // below left its result (see LiftingDwtExecutor).
  float* y = out.value().data();
  std::copy(bands.approximation.begin(), bands.approximation.end(),
            y + (total - bands.approximation.size()));
  std::uint64_t length = bands.approximation.size();
  for (std::size_t k = bands.details.size(); k-- > 0;) {
    length += bands.details[k].size();
    step.inverse_in_place(y + (total - length), bands.details[k].data(), length,
                          work.value().data());
  }
  return out;
}

}  // namespace tessary
