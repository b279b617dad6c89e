#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "avx/wavelet16taps.h"
#include "avx/wavelet8taps.h"
#include "avx/wavelet_n_taps.h"
#include "completed.h"
#include "factory.h"
#include "sse/wavelet8taps.h"
#include "sse/wavelet_n_taps.h"
#include "wavelet16taps.h"
#include "wavelet8taps.h"
#include "wavelet_families.h"
#include "wavelet_n_taps.h"

namespace tessary {
namespace {

constexpr std::uint32_t kFmaBit = 1u << 12;
constexpr std::uint32_t kSse41Bit = 1u << 19;
constexpr std::uint32_t kSse42Bit = 1u << 20;
constexpr std::uint32_t kXsaveBit = 1u << 26;
constexpr std::uint32_t kOsxsaveBit = 1u << 27;
constexpr std::uint32_t kAvxBit = 1u << 28;
constexpr std::uint32_t kAvx2Bit = 1u << 5;

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
  EXPECT_EQ(choose_filter_bank_path(f), KernelPath::Sse);
  EXPECT_EQ(choose_arena_writer_path(f), ArenaWriterPath::Sse41);
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
  EXPECT_EQ(choose_lifting_path(c.features), c.lifting);
  EXPECT_EQ(choose_filter_bank_path(c.features), c.banks);
  EXPECT_EQ(choose_arena_writer_path(c.features), c.writer);
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

// The bank class behind a facade executor, by name.
std::string kernel_of(const DwtExecutorHandle<float>& executor) {
  const IncompleteDwtExecutor<float>* bank =
      std::dynamic_pointer_cast<const CompletedDwtExecutor>(executor)->bank().get();
  if (dynamic_cast<const avx::AvxWavelet8TapsF32*>(bank)) return "AvxWavelet8TapsF32";
  if (dynamic_cast<const avx::AvxWavelet16TapsF32*>(bank)) return "AvxWavelet16TapsF32";
  if (dynamic_cast<const avx::AvxWaveletNTapsF32*>(bank)) return "AvxWaveletNTapsF32";
  if (dynamic_cast<const sse::SseWavelet8TapsF32*>(bank)) return "SseWavelet8TapsF32";
  if (dynamic_cast<const sse::SseWaveletNTapsF32*>(bank)) return "SseWaveletNTapsF32";
  if (dynamic_cast<const Wavelet8Taps*>(bank)) return "Wavelet8Taps";
  if (dynamic_cast<const Wavelet16Taps*>(bank)) return "Wavelet16Taps";
  if (dynamic_cast<const WaveletNTaps*>(bank)) return "WaveletNTaps";
  return "unknown";
}

struct FacadeCase {
  const char* name;
  CpuFeatures features;
  const char* eight;    // db4 and sym4, the codec's wavelets
  const char* sixteen;  // db8
  const char* generic;  // db7, fourteen taps
  ArenaWriterPath writer;
};

class FacadeDispatch : public ::testing::TestWithParam<FacadeCase> {};

// What the facade builds is decided by the feature word alone (building a
// kernel runs none of its instructions, so any word can be tried here).
TEST_P(FacadeDispatch, BuildsTheKernelsOfThePath) {
  const FacadeCase& c = GetParam();
  EXPECT_EQ(kernel_of(make_daubechies_f32_for(c.features, DaubechiesFamily::Db4, BorderMode::Wrap)),
            c.eight);
  EXPECT_EQ(kernel_of(make_symlet_f32_for(c.features, SymletFamily::Sym4, BorderMode::Wrap)),
            c.eight);
  EXPECT_EQ(kernel_of(make_daubechies_f32_for(c.features, DaubechiesFamily::Db8, BorderMode::Wrap)),
            c.sixteen);
  EXPECT_EQ(kernel_of(make_daubechies_f32_for(c.features, DaubechiesFamily::Db7, BorderMode::Wrap)),
            c.generic);
  EXPECT_EQ(choose_arena_writer_path(c.features), c.writer);
}

INSTANTIATE_TEST_SUITE_P(
    Words, FacadeDispatch,
    ::testing::Values(
        FacadeCase{"Nothing", 0, "Wavelet8Taps", "Wavelet16Taps", "WaveletNTaps",
                   ArenaWriterPath::Portable},
        FacadeCase{"Sse41Only", kCpuSse41, "Wavelet8Taps", "Wavelet16Taps", "WaveletNTaps",
                   ArenaWriterPath::Sse41},
        FacadeCase{"Sse42", kCpuSse41 | kCpuSse42, "SseWavelet8TapsF32", "SseWaveletNTapsF32",
                   "SseWaveletNTapsF32", ArenaWriterPath::Sse41},
        // SSE kernels with the AVX2 padding writer.
        FacadeCase{"Avx2WithoutFma", kCpuSse41 | kCpuSse42 | kCpuAvx | kCpuAvx2,
                   "SseWavelet8TapsF32", "SseWaveletNTapsF32", "SseWaveletNTapsF32",
                   ArenaWriterPath::Avx2},
        FacadeCase{"FmaWithoutAvx2", kCpuSse41 | kCpuSse42 | kCpuAvx | kCpuFma,
                   "SseWavelet8TapsF32", "SseWaveletNTapsF32", "SseWaveletNTapsF32",
                   ArenaWriterPath::Sse41},
        FacadeCase{"AvxStateOffInTheOs", features_from_readings(with_xcr0(0)),
                   "SseWavelet8TapsF32", "SseWaveletNTapsF32", "SseWaveletNTapsF32",
                   ArenaWriterPath::Sse41},
        FacadeCase{"Avx2AndFma", kCpuSse41 | kCpuSse42 | kCpuAvx | kCpuAvx2 | kCpuFma,
                   "AvxWavelet8TapsF32", "AvxWavelet16TapsF32", "AvxWaveletNTapsF32",
                   ArenaWriterPath::Avx2}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(FeatureCache, IsStableAndMatchesThisProcessor) {
  const CpuFeatures first = cpu_features();
  EXPECT_EQ(first & kCpuDetected, 0u);
  EXPECT_EQ(cpu_features(), first);
  EXPECT_EQ(first, features_from_readings(read_cpuid()));
}

}  // namespace
}  // namespace tessary
