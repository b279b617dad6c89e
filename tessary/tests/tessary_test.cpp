// What the facade builds for each feature word: the AVX lifting executors
// only on AVX2 together with FMA (both of which the feature word carries only
// when the OS saves the AVX register state), the AVX banks on the same
// condition, else the SSE banks on SSE4.2, else the portable ones. A build
// without the x86 kernels builds the portable ones for every word.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <typeinfo>

#include "banks/fixed_taps.h"
#include "banks/n_taps.h"
#include "lifting/cdf53.h"
#include "lifting/cdf97.h"
#include "multilevel.h"
#include "tessary.h"
#if TESSARY_HAVE_X86_KERNELS
#include "avx/cdf53.h"
#include "avx/cdf97.h"
#include "avx/fixed_taps.h"
#include "avx/n_taps.h"
#include "sse/fixed_taps.h"
#include "sse/n_taps.h"
#endif

namespace tessary {
namespace {

// CPUID readings of a processor with every feature whose OS leaves the AVX
// register state off (XCR0 = 0).
CpuFeatures avx_state_disabled() {
  constexpr std::uint32_t kLeaf1 = (1u << 12) | (1u << 19) | (1u << 20) | (1u << 26) |
                                   (1u << 27) | (1u << 28);  // FMA SSE4.1 SSE4.2 XSAVE OSXSAVE AVX
  constexpr std::uint32_t kLeaf7Avx2 = 1u << 5;
  return features_from_readings(CpuidReadings{13, kLeaf1, kLeaf7Avx2, 0});
}

constexpr CpuFeatures kSse4 = kCpuSse41 | kCpuSse42;
constexpr CpuFeatures kEverything = kSse4 | kCpuAvx | kCpuAvx2 | kCpuFma;

struct FactoryCase {
  const char* name;
  CpuFeatures features;
  bool avx;
};

void PrintTo(const FactoryCase& c, std::ostream* os) { *os << c.name; }

// The lifting executor class behind a facade handle, by name. The typeid
// operand is a named reference, so nothing in it is evaluated.
std::string lifting_of(const DwtExecutorHandle<float>& handle) {
  const DwtExecutor<float>& executor = *handle;
  const std::type_info& type = typeid(executor);
#if TESSARY_HAVE_X86_KERNELS
  if (type == typeid(avx::AvxCdf53)) return "AvxCdf53";
  if (type == typeid(avx::AvxCdf97)) return "AvxCdf97";
#endif
  if (type == typeid(Cdf53)) return "Cdf53";
  if (type == typeid(Cdf97)) return "Cdf97";
  return "unknown";
}

class CdfFactories : public ::testing::TestWithParam<FactoryCase> {};

TEST_P(CdfFactories, ChooseByFeatureWord) {
  const FactoryCase& c = GetParam();
  const DwtExecutorHandle<float> cdf53 = Tessary::make_cdf53_f32(c.features).value();
  const DwtExecutorHandle<float> cdf97 = Tessary::make_cdf97_f32(c.features).value();
  ASSERT_NE(cdf53, nullptr);
  ASSERT_NE(cdf97, nullptr);
  // A build without the x86 kernels builds the portable ones for every word.
  const bool avx = c.avx && TESSARY_HAVE_X86_KERNELS;
  EXPECT_EQ(lifting_of(cdf53), avx ? "AvxCdf53" : "Cdf53");
  EXPECT_EQ(lifting_of(cdf97), avx ? "AvxCdf97" : "Cdf97");
}

INSTANTIATE_TEST_SUITE_P(
    Words, CdfFactories,
    ::testing::Values(FactoryCase{"Nothing", 0, false}, FactoryCase{"Sse4Only", kSse4, false},
                      FactoryCase{"Avx2WithoutFma", kSse4 | kCpuAvx | kCpuAvx2, false},
                      FactoryCase{"FmaWithoutAvx2", kSse4 | kCpuAvx | kCpuFma, false},
                      FactoryCase{"AvxStateDisabled", avx_state_disabled(), false},
                      FactoryCase{"Avx2AndFma", kCpuAvx2 | kCpuFma, true},
                      FactoryCase{"Everything", kEverything, true}),
    [](const ::testing::TestParamInfo<FactoryCase>& param_info) {
      return std::string(param_info.param.name);
    });

TEST(CdfFactories, FacadeUsesTheDetectedFeatures) {
  const DwtExecutorHandle<float> cdf53 = Tessary::make_cdf53_f32();
  const DwtExecutorHandle<float> cdf97 = Tessary::make_cdf97_f32();
  EXPECT_EQ(lifting_of(cdf53), lifting_of(Tessary::make_cdf53_f32(cpu_features()).value()));
  EXPECT_EQ(lifting_of(cdf97), lifting_of(Tessary::make_cdf97_f32(cpu_features()).value()));
  // A handle keeps working after every other handle is gone.
  DwtExecutorHandle<float> kept = Tessary::make_cdf53_f32();
  {
    DwtExecutorHandle<float> other = Tessary::make_cdf53_f32();
  }
  EXPECT_EQ(kept->dwt_size(5), (BandSizes{3, 2}));
}

// The bank class behind a facade executor, by name.
std::string kernel_of(const DwtExecutorHandle<float>& executor) {
  const IncompleteDwtExecutor<float>* bank =
      std::dynamic_pointer_cast<const CompletedDwtExecutor>(executor)->bank().get();
#if TESSARY_HAVE_X86_KERNELS
  if (dynamic_cast<const avx::AvxFixedTapsF32<8>*>(bank)) return "AvxFixedTapsF32<8>";
  if (dynamic_cast<const avx::AvxFixedTapsF32<16>*>(bank)) return "AvxFixedTapsF32<16>";
  if (dynamic_cast<const avx::AvxWaveletNTapsF32*>(bank)) return "AvxWaveletNTapsF32";
  if (dynamic_cast<const sse::SseFixedTapsF32<8>*>(bank)) return "SseFixedTapsF32<8>";
  if (dynamic_cast<const sse::SseWaveletNTapsF32*>(bank)) return "SseWaveletNTapsF32";
#endif
  if (dynamic_cast<const FixedTapsBank<8>*>(bank)) return "FixedTapsBank<8>";
  if (dynamic_cast<const FixedTapsBank<16>*>(bank)) return "FixedTapsBank<16>";
  if (dynamic_cast<const WaveletNTaps*>(bank)) return "WaveletNTaps";
  return "unknown";
}

struct FacadeCase {
  const char* name;
  CpuFeatures features;
  const char* eight;    // db4 and sym4, the codec's wavelets
  const char* sixteen;  // db8
  const char* generic;  // db7, fourteen taps
};

class FacadeDispatch : public ::testing::TestWithParam<FacadeCase> {};

// What the facade builds is decided by the feature word alone (building a
// kernel runs none of its instructions, so any word can be tried here).
TEST_P(FacadeDispatch, BuildsTheKernelsOfThePath) {
  const FacadeCase& c = GetParam();
  const auto daubechies = [&](DaubechiesFamily family) {
    return kernel_of(Tessary::make_daubechies_f32(c.features, family, BorderMode::Wrap).value());
  };
  EXPECT_EQ(daubechies(DaubechiesFamily::Db4), c.eight);
  EXPECT_EQ(kernel_of(
                Tessary::make_symlet_f32(c.features, SymletFamily::Sym4, BorderMode::Wrap).value()),
            c.eight);
  EXPECT_EQ(daubechies(DaubechiesFamily::Db8), c.sixteen);
  EXPECT_EQ(daubechies(DaubechiesFamily::Db7), c.generic);
}

#if TESSARY_HAVE_X86_KERNELS
INSTANTIATE_TEST_SUITE_P(
    Words, FacadeDispatch,
    ::testing::Values(
        FacadeCase{"Nothing", 0, "FixedTapsBank<8>", "FixedTapsBank<16>", "WaveletNTaps"},
        FacadeCase{"Sse41Only", kCpuSse41, "FixedTapsBank<8>", "FixedTapsBank<16>",
                   "WaveletNTaps"},
        FacadeCase{"Sse42", kSse4, "SseFixedTapsF32<8>", "SseWaveletNTapsF32",
                   "SseWaveletNTapsF32"},
        FacadeCase{"Avx2WithoutFma", kSse4 | kCpuAvx | kCpuAvx2, "SseFixedTapsF32<8>",
                   "SseWaveletNTapsF32", "SseWaveletNTapsF32"},
        FacadeCase{"FmaWithoutAvx2", kSse4 | kCpuAvx | kCpuFma, "SseFixedTapsF32<8>",
                   "SseWaveletNTapsF32", "SseWaveletNTapsF32"},
        FacadeCase{"AvxStateOffInTheOs", avx_state_disabled(), "SseFixedTapsF32<8>",
                   "SseWaveletNTapsF32", "SseWaveletNTapsF32"},
        FacadeCase{"Avx2AndFma", kEverything, "AvxFixedTapsF32<8>", "AvxFixedTapsF32<16>",
                   "AvxWaveletNTapsF32"}),
    [](const auto& p) { return std::string(p.param.name); });
#else
// Without the x86 kernels a word naming x86 features builds the portable banks.
INSTANTIATE_TEST_SUITE_P(
    Words, FacadeDispatch,
    ::testing::Values(
        FacadeCase{"Nothing", 0, "FixedTapsBank<8>", "FixedTapsBank<16>", "WaveletNTaps"},
        FacadeCase{"Sse42", kSse4, "FixedTapsBank<8>", "FixedTapsBank<16>", "WaveletNTaps"},
        FacadeCase{"Avx2AndFma", kEverything, "FixedTapsBank<8>", "FixedTapsBank<16>",
                   "WaveletNTaps"}),
    [](const auto& p) { return std::string(p.param.name); });
#endif

// The forms without a word build for this processor's word.
TEST(FacadeDispatch, FamiliesUseTheDetectedFeatures) {
  const auto detected =
      Tessary::make_daubechies_f32(cpu_features(), DaubechiesFamily::Db4, BorderMode::Wrap);
  EXPECT_EQ(kernel_of(Tessary::make_daubechies_f32(DaubechiesFamily::Db4, BorderMode::Wrap)),
            kernel_of(detected.value()));
  EXPECT_EQ(kernel_of(Tessary::make_symlet_f32(SymletFamily::Sym7, BorderMode::Wrap)),
            kernel_of(Tessary::make_symlet_f32(cpu_features(), SymletFamily::Sym7,
                                               BorderMode::Wrap)
                          .value()));
}

}  // namespace
}  // namespace tessary
