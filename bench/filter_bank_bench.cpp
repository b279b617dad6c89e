// Multi-level forward plus inverse through the portable filter banks, the
// transform behind the codec's db4 and sym4 methods (8 taps, periodic
// border). bench/filter_banks.py runs these beside PyWavelets.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "completed.h"
#include "dwt_factory.h"
#include "wavelet_families.h"
#include "wavelet_tables.h"

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

void forward_and_inverse(benchmark::State& state, std::span<const double> table) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const std::uint64_t levels = static_cast<std::uint64_t>(state.range(1));
  const CompletedDwtExecutor executor(
      make_filter_bank(make_dwt_factory(KernelPath::Portable), table, BorderMode::Wrap));
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

void BM_FilterBankPortableDb4(benchmark::State& state) {
  forward_and_inverse(state, daubechies_table(DaubechiesFamily::Db4));
}
BENCHMARK(BM_FilterBankPortableDb4)
    ->Args({1000000, 8})
    ->Args({10000, 5})
    ->Unit(benchmark::kMillisecond);

// A generic-bank member (14 taps) for comparison with the fixed ones.
void BM_FilterBankPortableDb7(benchmark::State& state) {
  forward_and_inverse(state, daubechies_table(DaubechiesFamily::Db7));
}
BENCHMARK(BM_FilterBankPortableDb7)->Args({1000000, 8})->Unit(benchmark::kMillisecond);

}  // namespace
