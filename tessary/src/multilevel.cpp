#include "multilevel.h"

#include <algorithm>
#include <utility>

#include "core/memory.h"

namespace tessary {

CompletedDwtExecutor::CompletedDwtExecutor(IncompleteDwtExecutorHandle<float> bank)
    : bank_(std::move(bank)),
      filter_length_(bank_->filter_length()),
      overwriting_(dynamic_cast<const OverwritingSynthesis*>(bank_.get())) {}

TResult<> CompletedDwtExecutor::synthesise(std::span<const float> approximation,
                                           std::span<const float> details,
                                           Buffer<float>& output, std::uint64_t length) const {
  if (overwriting_ != nullptr) {
    if (auto s = output.assign_for_overwrite(length); !s) return s;
    return overwriting_->execute_inverse_overwriting(approximation, details, output);
  }
  if (auto s = output.assign_zeroes(length); !s) return s;
  return bank_->execute_inverse(approximation, details, output);
}

TResult<> CompletedDwtExecutor::execute_forward(std::span<const float> input,
                                                std::span<float> approximation,
                                                std::span<float> details) const {
  return bank_->execute_forward(input, approximation, details);
}

TResult<> CompletedDwtExecutor::execute_forward_with_scratch(std::span<const float> input,
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

TResult<> CompletedDwtExecutor::execute_inverse(std::span<const float> approximation,
                                                std::span<const float> details,
                                                std::span<float> output) const {
  return bank_->execute_inverse(approximation, details, output);
}

std::uint64_t CompletedDwtExecutor::idwt_size(std::uint64_t approximation_length,
                                              std::uint64_t details_length) const {
  return bank_->idwt_size(approximation_length, details_length);
}

TResult<Dwt<float>> CompletedDwtExecutor::one_level(std::span<const float> signal,
                                                    std::span<float> scratch) const {
  const BandSizes sizes = bank_->dwt_size(signal.size());
  // The bank writes every element of both bands.
  auto approximations = Buffer<float>::for_overwrite(sizes.approximation);
  if (!approximations) return fail(std::move(approximations).error());
  auto details = Buffer<float>::for_overwrite(sizes.details);
  if (!details) return fail(std::move(details).error());
  Dwt<float> out{std::move(approximations).value(), std::move(details).value()};
  const TResult<> s =
      scratch.empty()
          ? bank_->execute_forward(signal, out.approximations, out.details)
          : bank_->execute_forward_with_scratch(signal, out.approximations, out.details, scratch);
  if (!s) return fail(std::move(s).error());
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
  // One padded working copy serves every level: each level's input is
  // shorter than the one before, and the bank rewrites all of the part it
  // uses. A single level leaves the bank to check a short signal first.
  Buffer<float> scratch;
  if (count > 1 && signal.size() >= filter_length_) {
    auto made = Buffer<float>::for_overwrite(bank_->required_scratch_size(signal.size()));
    if (!made) return fail(std::move(made).error());
    scratch = std::move(made).value();
  }
  std::span<const float> input = signal;
  for (std::uint64_t k = 0; k < count; ++k) {
    // A single level leaves a short signal to the bank (InputTooShort).
    if (count > 1 && input.size() < filter_length_) {
      return make_error(TessaryErrorKind::BufferTooSmallForLevel);
    }
    if (auto s = try_reserve(result.levels, result.levels.size() + 1); !s) {
      return fail(std::move(s).error());
    }
    auto level = one_level(input, scratch);
    if (!level) return fail(std::move(level).error());
    result.levels.push_back(std::move(level).value());
    input = result.levels.back().approximations;
  }
  return result;
}

TResult<Buffer<float>> CompletedDwtExecutor::idwt(const DwtRef<float>& bands) const {
  const std::uint64_t a = bands.approximation.size();
  const std::uint64_t d = bands.details.size();
  if (a != d) return make_error(TessaryErrorKind::ApproxDetailsSizeMismatch, a, d);
  Buffer<float> out;
  if (auto s = synthesise(bands.approximation, bands.details, out, bank_->idwt_size(a, a)); !s) {
    return fail(std::move(s).error());
  }
  return out;
}

TResult<Buffer<float>> CompletedDwtExecutor::multi_idwt(
    const MultiDwtRef<float>& bands) const {
  if (bands.details.empty() || bands.approximation.empty()) {
    return make_error(TessaryErrorKind::ZeroSizedInput);
  }
  // Level k is rebuilt from the first details[k].size() samples of level
  // k + 1's result. Two buffers take turns: level 0 lands in `even` (sized
  // for it from the start), level 1 in `odd`, and every level reads the
  // other buffer than the one it writes.
  const std::size_t count = bands.details.size();
  const auto planned = [&](std::size_t k) -> std::uint64_t {
    const std::uint64_t m = bands.details[k].size();
    return m >= filter_length_ / 2 ? bank_->idwt_size(m, m) : 0;
  };
  Buffer<float> even;
  Buffer<float> odd;
  std::span<const float> approximation = bands.approximation;
  for (std::size_t k = count; k-- > 0;) {
    const std::span<const float> details = bands.details[k];
    if (k + 1 < count) {
      if (approximation.size() < details.size()) {
        return make_error(TessaryErrorKind::ApproxDetailsSizeMismatch, approximation.size(),
                          details.size());
      }
      approximation = approximation.first(details.size());
    } else if (approximation.size() != details.size()) {
      return make_error(TessaryErrorKind::ApproxDetailsSizeMismatch, approximation.size(),
                        details.size());
    }
    const std::uint64_t m = details.size();
    const std::uint64_t length = bank_->idwt_size(m, m);
    Buffer<float>& out = k % 2 == 0 ? even : odd;
    if (out.capacity() == 0) {
      auto made = Buffer<float>::for_overwrite(0, planned(k % 2));
      if (!made) return fail(std::move(made).error());
      out = std::move(made).value();
    }
    if (auto s = synthesise(approximation, details, out, length); !s) {
      return fail(std::move(s).error());
    }
    approximation = out;
  }
  return even;
}

}  // namespace tessary
