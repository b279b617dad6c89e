// Multi-level forward plus inverse through the filter banks of each processor
// path (portable, SSE, AVX): the 8-tap bank behind the codec's db4 and sym4
// methods (periodic border), and a generic-bank member (14 taps).
// bench/filter_banks.py runs the 8-tap rows beside PyWavelets.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "banks/factory.h"
#include "banks/tables.h"
#include "cpu/cpu_features.h"
#include "multilevel.h"

namespace {

using namespace tessary;

std::vector<float> test_signal(std::size_t n) {
  std::vector<float> x(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i);
    x[i] = static_cast<float>(std::sin(t * 0.01) + 0.3 * std::sin(t * 0.37) + 0.05 * std::cos(t * 2.1));
  }
  return x;
}

void forward_and_inverse(benchmark::State& state, KernelPath path, std::span<const double> table) {
  if (!supports(cpu_features(), path)) {
    return state.SkipWithError("this processor lacks the instruction set");
  }
  const auto n = static_cast<std::size_t>(state.range(0));
  const std::uint64_t levels = static_cast<std::uint64_t>(state.range(1));
  auto bank = make_filter_bank_f32(path, BorderMode::Wrap, table);
  if (!bank.ok()) return state.SkipWithError("out of memory");
  const CompletedDwtExecutor executor(std::move(bank).value());
  const std::vector<float> x = test_signal(n);
  for (auto _ : state) {
    auto m = executor.multi_dwt(x, levels);
    if (!m.ok()) return state.SkipWithError("multi_dwt failed");
    MultiDwtRef<float> r;
    for (const Dwt<float>& level : m.value().levels) r.details.emplace_back(level.details);
    r.approximation = m.value().levels.back().approximations;
    auto y = executor.multi_idwt(r);
    if (!y.ok()) return state.SkipWithError("multi_idwt failed");
    benchmark::DoNotOptimize(y.value().data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
}

void BM_FilterBankDb4(benchmark::State& state, KernelPath path) {
  forward_and_inverse(state, path, scaling_filter(DaubechiesFamily::Db4));
}
BENCHMARK_CAPTURE(BM_FilterBankDb4, Portable, KernelPath::Portable)
    ->Args({1000000, 8})->Args({10000, 5})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FilterBankDb4, Sse, KernelPath::Sse)
    ->Args({1000000, 8})->Args({10000, 5})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FilterBankDb4, Avx, KernelPath::Avx)
    ->Args({1000000, 8})->Args({10000, 5})->Unit(benchmark::kMillisecond);

// A generic-bank member (14 taps) for comparison with the fixed ones.
void BM_FilterBankDb7(benchmark::State& state, KernelPath path) {
  forward_and_inverse(state, path, scaling_filter(DaubechiesFamily::Db7));
}
BENCHMARK_CAPTURE(BM_FilterBankDb7, Portable, KernelPath::Portable)
    ->Args({1000000, 8})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FilterBankDb7, Sse, KernelPath::Sse)
    ->Args({1000000, 8})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FilterBankDb7, Avx, KernelPath::Avx)
    ->Args({1000000, 8})->Unit(benchmark::kMillisecond);

}  // namespace
