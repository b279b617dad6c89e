// Running out of memory inside the engine. Every allocation that can throw
// goes through one helper, which must turn the failure into AllocationFailed
// carrying exactly the bytes that were asked for; the facade's makers and the
// executors must hand that back (the makers for this processor an empty handle)
// instead of letting an exception out. This binary replaces the global
// operator new so that a test can make one chosen allocation fail.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "core/memory.h"
#include "engine_test_support.h"
#include "tessary.h"

// The operator new below takes its memory from malloc, so its operator
// delete frees it; the compiler cannot see that pairing.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

// Allocations to let through before the one that fails; -1 when none fails.
constinit std::atomic<long> g_passes_left{-1};
constinit std::atomic<std::size_t> g_failed_bytes{0};

}  // namespace

void* operator new(std::size_t bytes) {
  const long left = g_passes_left.load(std::memory_order_relaxed);
  if (left == 0) {
    g_passes_left.store(-1, std::memory_order_relaxed);
    g_failed_bytes.store(bytes, std::memory_order_relaxed);
    throw std::bad_alloc();
  }
  if (left > 0) g_passes_left.store(left - 1, std::memory_order_relaxed);
  if (void* p = std::malloc(bytes == 0 ? 1 : bytes)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace tessary {
namespace {

using testing_support::random_signal;

// While alive, the allocation after `passes` others fails.
class FailingAllocation {
 public:
  explicit FailingAllocation(long passes) {
    g_failed_bytes.store(0);
    g_passes_left.store(passes);
  }
  ~FailingAllocation() { g_passes_left.store(-1); }
  FailingAllocation(const FailingAllocation&) = delete;
  FailingAllocation& operator=(const FailingAllocation&) = delete;

  // The bytes of the allocation that failed, 0 when none did.
  std::uint64_t failed_bytes() const { return g_failed_bytes.load(); }
};

TEST(AllocationHelper, ReportsTheBytesOperatorNewWasAskedFor) {
  std::vector<float> v(3, 1.0f);
  {
    const FailingAllocation failing(0);
    auto grown = try_resize(v, 1000);
    ASSERT_FALSE(grown.ok());
    EXPECT_EQ(grown.error(), make_error(TessaryErrorKind::AllocationFailed, 4000));
    EXPECT_EQ(failing.failed_bytes(), 4000u);
  }
  EXPECT_EQ(v, std::vector<float>(3, 1.0f));

  struct Large {
    double values[40];
  };
  const FailingAllocation failing(0);
  auto shared = try_make_shared<Large>();
  ASSERT_FALSE(shared.ok());
  // The one block of object and reference counts, larger than the object.
  EXPECT_GT(failing.failed_bytes(), sizeof(Large));
  EXPECT_EQ(shared.error(), make_error(TessaryErrorKind::AllocationFailed, failing.failed_bytes()));
}

struct MakerCase {
  std::string name;
  CpuFeatures features;
  bool symlet;
  int member;
};

void PrintTo(const MakerCase& c, std::ostream* os) { *os << c.name; }

TResult<DwtExecutorHandle<float>> make(const MakerCase& c) {
  return c.symlet ? Tessary::make_symlet_f32(c.features, static_cast<SymletFamily>(c.member),
                                             BorderMode::Wrap)
                  : Tessary::make_daubechies_f32(
                        c.features, static_cast<DaubechiesFamily>(c.member), BorderMode::Wrap);
}

class FamilyMakers : public ::testing::TestWithParam<MakerCase> {};

// Each allocation a maker makes, failed in turn: the rounded table, the
// bank (and a generic bank's coefficients), the multi-level wrapper.
TEST_P(FamilyMakers, EachFailedAllocationIsAllocationFailedWithItsBytes) {
  const MakerCase& c = GetParam();
  int failures = 0;
  for (long passes = 0;; ++passes) {
    ASSERT_LT(passes, 20) << "the maker never succeeded";
    const FailingAllocation failing(passes);
    auto made = make(c);
    if (made.ok()) {
      EXPECT_EQ(failing.failed_bytes(), 0u);
      break;
    }
    ++failures;
    EXPECT_EQ(made.error(), make_error(TessaryErrorKind::AllocationFailed, failing.failed_bytes()))
        << "allocation " << passes;
  }
  EXPECT_GE(failures, 3);
}

constexpr CpuFeatures kSse = kCpuSse41 | kCpuSse42;
constexpr CpuFeatures kAvx = kSse | kCpuAvx | kCpuAvx2 | kCpuFma;

INSTANTIATE_TEST_SUITE_P(
    Paths, FamilyMakers,
    ::testing::Values(MakerCase{"PortableDb4", 0, false, 3}, MakerCase{"PortableDb7", 0, false, 6},
                      MakerCase{"SseSym4", kSse, true, 2}, MakerCase{"SseDb8", kSse, false, 7},
                      MakerCase{"AvxDb4", kAvx, false, 3}, MakerCase{"AvxSym7", kAvx, true, 5}),
    [](const auto& p) { return p.param.name; });

TEST(FamilyMakers, WithoutAWordGiveAnEmptyHandle) {
  {
    const FailingAllocation failing(0);
    EXPECT_EQ(Tessary::make_daubechies_f32(DaubechiesFamily::Db4, BorderMode::Wrap), nullptr);
  }
  const FailingAllocation failing(0);
  EXPECT_EQ(Tessary::make_symlet_f32(SymletFamily::Sym4, BorderMode::Wrap), nullptr);
}

// The lifting executors are process-wide objects: handing one out allocates
// nothing, so it cannot fail.
TEST(LiftingMakers, AllocateNothing) {
  for (const CpuFeatures word : {CpuFeatures{0}, kAvx}) {
    const FailingAllocation failing(0);
    EXPECT_TRUE(Tessary::make_cdf53_f32(word).ok());
    EXPECT_TRUE(Tessary::make_cdf97_f32(word).ok());
    EXPECT_NE(Tessary::make_cdf97_f32(), nullptr);
    EXPECT_EQ(failing.failed_bytes(), 0u);
  }
}

// The multi-level operations on the portable executors: whichever allocation
// fails, the call returns AllocationFailed with its bytes.
TEST(MultiLevel, FailedAllocationsAreValues) {
  const std::vector<float> x = random_signal(1000, 5);
  for (const auto& executor : {Tessary::make_cdf97_f32(0).value(),
                               Tessary::make_daubechies_f32(0, DaubechiesFamily::Db7,
                                                            BorderMode::Wrap)
                                   .value()}) {
    int failures = 0;
    for (long passes = 0;; ++passes) {
      ASSERT_LT(passes, 20) << "multi_dwt never succeeded";
      const FailingAllocation failing(passes);
      auto levels = executor->multi_dwt(x, 3);
      if (levels.ok()) break;
      ++failures;
      EXPECT_EQ(levels.error(),
                make_error(TessaryErrorKind::AllocationFailed, failing.failed_bytes()));
    }
    EXPECT_GE(failures, 1);
  }
}

}  // namespace
}  // namespace tessary
