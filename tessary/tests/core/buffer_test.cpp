#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <numeric>
#include <optional>
#include <thread>
#include <vector>

#include "core/buffer.h"

namespace tessary {
namespace {

// Element counts on both sides of the huge-page threshold, and one spanning
// several huge pages with a partial last one.
constexpr std::uint64_t kFloatsAtThreshold = kLargeBufferBytes / sizeof(float);
const std::uint64_t kCounts[] = {1, 1000, kFloatsAtThreshold - 1, kFloatsAtThreshold,
                                 3 * kHugePageBytes / sizeof(float) + 5};

class BufferSizes : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(BufferSizes, ZeroedBuffersReadZeroAndLargeOnesSitOnHugePageBoundaries) {
  const std::uint64_t n = GetParam();
  auto b = Buffer<float>::zeroed(n);
  ASSERT_TRUE(b.ok());
  ASSERT_EQ(b.value().size(), n);
  EXPECT_GE(b.value().capacity(), n);
  for (std::uint64_t i = 0; i < n; ++i) ASSERT_EQ(b.value()[i], 0.0f) << i;
  if (n * sizeof(float) >= kLargeBufferBytes) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.value().data()) % kHugePageBytes, 0u);
  }
}

// Elements a shrink cut off must not come back when the buffer grows again,
// within its capacity or into a new block.
TEST_P(BufferSizes, GrowingAfterAShrinkKeepsThePrefixAndZeroesTheRest) {
  const std::uint64_t n = GetParam();
  auto made = Buffer<float>::for_overwrite(n);
  ASSERT_TRUE(made.ok());
  Buffer<float> b = std::move(made).value();
  std::iota(b.begin(), b.end(), 1.0f);
  const std::uint64_t kept = n / 2;
  ASSERT_TRUE(b.resize(kept).ok());
  const float* before = b.data();
  ASSERT_TRUE(b.resize(n).ok());
  EXPECT_EQ(b.data(), before);  // within the capacity: nothing moves
  for (std::uint64_t i = 0; i < n; ++i) {
    ASSERT_EQ(b[i], i < kept ? static_cast<float>(i + 1) : 0.0f) << i;
  }
  std::iota(b.begin(), b.end(), 1.0f);
  ASSERT_TRUE(b.resize(kept).ok());
  const std::uint64_t bigger = b.capacity() + 3;
  ASSERT_TRUE(b.resize(bigger).ok());
  ASSERT_EQ(b.size(), bigger);
  for (std::uint64_t i = 0; i < bigger; ++i) {
    ASSERT_EQ(b[i], i < kept ? static_cast<float>(i + 1) : 0.0f) << i;
  }
}

// A buffer reused for a smaller or larger zeroed result is all zeroes,
// whatever it held before; it stays in place while it fits.
TEST_P(BufferSizes, AssignZeroesClearsWhatWasWritten) {
  const std::uint64_t n = GetParam();
  auto made = Buffer<float>::zeroed(n / 2, n);
  ASSERT_TRUE(made.ok());
  Buffer<float> b = std::move(made).value();
  ASSERT_GE(b.capacity(), n);
  std::fill(b.begin(), b.end(), 7.0f);
  const float* before = b.data();
  ASSERT_TRUE(b.assign_zeroes(n).ok());
  EXPECT_EQ(b.data(), before);
  ASSERT_EQ(b.size(), n);
  for (std::uint64_t i = 0; i < n; ++i) ASSERT_EQ(b[i], 0.0f) << i;
  std::fill(b.begin(), b.end(), 7.0f);
  ASSERT_TRUE(b.assign_zeroes(n / 3).ok());
  for (std::uint64_t i = 0; i < n / 3; ++i) ASSERT_EQ(b[i], 0.0f) << i;
  ASSERT_TRUE(b.assign_zeroes(b.capacity() + 1).ok());
  for (std::uint64_t i = 0; i < b.size(); ++i) ASSERT_EQ(b[i], 0.0f) << i;
}

// The uncleared resizes keep what was there, and what the caller then
// writes is still known to need clearing: a later zeroing call or a zeroing
// grow must not trust it to be the zeroes of a fresh mapping.
TEST_P(BufferSizes, OverwriteResizesKeepDataAndTrackWrites) {
  const std::uint64_t n = GetParam();
  auto made = Buffer<float>::for_overwrite(0, n);
  ASSERT_TRUE(made.ok());
  Buffer<float> b = std::move(made).value();
  ASSERT_TRUE(b.assign_for_overwrite(n / 2).ok());
  std::fill(b.begin(), b.end(), 3.0f);
  ASSERT_TRUE(b.resize_for_overwrite(n).ok());
  for (std::uint64_t i = 0; i < n / 2; ++i) ASSERT_EQ(b[i], 3.0f) << i;
  std::fill(b.begin(), b.end(), 5.0f);
  ASSERT_TRUE(b.resize(1).ok());
  ASSERT_TRUE(b.resize(n).ok());
  for (std::uint64_t i = 1; i < n; ++i) ASSERT_EQ(b[i], 0.0f) << i;
  std::fill(b.begin(), b.end(), 5.0f);
  ASSERT_TRUE(b.resize_for_overwrite(b.capacity() + 7).ok());
  for (std::uint64_t i = 0; i < n; ++i) ASSERT_EQ(b[i], 5.0f) << i;
  std::fill(b.begin(), b.end(), 6.0f);
  ASSERT_TRUE(b.assign_zeroes(b.size()).ok());
  for (std::uint64_t i = 0; i < b.size(); ++i) ASSERT_EQ(b[i], 0.0f) << i;
}

// A grow without clearing may land in a reused mapping rounded up past the
// requested size; what lies beyond must still count as written, so that a
// later zeroing grow clears it.
TEST(BufferReuse, OverwriteGrowKeepsTheSpareCapacityDirty) {
  const std::uint64_t n = 3 * (kLargeBufferBytes / sizeof(float));
  {
    auto used = Buffer<float>::for_overwrite(n + kHugePageBytes / sizeof(float));
    ASSERT_TRUE(used.ok());
    std::fill(used.value().begin(), used.value().end(), 9.0f);
  }
  auto made = Buffer<float>::for_overwrite(16);
  ASSERT_TRUE(made.ok());
  Buffer<float> b = std::move(made).value();
  ASSERT_TRUE(b.resize_for_overwrite(n).ok());
  std::fill(b.begin(), b.end(), 1.0f);
  ASSERT_GT(b.capacity(), n);
  ASSERT_TRUE(b.resize(b.capacity()).ok());
  for (std::uint64_t i = n; i < b.size(); ++i) ASSERT_EQ(b[i], 0.0f) << i;
}

// Released large blocks are handed out again; whatever they held must not
// show through a zeroed buffer or a buffer's growth.
TEST_P(BufferSizes, ReusedBlocksComeBackCleared) {
  const std::uint64_t n = GetParam();
  for (int round = 0; round < 3; ++round) {
    {
      auto used = Buffer<float>::for_overwrite(n + 2 * kHugePageBytes / sizeof(float));
      ASSERT_TRUE(used.ok());
      std::fill(used.value().begin(), used.value().end(), 9.0f);
      auto other = Buffer<float>::for_overwrite(n);
      ASSERT_TRUE(other.ok());
      std::fill(other.value().begin(), other.value().end(), 8.0f);
    }
    auto b = Buffer<float>::zeroed(n);
    ASSERT_TRUE(b.ok());
    for (std::uint64_t i = 0; i < n; ++i) ASSERT_EQ(b.value()[i], 0.0f) << i;
    ASSERT_TRUE(b.value().resize(b.value().capacity()).ok());
    for (std::uint64_t i = 0; i < b.value().size(); ++i) ASSERT_EQ(b.value()[i], 0.0f) << i;
    auto grown = Buffer<float>::for_overwrite(1);
    ASSERT_TRUE(grown.ok());
    grown.value()[0] = 1.0f;
    ASSERT_TRUE(grown.value().resize(n + 1).ok());
    for (std::uint64_t i = 1; i <= n; ++i) ASSERT_EQ(grown.value()[i], 0.0f) << i;
  }
}

// A large operation opens a scope so that its later buffers reuse the pages
// of its earlier ones; nothing beyond the usual cache may outlive the last
// scope, and a small buffer must not pin a much larger mapping.
constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
constexpr std::uint64_t kUsualCache = 32 * kMiB;

const float* released_large_block(std::uint64_t bytes) {
  auto used = Buffer<float>::for_overwrite(bytes / sizeof(float));
  EXPECT_TRUE(used.ok());
  if (!used.ok()) return nullptr;
  std::fill(used.value().begin(), used.value().end(), 9.0f);
  return used.value().data();
}

TEST(MappingReuse, AScopeKeepsLargeMappingsForTheOperationOnly) {
  const std::uint64_t before = cached_mapping_bytes();
  {
    const MappingReuseScope scope;
    const float* big = released_large_block(96 * kMiB);
    EXPECT_GE(cached_mapping_bytes(), before + 96 * kMiB);
    // Too small to take it: a 2 MiB buffer gets a mapping of its own.
    auto small = Buffer<float>::for_overwrite(2 * kMiB / sizeof(float));
    ASSERT_TRUE(small.ok());
    EXPECT_NE(small.value().data(), big);
    // A buffer more than half its length takes it, and a zeroed one reads zeros.
    auto reused = Buffer<float>::zeroed(60 * kMiB / sizeof(float));
    ASSERT_TRUE(reused.ok());
    EXPECT_EQ(reused.value().data(), big);
    EXPECT_TRUE(std::all_of(reused.value().begin(), reused.value().end(),
                            [](float v) { return v == 0.0f; }));
  }
  EXPECT_LE(cached_mapping_bytes(), kUsualCache);
}

TEST(MappingReuse, WithoutAScopeLargeMappingsAreUnmapped) {
  released_large_block(96 * kMiB);
  EXPECT_LE(cached_mapping_bytes(), kUsualCache);
}

TEST(MappingReuse, OnlyTheLastScopeCutsTheCacheBack) {
  std::optional<MappingReuseScope> outer;
  outer.emplace();
  {
    const MappingReuseScope inner;
    released_large_block(96 * kMiB);
  }
  EXPECT_GE(cached_mapping_bytes(), 96 * kMiB);
  outer.reset();
  EXPECT_LE(cached_mapping_bytes(), kUsualCache);
}

// Calls on several threads open and close scopes at once: a block released
// by one thread and taken by another must come back cleared, and once every
// scope has ended the cache is back within its usual bound.
TEST(ConcurrentMappingReuse, ScopesOnManyThreadsHandOutClearedBlocks) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 10;
  std::atomic<int> faults{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &faults] {
      const std::uint64_t n = (6 + 2 * static_cast<std::uint64_t>(t)) * kMiB / sizeof(float);
      for (int round = 0; round < kRounds; ++round) {
        const MappingReuseScope scope;
        {
          auto a = Buffer<float>::for_overwrite(n);
          auto b = Buffer<float>::for_overwrite(n + 1);
          if (!a.ok() || !b.ok()) {
            ++faults;
            return;
          }
          std::fill(a.value().begin(), a.value().end(), 1.0f + static_cast<float>(t));
          std::fill(b.value().begin(), b.value().end(), -1.0f);
        }
        auto z = Buffer<float>::zeroed(n);
        if (!z.ok() || !std::all_of(z.value().begin(), z.value().end(),
                                    [](float v) { return v == 0.0f; })) {
          ++faults;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(faults.load(), 0);
  EXPECT_LE(cached_mapping_bytes(), kUsualCache);
}

INSTANTIATE_TEST_SUITE_P(Counts, BufferSizes, ::testing::ValuesIn(kCounts),
                         [](const ::testing::TestParamInfo<std::uint64_t>& param) {
                           return "floats_" + std::to_string(param.param);
                         });

TEST(Buffer, ImpossibleSizesFailAsValuesWithTheBytesAskedFor) {
  auto mapped = Buffer<float>::for_overwrite(std::uint64_t{1} << 60);
  ASSERT_FALSE(mapped.ok());
  EXPECT_EQ(mapped.error(), make_error(TessaryErrorKind::AllocationFailed, std::uint64_t{1} << 62));
  auto wrapping = Buffer<float>::zeroed(std::uint64_t{1} << 63);
  ASSERT_FALSE(wrapping.ok());
  EXPECT_EQ(wrapping.error().kind, TessaryErrorKind::AllocationFailed);
  Buffer<std::uint8_t> small;
  const TResult<> grown = small.resize(std::uint64_t{1} << 63);
  ASSERT_FALSE(grown.ok());
  EXPECT_EQ(grown.error(), make_error(TessaryErrorKind::AllocationFailed, std::uint64_t{1} << 63));
  EXPECT_TRUE(small.empty());
}

TEST(Buffer, MovesHandOverTheBlockAndEmptyBuffersCompareByContents) {
  auto made = Buffer<std::int16_t>::for_overwrite(3);
  ASSERT_TRUE(made.ok());
  Buffer<std::int16_t> a = std::move(made).value();
  a[0] = 1;
  a[1] = -2;
  a[2] = 3;
  const std::int16_t* block = a.data();
  Buffer<std::int16_t> b = std::move(a);
  EXPECT_EQ(b.data(), block);
  EXPECT_TRUE(a.empty());  // NOLINT(bugprone-use-after-move): moved-from state is specified
  EXPECT_EQ(b, (std::vector<std::int16_t>{1, -2, 3}));
  EXPECT_FALSE(b == (std::vector<std::int16_t>{1, -2}));
  EXPECT_EQ(Buffer<std::int16_t>(), std::vector<std::int16_t>{});
}

}  // namespace
}  // namespace tessary
