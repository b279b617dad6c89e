// Multi-level forward plus inverse through the executors the codec itself
// uses (whatever the factories choose on this processor), 8 levels, one
// benchmark per method: codec_transform/<method>/<length>. The label names
// the dispatch path. bench/peers.py runs these beside PyWavelets on the
// samples of the raw float32 file named by CORVANE_BENCH_SIGNAL (a fixed
// pseudo-random signal when unset).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "cpu/cpu_features.h"
#include "methods.h"

namespace {

using corvane::CompressionMethod;

constexpr std::uint64_t kLevels = 8;

std::vector<float> bench_signal(std::uint64_t n) {
  std::vector<float> x;
  if (const char* path = std::getenv("CORVANE_BENCH_SIGNAL")) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    x.resize(bytes.size() / sizeof(float));
    std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(x.size() * sizeof(float)),
              reinterpret_cast<char*>(x.data()));
  }
  if (x.size() < n) {
    std::mt19937 rng(1234);
    std::normal_distribution<float> dist(0.0f, 1.0f);
    x.resize(n);
    for (float& v : x) v = dist(rng);
  }
  x.resize(n);
  return x;
}

const char* path_name(tessary::KernelPath path) {
  switch (path) {
    case tessary::KernelPath::Avx: return "avx";
    case tessary::KernelPath::Sse: return "sse";
    case tessary::KernelPath::Portable: break;
  }
  return "portable";
}

void round_trip(benchmark::State& state, CompressionMethod method) {
  const auto features = tessary::cpu_features();
  const bool lifting = method == CompressionMethod::Cdf53 || method == CompressionMethod::Cdf97;
  state.SetLabel(path_name(lifting ? tessary::choose_lifting_path(features)
                                   : tessary::choose_filter_bank_path(features)));
  const auto executor = corvane::make_executor(method, features).value();
  const std::vector<float> x = bench_signal(static_cast<std::uint64_t>(state.range(0)));
  for (auto _ : state) {
    auto forward = executor->multi_dwt(x, kLevels);
    if (!forward.ok()) return state.SkipWithError("multi_dwt failed");
    tessary::MultiDwtRef<float> bands;
    for (const auto& level : forward.value().levels) bands.details.emplace_back(level.details);
    bands.approximation = forward.value().levels.back().approximations;
    auto inverse = executor->multi_idwt(bands);
    if (!inverse.ok()) return state.SkipWithError("multi_idwt failed");
    benchmark::DoNotOptimize(inverse.value().data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

const bool kRegistered = [] {
  for (const corvane::MethodRow& method : corvane::kMethodRows) {
    benchmark::RegisterBenchmark(("codec_transform/" + std::string(method.name)).c_str(),
                                 round_trip, method.value)
        ->Arg(1000000)
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}();

}  // namespace
