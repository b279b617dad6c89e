// The fixed-length filter banks: a tap count known at compile time,
// coefficients held inline, border samples computed inline, no scratch. The
// frame PaddedTapsBank holds what the portable bank and its SSE and AVX
// kernels share; FixedTapsBank is the portable member.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <utility>

#include "banks/bank.h"
#include "banks/families.h"
#include "banks/n_taps.h"
#include "core/border_mode.h"
#include "core/memory.h"
#include "executor.h"

namespace tessary {

// The tap counts with a fixed-length bank; every other even count takes the
// generic bank (banks/n_taps.h). The portable banks, the SSE and AVX kernels
// and their choice by length (make_path_bank) are all made from this one
// list.
using FixedTapCounts = std::index_sequence<2, 4, 6, 8, 10, 12, 16>;

namespace taps {

// The outputs of a fixed-length bank that reach past the signal: [0,
// head_end) read left of it, [tail_begin, m) right of it, the ones between
// read the input only. Output i reads ext(2i - (L-2) .. 2i + 1), so the head
// ends at i = (L-2)/2 and the tail begins where 2i + 1 >= n, at i = n/2.
struct EdgeSplit {
  std::uint64_t head_end;
  std::uint64_t tail_begin;
};

// Longest edge window extend_edges writes for `taps` taps.
constexpr std::size_t edge_capacity(std::size_t taps) { return 2 * taps - 2; }

// The extended samples the edge outputs of an L-tap bank read, by one border
// descriptor per call (n = x.size() >= L):
//
//   head[0 .. L-3 + L-2]        = ext(-(L-2) .. L-3)             outputs 0 .. head_end-1
//   tail[0 .. 2(m-tb) + L-3]    = ext(2 tb - (L-2) .. 2m - 1)    outputs tb .. m-1
//
// (tb = tail_begin), so edge output i reads its window at head + 2i or at
// tail + 2(i - tb), exactly as a body output reads x + 2i - (L-2). Both
// windows hold at most edge_capacity(L) samples (2L-4 head, 2L-2 tail for odd n).
EdgeSplit extend_edges(std::span<const float> x, BorderMode mode, std::uint64_t taps,
                       float* head, float* tail);

// A run of consecutive outputs whose windows start two samples apart:
// output k of the run reads window[2k .. 2k + L - 1].
struct Run {
  const float* window;
  std::uint64_t count;
  float* approximation;
  float* details;
};

}  // namespace taps

// What every fixed-length bank shares, whatever evaluates its sums: the
// sizes, the checks in their order, the edge windows and the stored filters,
// each padded to S >= L floats (repeated when L divides S, followed by zeros
// otherwise) so that a wide kernel loads whole registers. A bank supplies
// two bodies:
//   execute_forward_impl  the bands of three runs: the head outputs (windows
//                         from the left edge samples), the body (windows in
//                         the input) and the tail (right edge samples);
//   execute_inverse_impl  the synthesis of out_length / 2 output pairs.
// They run only after the checks passed, so a failed call writes nothing.
template <std::size_t L, std::size_t S>
class PaddedTapsBank : public IncompleteDwtExecutor<float>, public OverwritingSynthesis {
  static_assert(L >= 2 && L % 2 == 0 && S >= L, "filter banks have an even number of taps");

 public:
  using Stored = std::array<float, S>;

  TResult<> execute_forward(std::span<const float> input, std::span<float> approximation,
                            std::span<float> details) const final {
    const std::uint64_t n = input.size();
    if (auto s = taps::check_forward(n, L, approximation.size(), details.size()); !s) return s;
    const std::uint64_t m = approximation.size();
    float head[taps::edge_capacity(L)];
    float tail[taps::edge_capacity(L)];
    const taps::EdgeSplit split = taps::extend_edges(input, mode_, L, head, tail);
    float* a = approximation.data();
    float* d = details.data();
    const std::uint64_t body = split.tail_begin - split.head_end;
    const taps::Run runs[3] = {
        {head, split.head_end, a, d},
        {input.data(), body, a + split.head_end, d + split.head_end},
        {tail, m - split.tail_begin, a + split.tail_begin, d + split.tail_begin},
    };
    execute_forward_impl(runs);
    return {};
  }
  // The scratch is not used (nor checked).
  TResult<> execute_forward_with_scratch(std::span<const float> input,
                                         std::span<float> approximation,
                                         std::span<float> details,
                                         std::span<float>) const final {
    return execute_forward(input, approximation, details);
  }
  std::uint64_t required_scratch_size(std::uint64_t) const final { return 0; }
  BandSizes dwt_size(std::uint64_t n) const final {
    const std::uint64_t m = taps::band_length(n, L);
    return {m, m};
  }
  TResult<> execute_inverse(std::span<const float> approximation, std::span<const float> details,
                            std::span<float> output) const final {
    return synthesise(approximation, details, output, taps::Synthesis::AddInto);
  }
  TResult<> execute_inverse_overwriting(std::span<const float> approximation,
                                        std::span<const float> details,
                                        std::span<float> output) const final {
    return synthesise(approximation, details, output, taps::Synthesis::Overwrite);
  }
  std::uint64_t idwt_size(std::uint64_t approximation_length, std::uint64_t) const final {
    return taps::synthesis_length(approximation_length, L);
  }
  std::uint64_t filter_length() const final { return L; }

  BorderMode border_mode() const { return mode_; }
  // h and g as stored; their first L floats are the filters.
  const Stored& low_pass() const { return low_pass_; }
  const Stored& high_pass() const { return high_pass_; }

 protected:
  // Derives g[k] = (-1)^k h[L-1-k] and lays out both filters.
  PaddedTapsBank(BorderMode mode, std::span<const float, L> low_pass)
      : mode_(mode), low_pass_{}, high_pass_{} {
    std::array<float, L> high{};
    low_pass_to_high_into(low_pass, high);
    const std::size_t copies = S % L == 0 ? S / L : 1;
    for (std::size_t c = 0; c < copies; ++c) {
      std::copy(low_pass.begin(), low_pass.end(), low_pass_.begin() + c * L);
      std::copy(high.begin(), high.end(), high_pass_.begin() + c * L);
    }
  }

 private:
  TResult<> synthesise(std::span<const float> approximation, std::span<const float> details,
                       std::span<float> output, taps::Synthesis how) const {
    const std::uint64_t m = approximation.size();
    if (auto s = taps::check_inverse(m, details.size(), output.size(), L); !s) return s;
    execute_inverse_impl(approximation.data(), details.data(), output.data(), output.size() / 2,
                         how);
    return {};
  }

  virtual void execute_forward_impl(const taps::Run (&runs)[3]) const = 0;
  // The synthesis into out[0 .. 2 pairs), pairs = m - L/2 + 1, added or
  // written over as `how` says.
  virtual void execute_inverse_impl(const float* approximation, const float* details,
                                    float* out, std::uint64_t pairs,
                                    taps::Synthesis how) const = 0;

  BorderMode mode_;
  Stored low_pass_;
  Stored high_pass_;
};

// The portable bank: sums in ascending tap order, multiplies and adds kept
// separate.
template <std::size_t L>
class FixedTapsBank final : public PaddedTapsBank<L, L> {
 public:
  FixedTapsBank(BorderMode mode, std::span<const float, L> low_pass);

 private:
  void execute_forward_impl(const taps::Run (&runs)[3]) const override;
  void execute_inverse_impl(const float* approximation, const float* details, float* out,
                            std::uint64_t pairs, taps::Synthesis how) const override;
};

// The bank of one processor path for h = `low_pass` (L = its length):
// Fixed<L> for the counts of FixedTapCounts up to kLongest (a path whose
// kernels stop short of the list), Generic otherwise. Each path calls it from
// the file that defines its kernels, so that they are instantiated there.
template <template <std::size_t> class Fixed, class Generic,
          std::size_t kLongest = std::numeric_limits<std::size_t>::max()>
TResult<IncompleteDwtExecutorHandle<float>> make_path_bank(BorderMode mode,
                                                           std::span<const float> low_pass) {
  std::optional<TResult<IncompleteDwtExecutorHandle<float>>> made;
  const auto try_count = [&]<std::size_t L>() {
    if constexpr (L <= kLongest) {
      if (low_pass.size() == L) {
        made.emplace(try_make_shared<Fixed<L>>(mode, low_pass.first<L>()));
        return true;
      }
    }
    return false;
  };
  [&]<std::size_t... L>(std::index_sequence<L...>) {
    (try_count.template operator()<L>() || ...);
  }(FixedTapCounts{});
  if (made) return std::move(*made);
  return make_n_taps_bank<Generic>(mode, low_pass);
}

// The portable bank for low_pass.size() taps: FixedTapsBank<L> for the counts
// of FixedTapCounts, the generic WaveletNTaps otherwise.
TResult<IncompleteDwtExecutorHandle<float>> make_bank_f32(BorderMode mode,
                                                          std::span<const float> low_pass);

}  // namespace tessary
