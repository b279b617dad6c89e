// The multi-level inverses take their outputs uncleared (the lifting steps
// and the fixed banks write every sample before reading it). Their results
// must not depend on what that memory held before: here it held NaN, both
// in the huge-page mappings kept for reuse and in the heap, and the result
// must equal the levels rebuilt one at a time into zero-filled outputs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "banks/factory.h"
#include "banks/tables.h"
#include "engine_test_support.h"
#include "multilevel.h"
#include "tessary.h"

namespace tessary {
namespace {

using testing_support::random_signal;

struct Case {
  const char* name;
  CpuFeatures needs;  // what the host must offer to run it
  bool bank;
  std::function<DwtExecutorHandle<float>()> make;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

DwtExecutorHandle<float> bank(KernelPath path, DaubechiesFamily family) {
  return std::make_shared<const CompletedDwtExecutor>(
      make_filter_bank_f32(path, BorderMode::Wrap, scaling_filter(family)).value());
}

constexpr CpuFeatures kAvx = kCpuAvx2 | kCpuFma;
constexpr CpuFeatures kSse = kCpuSse41 | kCpuSse42;

const Case kCases[] = {
    {"Cdf53", 0, false, [] { return Tessary::make_cdf53_f32(0).value(); }},
    {"Cdf97", 0, false, [] { return Tessary::make_cdf97_f32(0).value(); }},
    {"AvxCdf53", kAvx, false, [] { return Tessary::make_cdf53_f32(kAvx).value(); }},
    {"AvxCdf97", kAvx, false, [] { return Tessary::make_cdf97_f32(kAvx).value(); }},
    {"Db4Portable", 0, true, [] { return bank(KernelPath::Portable, DaubechiesFamily::Db4); }},
    {"Db4Sse", kSse, true, [] { return bank(KernelPath::Sse, DaubechiesFamily::Db4); }},
    {"Db4Avx", kAvx, true, [] { return bank(KernelPath::Avx, DaubechiesFamily::Db4); }},
    {"Db7Avx", kAvx, true, [] { return bank(KernelPath::Avx, DaubechiesFamily::Db7); }},
};

// Leaves NaN behind in memory the next allocations of about `floats`
// elements are likely to get: released mappings are kept for reuse, and the
// heap hands freed blocks out again.
void poison(std::uint64_t floats) {
  for (const std::uint64_t n : {floats, floats / 2, floats / 4}) {
    auto b = Buffer<float>::for_overwrite(n);
    ASSERT_TRUE(b.ok());
    for (float& v : b.value()) v = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> heap(n, std::numeric_limits<float>::quiet_NaN());
  }
}

class ReusedMemory : public ::testing::TestWithParam<Case> {};

TEST_P(ReusedMemory, MultiIdwtEqualsLevelsIntoZeroedOutputs) {
  const Case& c = GetParam();
  if ((cpu_features() & c.needs) != c.needs) GTEST_SKIP() << "this processor cannot run it";
  const auto e = c.make();
  // 600,001 samples make the largest outputs mapped buffers, 1,001 heap ones.
  for (const std::uint64_t n : {std::uint64_t{600001}, std::uint64_t{1001}}) {
    constexpr std::uint64_t kLevels = 5;
    const std::vector<float> x = random_signal(n, static_cast<std::uint32_t>(n));
    auto m = e->multi_dwt(x, kLevels);
    ASSERT_TRUE(m.ok());
    const auto& levels = m.value().levels;
    MultiDwtRef<float> ref;
    for (const Dwt<float>& level : levels) ref.details.emplace_back(level.details);
    ref.approximation = levels.back().approximations;

    std::vector<float> want(levels.back().approximations.begin(),
                            levels.back().approximations.end());
    for (std::size_t k = kLevels; k-- > 0;) {
      const auto& details = levels[k].details;
      // A bank's level keeps only as many approximation samples as the
      // details it pairs with; a lifting level takes the whole approximation.
      const std::span<const float> a =
          c.bank ? std::span<const float>(want).first(details.size()) : std::span<const float>(want);
      std::vector<float> out(e->idwt_size(a.size(), details.size()), 0.0f);
      ASSERT_TRUE(e->execute_inverse(a, details, out).ok());
      want = std::move(out);
    }

    poison(2 * n);
    auto got = e->multi_idwt(ref);
    ASSERT_TRUE(got.ok());
    ASSERT_EQ(got.value().size(), want.size()) << n;
    EXPECT_EQ(0, std::memcmp(got.value().data(), want.data(), want.size() * sizeof(float)))
        << "n=" << n;

    poison(2 * n);
    auto one = e->idwt({std::span<const float>(levels[0].approximations), levels[0].details});
    ASSERT_TRUE(one.ok());
    std::vector<float> one_want(
        e->idwt_size(levels[0].approximations.size(), levels[0].details.size()), 0.0f);
    ASSERT_TRUE(e->execute_inverse(levels[0].approximations, levels[0].details, one_want).ok());
    EXPECT_EQ(one.value(), std::span<const float>(one_want)) << "idwt, n=" << n;
  }
}

INSTANTIATE_TEST_SUITE_P(Executors, ReusedMemory, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace tessary
