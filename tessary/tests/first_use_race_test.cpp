// The engine's process-wide choices (the cached feature word and the padding
// writer) are made on first use. This binary has a single test and nothing runs before it, so
// its threads really are the first callers: they are released together and
// each reaches the choices in a different order. A torn or doubly made choice
// shows up as a disagreement with the values read afterwards (and as a report
// under ThreadSanitizer, which picks up the Concurrent* suites).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <latch>
#include <thread>
#include <vector>

#include "banks/arena.h"
#include "cpu/cpu_features.h"
#include "tessary.h"

namespace tessary {
namespace {

constexpr int kThreads = 8;

struct Observed {
  CpuFeatures features = 0;
  ArenaWriter writer = nullptr;
  const void* cdf53 = nullptr;
  const void* cdf97 = nullptr;
  // The portable lifting instances, made on first use like the detected ones.
  const void* portable_cdf53 = nullptr;
  const void* portable_cdf97 = nullptr;
  std::uint64_t sse_db4_taps = 0;  // from the SSE bank set, whatever this processor has
  std::vector<float> db4;
  std::vector<float> sym7;  // 14 taps: the generic bank, which pads through the writer
  std::vector<float> cdf97_bands;
};

std::vector<float> signal_of(std::size_t n) {
  std::vector<float> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<float>(std::sin(0.05 * static_cast<double>(i)));
  return v;
}

std::vector<float> flattened(const DwtExecutorHandle<float>& executor, const std::vector<float>& x) {
  std::vector<float> out;
  auto r = executor->multi_dwt(x, 3);
  if (!r.ok()) return out;
  for (const auto& level : r.value().levels) {
    out.insert(out.end(), level.details.begin(), level.details.end());
  }
  const auto& deepest = r.value().levels.back().approximations;
  out.insert(out.end(), deepest.begin(), deepest.end());
  return out;
}

// One entry point per step, taken in a thread-dependent rotation.
void step(int which, Observed& o, const std::vector<float>& x) {
  switch (which) {
    case 0:
      o.features = cpu_features();
      break;
    case 1:
      o.writer = chosen_arena_writer();
      break;
    case 2:
      o.cdf53 = Tessary::make_cdf53_f32().get();
      break;
    case 3: {
      const auto cdf97 = Tessary::make_cdf97_f32();
      o.cdf97 = cdf97.get();
      o.cdf97_bands = flattened(cdf97, x);
      break;
    }
    case 4:
      o.db4 = flattened(Tessary::make_daubechies_f32(DaubechiesFamily::Db4, BorderMode::Wrap), x);
      break;
    case 5:
      o.sym7 = flattened(Tessary::make_symlet_f32(SymletFamily::Sym7, BorderMode::Reflect), x);
      break;
    default:
      o.portable_cdf53 = Tessary::make_cdf53_f32(0).value().get();
      o.portable_cdf97 = Tessary::make_cdf97_f32(0).value().get();
      // Only built, not run: the host may lack SSE4.2.
      o.sse_db4_taps = Tessary::make_daubechies_f32(kCpuSse41 | kCpuSse42, DaubechiesFamily::Db4,
                                                    BorderMode::Wrap)
                           .value()
                           ->filter_length();
      break;
  }
}

constexpr int kSteps = 7;

bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
  return !a.empty() && a.size() == b.size() &&
         std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST(ConcurrentFirstUse, RacingFirstCallersAllSeeTheSingleChoiceOfThisProcessor) {
  const std::vector<float> x = signal_of(1000);
  std::vector<Observed> seen(kThreads);
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int k = 0; k < kSteps; ++k) step((t + k) % kSteps, seen[t], x);
    });
  }
  for (auto& thread : threads) thread.join();

  // Everything is settled now; these are the values every caller must have had.
  Observed settled;
  for (int k = 0; k < kSteps; ++k) step(k, settled, x);
  const CpuFeatures detected = features_from_readings(read_cpuid());
  EXPECT_EQ(settled.features, detected);
  EXPECT_EQ(settled.writer, arena_writer(choose_arena_writer_path(detected)));
  for (int t = 0; t < kThreads; ++t) {
    SCOPED_TRACE("thread " + std::to_string(t));
    EXPECT_EQ(seen[t].features, detected);
    EXPECT_EQ(seen[t].writer, settled.writer);
    // The lifting executors are one shared instance per process.
    EXPECT_EQ(seen[t].cdf53, settled.cdf53);
    EXPECT_EQ(seen[t].cdf97, settled.cdf97);
    EXPECT_EQ(seen[t].portable_cdf53, settled.portable_cdf53);
    EXPECT_EQ(seen[t].portable_cdf97, settled.portable_cdf97);
    EXPECT_EQ(seen[t].sse_db4_taps, 8u);
    EXPECT_TRUE(same_bits(seen[t].cdf97_bands, settled.cdf97_bands));
    EXPECT_TRUE(same_bits(seen[t].db4, settled.db4));
    EXPECT_TRUE(same_bits(seen[t].sym7, settled.sym7));
  }
}

}  // namespace
}  // namespace tessary
