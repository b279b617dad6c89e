// Multi-level forward plus inverse lifting transforms (8 levels), portable
// and AVX side by side, for CDF 5/3 and CDF 9/7, two ways:
//   lifting/...        multi_dwt + multi_idwt, what a caller pays, including
//                      the first touch of every freshly allocated band;
//   lifting_steps/...  the same levels through execute_forward and
//                      execute_inverse into buffers allocated once, so the
//                      kernels' own speed shows.
// bench/transforms.py runs these next to PyWavelets on the same data. The signal comes from the raw
// float32 file named by CORVANE_BENCH_SIGNAL when set (so that both sides
// see the same samples), otherwise from a fixed pseudo-random generator.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "cpu/cpu_features.h"
#include "lifting/cdf53.h"
#include "lifting/cdf97.h"
#if TESSARY_HAVE_X86_KERNELS
#include "avx/cdf53.h"
#include "avx/cdf97.h"
#endif

namespace {

using tessary::DwtExecutor;

constexpr std::uint64_t kLevels = 8;

std::vector<float> signal_of_length(std::uint64_t n) {
  std::vector<float> x;
  if (const char* path = std::getenv("CORVANE_BENCH_SIGNAL")) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    x.resize(bytes.size() / sizeof(float));
    std::copy(bytes.begin(), bytes.begin() + x.size() * sizeof(float),
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

template <class Executor>
void lifting_round_trip(benchmark::State& state, bool needs_avx) {
  if (needs_avx && tessary::choose_lifting_path(tessary::cpu_features()) !=
                       tessary::KernelPath::Avx) {
    state.SkipWithError("this processor lacks AVX2 with FMA");
    return;
  }
  const Executor executor;
  const DwtExecutor<float>& dwt = executor;
  const std::vector<float> x = signal_of_length(static_cast<std::uint64_t>(state.range(0)));
  for (auto _ : state) {
    auto forward = dwt.multi_dwt(x, kLevels);
    if (!forward.ok()) {
      state.SkipWithError("multi_dwt failed");
      return;
    }
    tessary::MultiDwtRef<float> bands;
    for (const auto& level : forward.value().levels) bands.details.emplace_back(level.details);
    bands.approximation = forward.value().levels.back().approximations;
    auto inverse = dwt.multi_idwt(bands);
    if (!inverse.ok()) {
      state.SkipWithError("multi_idwt failed");
      return;
    }
    benchmark::DoNotOptimize(inverse.value().data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

template <class Executor>
void lifting_steps_round_trip(benchmark::State& state, bool needs_avx) {
  if (needs_avx && tessary::choose_lifting_path(tessary::cpu_features()) !=
                       tessary::KernelPath::Avx) {
    state.SkipWithError("this processor lacks AVX2 with FMA");
    return;
  }
  const Executor executor;
  const DwtExecutor<float>& dwt = executor;
  const std::vector<float> x = signal_of_length(static_cast<std::uint64_t>(state.range(0)));
  std::vector<std::vector<float>> approximations(kLevels), details(kLevels), rebuilt(kLevels);
  std::uint64_t length = x.size();
  for (std::uint64_t k = 0; k < kLevels; ++k) {
    rebuilt[k].resize(length);
    approximations[k].resize(length - length / 2);
    details[k].resize(length / 2);
    length -= length / 2;
  }
  for (auto _ : state) {
    std::span<const float> input = x;
    for (std::uint64_t k = 0; k < kLevels; ++k) {
      if (!dwt.execute_forward(input, approximations[k], details[k]).ok()) {
        state.SkipWithError("execute_forward failed");
        return;
      }
      input = approximations[k];
    }
    for (std::uint64_t k = kLevels; k-- > 0;) {
      if (!dwt.execute_inverse(input, details[k], rebuilt[k]).ok()) {
        state.SkipWithError("execute_inverse failed");
        return;
      }
      input = rebuilt[k];
    }
    benchmark::DoNotOptimize(rebuilt[0].data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void register_lifting(const std::string& name, void (*fn)(benchmark::State&, bool), bool avx) {
  benchmark::RegisterBenchmark(name.c_str(), fn, avx)
      ->Arg(1 << 16)
      ->Arg(1000000)
      ->Unit(benchmark::kMillisecond);
}

const bool kRegistered = [] {
  using tessary::Cdf53;
  using tessary::Cdf97;
  register_lifting("lifting/cdf53/portable", lifting_round_trip<Cdf53>, false);
  register_lifting("lifting/cdf97/portable", lifting_round_trip<Cdf97>, false);
  register_lifting("lifting_steps/cdf53/portable", lifting_steps_round_trip<Cdf53>, false);
  register_lifting("lifting_steps/cdf97/portable", lifting_steps_round_trip<Cdf97>, false);
#if TESSARY_HAVE_X86_KERNELS
  using tessary::avx::AvxCdf53;
  using tessary::avx::AvxCdf97;
  register_lifting("lifting/cdf53/avx", lifting_round_trip<AvxCdf53>, true);
  register_lifting("lifting/cdf97/avx", lifting_round_trip<AvxCdf97>, true);
  register_lifting("lifting_steps/cdf53/avx", lifting_steps_round_trip<AvxCdf53>, true);
  register_lifting("lifting_steps/cdf97/avx", lifting_steps_round_trip<AvxCdf97>, true);
#endif
  return true;
}();

}  // namespace
