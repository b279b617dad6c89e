#include "completed.h"

#include <algorithm>
#include <utility>

namespace tessary {

CompletedDwtExecutor::CompletedDwtExecutor(IncompleteDwtExecutorHandle<float> bank)
    : bank_(std::move(bank)), filter_length_(bank_->filter_length()) {}

Status CompletedDwtExecutor::execute_forward(std::span<const float> input,
                                             std::span<float> approximation,
                                             std::span<float> details) const {
  return bank_->execute_forward(input, approximation, details);
}

Status CompletedDwtExecutor::execute_forward_with_scratch(std::span<const float> input,
                                                          std::span<float> approximation,
                                                          std::span<float> details,
                                                          std::span<float> scratch) const {
  return bank_->execute_forward_with_scratch(input, approximation, details, scratch);
}

std::uint64_t CompletedDwtExecutor::required_scratch_size(std::uint64_t input_length) const {
  return bank_->required_scratch_size(input_length);
}

BandSizes CompletedDwtExecutor::dwt_size(std::uint64_t input_length) const {
  return bank_->dwt_size(input_length);
}

Status CompletedDwtExecutor::execute_inverse(std::span<const float> approximation,
                                             std::span<const float> details,
                                             std::span<float> output) const {
  return bank_->execute_inverse(approximation, details, output);
}

std::uint64_t CompletedDwtExecutor::idwt_size(std::uint64_t approximation_length,
                                              std::uint64_t details_length) const {
  return bank_->idwt_size(approximation_length, details_length);
}

TResult<Dwt<float>> CompletedDwtExecutor::one_level(std::span<const float> signal) const {
  const BandSizes sizes = bank_->dwt_size(signal.size());
  Dwt<float> out;
  if (auto s = try_resize(out.approximations, sizes.approximation); !s) return fail(std::move(s).error());
  if (auto s = try_resize(out.details, sizes.details); !s) return fail(std::move(s).error());
  if (auto s = bank_->execute_forward(signal, out.approximations, out.details); !s) {
    return fail(std::move(s).error());
  }
  return out;
}

TResult<Dwt<float>> CompletedDwtExecutor::dwt(std::span<const float> signal,
                                              std::uint64_t level) const {
  if (level <= 1) return one_level(signal);
  // The first level reads the caller's signal; each later level reads the
  // previous approximation, which the result it came in then gives up.
  if (signal.size() < filter_length_) return make_error(TessaryErrorKind::BufferTooSmallForLevel);
  auto current = one_level(signal);
  if (!current) return current;
  for (std::uint64_t k = 1; k < level; ++k) {
    if (current.value().approximations.size() < filter_length_) {
      return make_error(TessaryErrorKind::BufferTooSmallForLevel);
    }
    auto next = one_level(current.value().approximations);
    if (!next) return next;
    current = std::move(next);
  }
  return current;
}

TResult<MultiDwt<float>> CompletedDwtExecutor::multi_dwt(std::span<const float> signal,
                                                         std::uint64_t levels) const {
  // With e = n - (L - 1), one level maps e to floor(e / 2) and a level runs
  // while e >= 1, so no 64-bit length supports more than 64 levels: a huge
  // `levels` must end in BufferTooSmallForLevel, not in a huge reservation.
  constexpr std::uint64_t kMostLevels = 64;
  const std::uint64_t count = std::max<std::uint64_t>(levels, 1);
  MultiDwt<float> result;
  if (auto s = try_reserve(result.levels, std::min(count, kMostLevels)); !s) {
    return fail(std::move(s).error());
  }
  // The bank writes each level straight into the entry that keeps it, and
  // the next level reads that entry's approximation: no working copy of the
  // signal or of any band is needed (entries keep their storage when the
  // list grows).
  std::span<const float> input = signal;
  for (std::uint64_t k = 0; k < count; ++k) {
    // A single level leaves a short signal to the bank (InputTooShort).
    if (count > 1 && input.size() < filter_length_) {
      return make_error(TessaryErrorKind::BufferTooSmallForLevel);
    }
    if (auto s = try_reserve(result.levels, result.levels.size() + 1); !s) {
      return fail(std::move(s).error());
    }
    auto level = one_level(input);
    if (!level) return fail(std::move(level).error());
    result.levels.push_back(std::move(level).value());
    input = result.levels.back().approximations;
  }
  return result;
}

TResult<std::vector<float>> CompletedDwtExecutor::idwt(const DwtRef<float>& bands) const {
  const std::uint64_t a = bands.approximation.size();
  const std::uint64_t d = bands.details.size();
  if (a != d) return make_error(TessaryErrorKind::ApproxDetailsSizeMismatch, a, d);
  auto out = allocate_zeroed<float>(bank_->idwt_size(a, a));
  if (!out) return out;
  if (auto s = bank_->execute_inverse(bands.approximation, bands.details, out.value()); !s) {
    return fail(std::move(s).error());
  }
  return out;
}

TResult<std::vector<float>> CompletedDwtExecutor::multi_idwt(
    const MultiDwtRef<float>& bands) const {
  if (bands.details.empty() || bands.approximation.empty()) {
    return make_error(TessaryErrorKind::ZeroSizedInput);
  }
  auto y = idwt(DwtRef<float>{bands.approximation, bands.details.back()});
  if (!y) return y;
  for (std::size_t k = bands.details.size() - 1; k-- > 0;) {
    const std::span<const float> details = bands.details[k];
    if (y.value().size() < details.size()) {
      return make_error(TessaryErrorKind::ApproxDetailsSizeMismatch, y.value().size(),
                        details.size());
    }
    const std::span<const float> approximation(y.value().data(), details.size());
    auto next = idwt(DwtRef<float>{approximation, details});
    if (!next) return next;
    y = std::move(next);
  }
  return y;
}

}  // namespace tessary
