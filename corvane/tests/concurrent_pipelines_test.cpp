// Compression and decompression from many threads at once must give exactly
// the bytes and samples of the same calls made one at a time: the pipelines
// share only the cached feature word, the padding-writer choice and the
// shared executors, and none of those may carry per-call state. The suites
// are named Concurrent* so that the ThreadSanitizer run picks them up.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <latch>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "compressor.h"
#include "decompressor.h"
#include "header.h"

namespace corvane {
namespace {

using Bytes = tessary::Buffer<std::uint8_t>;

constexpr int kThreads = 8;
constexpr int kRounds = 3;

struct Job {
  std::vector<float> signal;
  std::vector<double> wide;  // when non-empty, compressed instead of `signal`
  CompressionOptions options;
  Bytes container;             // single-threaded result
  tessary::Buffer<float> decoded;  // single-threaded result
};

std::vector<float> signal_of(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0.0f, 0.3f);
  std::vector<float> v(n);
  for (std::size_t i = 0; i < n; ++i) {
    v[i] = static_cast<float>(std::sin(0.013 * static_cast<double>(i) * (1 + seed % 5))) + noise(rng);
  }
  return v;
}

CResult<Bytes> compress_job(const Job& job) {
  if (!job.wide.empty()) return compress(std::span<const double>(job.wide), job.options);
  return compress(std::span<const float>(job.signal), job.options);
}

// Every method, coder, cut-off and several scales and lengths (shorter than
// the filter, odd, and long enough for 8 levels), one float64 input each.
std::vector<Job> make_jobs() {
  constexpr CompressionMethod kMethods[] = {CompressionMethod::Cdf53, CompressionMethod::Cdf97,
                                            CompressionMethod::Db4, CompressionMethod::Sym4};
  constexpr EntropyCoder kCoders[] = {EntropyCoder::Deflate, EntropyCoder::Arans,
                                      EntropyCoder::Auto};
  constexpr CutoffLevel kCutoffs[] = {CutoffLevel::Low, CutoffLevel::Medium, CutoffLevel::High};
  constexpr std::size_t kLengths[] = {3, 77, 1001, 4096, 20011};
  std::vector<Job> jobs;
  for (unsigned k = 0; k < 16; ++k) {
    Job job;
    job.signal = signal_of(kLengths[k % 5], k);
    if (k % 4 == 3) job.wide.assign(job.signal.begin(), job.signal.end());
    job.options = CompressionOptions::create(kMethods[k % 4], static_cast<std::uint8_t>(6 + k % 7),
                                             kCutoffs[k % 3], kCoders[(k / 4) % 3])
                      .value();
    auto container = compress_job(job);
    EXPECT_TRUE(container.ok());
    if (!container.ok()) continue;
    job.container = std::move(container).value();
    auto decoded = decompress(job.container);
    EXPECT_TRUE(decoded.ok());
    if (!decoded.ok()) continue;
    job.decoded = std::move(decoded).value();
    jobs.push_back(std::move(job));
  }
  return jobs;
}

bool same_bits(const tessary::Buffer<float>& a, const tessary::Buffer<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

TEST(ConcurrentPipelines, ManyThreadsReproduceTheSingleThreadedBytesAndSamples) {
  const std::vector<Job> jobs = make_jobs();
  ASSERT_EQ(jobs.size(), 16u);
  // Each thread records its mismatches; gtest assertions stay on this thread.
  std::vector<std::vector<std::string>> faults(kThreads);
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int round = 0; round < kRounds; ++round) {
        for (std::size_t i = 0; i < jobs.size(); ++i) {
          // Threads walk the jobs from different places, so that different
          // methods and coders overlap.
          const Job& job = jobs[(i + static_cast<std::size_t>(t) * 3) % jobs.size()];
          const std::string where = "thread " + std::to_string(t) + " job " +
                                    std::to_string(&job - jobs.data());
          auto container = compress_job(job);
          if (!container.ok() || container.value() != job.container) {
            faults[t].push_back(where + ": container differs");
            continue;
          }
          auto decoded = decompress(container.value());
          if (!decoded.ok() || !same_bits(decoded.value(), job.decoded)) {
            faults[t].push_back(where + ": samples differ");
          }
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_TRUE(faults[t].empty()) << faults[t].front();
  }
}

// Failing decodes run their error paths (early returns that release buffers
// and executors) beside successful ones.
TEST(ConcurrentPipelines, DamagedContainersFailTheSameWayOnEveryThread) {
  const std::vector<Job> jobs = make_jobs();
  ASSERT_FALSE(jobs.empty());
  using Copy = std::vector<std::uint8_t>;
  std::vector<Copy> damaged;
  for (const Job& job : jobs) {
    damaged.emplace_back(job.container.begin(), job.container.end() - 1);
    Copy body(job.container.begin(), job.container.end());
    for (std::size_t i = kHeaderLen; i < body.size(); i += 3) body[i] ^= 0x5A;
    damaged.push_back(body);
    Copy levels(job.container.begin(), job.container.end());
    levels[12] = 10;
    damaged.push_back(levels);
  }
  std::vector<std::string> expected;
  for (const Copy& b : damaged) {
    auto r = decompress(b);
    expected.push_back(r.ok() ? std::to_string(r.value().size()) : r.error().render());
  }
  std::vector<int> mismatches(kThreads, 0);
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (std::size_t i = 0; i < damaged.size(); ++i) {
        const std::size_t k = (i + static_cast<std::size_t>(t) * 5) % damaged.size();
        auto r = decompress(damaged[k]);
        const std::string got = r.ok() ? std::to_string(r.value().size()) : r.error().render();
        if (got != expected[k]) ++mismatches[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace corvane
