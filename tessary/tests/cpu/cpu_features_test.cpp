#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cpu/cpu_features.h"

namespace tessary {
namespace {

constexpr std::uint32_t kFmaBit = 1u << 12;
constexpr std::uint32_t kSse41Bit = 1u << 19;
constexpr std::uint32_t kSse42Bit = 1u << 20;
constexpr std::uint32_t kXsaveBit = 1u << 26;
constexpr std::uint32_t kOsxsaveBit = 1u << 27;
constexpr std::uint32_t kAvxBit = 1u << 28;
constexpr std::uint32_t kAvx2Bit = 1u << 5;

// What a rule should give on this build: a build without the x86 kernels has
// only the portable paths, whatever the word says.
constexpr bool kX86Kernels = TESSARY_HAVE_X86_KERNELS != 0;
constexpr KernelPath on_this_build(KernelPath path) {
  return kX86Kernels ? path : KernelPath::Portable;
}
constexpr ArenaWriterPath on_this_build(ArenaWriterPath path) {
  return kX86Kernels ? path : ArenaWriterPath::Portable;
}

CpuidReadings modern_processor() {
  return CpuidReadings{13, kFmaBit | kSse41Bit | kSse42Bit | kXsaveBit | kOsxsaveBit | kAvxBit,
                       kAvx2Bit, 0x7};
}

TEST(FeatureDetection, ModernProcessorHasEverything) {
  EXPECT_EQ(features_from_readings(modern_processor()),
            kCpuFma | kCpuSse41 | kCpuSse42 | kCpuAvx | kCpuAvx2);
}

TEST(FeatureDetection, NoStandardLeavesMeansNoFeatures) {
  CpuidReadings r = modern_processor();
  r.max_leaf = 0;
  EXPECT_EQ(features_from_readings(r), 0u);
}

TEST(FeatureDetection, Leaf7IgnoredBelowLeaf7) {
  CpuidReadings r = modern_processor();
  r.max_leaf = 6;
  EXPECT_EQ(features_from_readings(r) & kCpuAvx2, 0u);
  EXPECT_NE(features_from_readings(r) & kCpuFma, 0u);
}

// The OS must save the AVX register state, or the AVX, AVX2 and FMA flags are
// cleared whatever CPUID says; SSE4 flags do not depend on it.
class AvxStateDisabled : public ::testing::TestWithParam<CpuidReadings> {};

TEST_P(AvxStateDisabled, ClearsAvxFlagsOnly) {
  const CpuFeatures f = features_from_readings(GetParam());
  EXPECT_EQ(f, kCpuSse41 | kCpuSse42);
  EXPECT_EQ(choose_lifting_path(f), KernelPath::Portable);
  EXPECT_EQ(choose_filter_bank_path(f), on_this_build(KernelPath::Sse));
  EXPECT_EQ(choose_arena_writer_path(f), on_this_build(ArenaWriterPath::Sse41));
}

CpuidReadings with_ecx_cleared(std::uint32_t bit) {
  CpuidReadings r = modern_processor();
  r.leaf1_ecx &= ~bit;
  return r;
}

CpuidReadings with_xcr0(std::uint64_t xcr0) {
  CpuidReadings r = modern_processor();
  r.xcr0 = xcr0;
  return r;
}

std::string avx_state_case(const ::testing::TestParamInfo<CpuidReadings>& info) {
  const char* names[] = {"NoXsave",     "NoOsxsave",   "Xcr0Empty",
                         "Xcr0SseOnly", "Xcr0AvxOnly", "Xcr0X87Only"};
  return names[info.index];
}

INSTANTIATE_TEST_SUITE_P(Variants, AvxStateDisabled,
                         ::testing::Values(with_ecx_cleared(kXsaveBit),
                                           with_ecx_cleared(kOsxsaveBit), with_xcr0(0),
                                           with_xcr0(0x2), with_xcr0(0x4), with_xcr0(0x1)),
                         avx_state_case);

struct DispatchCase {
  CpuFeatures features;
  KernelPath lifting;
  KernelPath banks;
  ArenaWriterPath writer;
};

class DispatchRules : public ::testing::TestWithParam<DispatchCase> {};

// Cases are named by their feature word in hex.
std::string dispatch_case(const ::testing::TestParamInfo<DispatchCase>& info) {
  char name[24];
  std::snprintf(name, sizeof name, "Word%02X", static_cast<unsigned>(info.param.features));
  return name;
}

TEST_P(DispatchRules, ArePureFunctionsOfTheFlags) {
  const DispatchCase& c = GetParam();
  EXPECT_EQ(choose_lifting_path(c.features), on_this_build(c.lifting));
  EXPECT_EQ(choose_filter_bank_path(c.features), on_this_build(c.banks));
  EXPECT_EQ(choose_arena_writer_path(c.features), on_this_build(c.writer));
}

INSTANTIATE_TEST_SUITE_P(
    Combinations, DispatchRules,
    ::testing::Values(
        DispatchCase{0, KernelPath::Portable, KernelPath::Portable, ArenaWriterPath::Portable},
        DispatchCase{kCpuSse41, KernelPath::Portable, KernelPath::Portable,
                     ArenaWriterPath::Sse41},
        DispatchCase{kCpuSse42, KernelPath::Portable, KernelPath::Sse, ArenaWriterPath::Portable},
        DispatchCase{kCpuSse41 | kCpuSse42, KernelPath::Portable, KernelPath::Sse,
                     ArenaWriterPath::Sse41},
        // AVX2 without FMA: SSE banks with the AVX2 padding writer.
        DispatchCase{kCpuSse41 | kCpuSse42 | kCpuAvx | kCpuAvx2, KernelPath::Portable,
                     KernelPath::Sse, ArenaWriterPath::Avx2},
        // FMA without AVX2.
        DispatchCase{kCpuSse41 | kCpuSse42 | kCpuAvx | kCpuFma, KernelPath::Portable,
                     KernelPath::Sse, ArenaWriterPath::Sse41},
        DispatchCase{kCpuAvx2 | kCpuFma, KernelPath::Avx, KernelPath::Avx,
                     ArenaWriterPath::Avx2},
        DispatchCase{kCpuSse41 | kCpuSse42 | kCpuAvx | kCpuAvx2 | kCpuFma, KernelPath::Avx,
                     KernelPath::Avx, ArenaWriterPath::Avx2}),
    dispatch_case);

TEST(PathRequirements, AreTheFeaturesEachPathUses) {
  for (const CpuFeatures none : {CpuFeatures{0}, kCpuAvx}) {
    EXPECT_TRUE(supports(none, KernelPath::Portable));
    EXPECT_TRUE(supports(none, ArenaWriterPath::Portable));
    EXPECT_FALSE(supports(none, KernelPath::Sse));
    EXPECT_FALSE(supports(none, ArenaWriterPath::Avx2));
  }
  EXPECT_FALSE(supports(kCpuAvx2, KernelPath::Avx));
  EXPECT_FALSE(supports(kCpuFma | kCpuAvx, KernelPath::Avx));
  EXPECT_EQ(supports(kCpuAvx2 | kCpuFma, KernelPath::Avx), kX86Kernels);
  EXPECT_FALSE(supports(kCpuSse41, KernelPath::Sse));
  EXPECT_EQ(supports(kCpuSse42, KernelPath::Sse), kX86Kernels);
  EXPECT_EQ(supports(kCpuAvx2, ArenaWriterPath::Avx2), kX86Kernels);
  EXPECT_FALSE(supports(kCpuSse41 | kCpuSse42 | kCpuFma | kCpuAvx, ArenaWriterPath::Avx2));
  EXPECT_EQ(supports(kCpuSse41, ArenaWriterPath::Sse41), kX86Kernels);
  EXPECT_FALSE(supports(kCpuSse42, ArenaWriterPath::Sse41));
}

TEST(FeatureCache, IsStableAndMatchesThisProcessor) {
  const CpuFeatures first = cpu_features();
  EXPECT_EQ(first & kCpuDetected, 0u);
  EXPECT_EQ(cpu_features(), first);
  EXPECT_EQ(first, features_from_readings(read_cpuid()));
  // Without the x86 kernels there is no CPUID to read, and no feature.
  if (!kX86Kernels) {
    EXPECT_EQ(first, 0u);
  }
}

}  // namespace
}  // namespace tessary
