// The CDF factories pick the AVX executors only on AVX2 together with FMA
// (both of which the feature word carries only when the OS saves the AVX
// register state).
#include <gtest/gtest.h>

#include <typeinfo>

#include "avx/cdf53f.h"
#include "avx/cdf97f.h"
#include "cdf53f.h"
#include "cdf97f.h"
#include "lifting_factory.h"
#include "tessary.h"

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

struct FactoryCase {
  const char* name;
  CpuFeatures features;
  bool avx;
};

void PrintTo(const FactoryCase& c, std::ostream* os) { *os << c.name; }

class CdfFactories : public ::testing::TestWithParam<FactoryCase> {};

TEST_P(CdfFactories, ChooseByFeatureWord) {
  const FactoryCase& c = GetParam();
  const DwtExecutorHandle<float> cdf53 = make_cdf53_f32_for(c.features);
  const DwtExecutorHandle<float> cdf97 = make_cdf97_f32_for(c.features);
  ASSERT_NE(cdf53, nullptr);
  ASSERT_NE(cdf97, nullptr);
  EXPECT_EQ(typeid(*cdf53), c.avx ? typeid(avx::AvxCdf53) : typeid(Cdf53));
  EXPECT_EQ(typeid(*cdf97), c.avx ? typeid(avx::AvxCdf97) : typeid(Cdf97));
}

INSTANTIATE_TEST_SUITE_P(
    Words, CdfFactories,
    ::testing::Values(
        FactoryCase{"Nothing", 0, false},
        FactoryCase{"Sse4Only", kCpuSse41 | kCpuSse42, false},
        FactoryCase{"Avx2WithoutFma", kCpuSse41 | kCpuSse42 | kCpuAvx | kCpuAvx2, false},
        FactoryCase{"FmaWithoutAvx2", kCpuSse41 | kCpuSse42 | kCpuAvx | kCpuFma, false},
        FactoryCase{"AvxStateDisabled", avx_state_disabled(), false},
        FactoryCase{"Avx2AndFma", kCpuAvx2 | kCpuFma, true},
        FactoryCase{"Everything", kCpuSse41 | kCpuSse42 | kCpuAvx | kCpuAvx2 | kCpuFma, true}),
    [](const ::testing::TestParamInfo<FactoryCase>& param_info) {
      return std::string(param_info.param.name);
    });

TEST(CdfFactories, FacadeUsesTheDetectedFeatures) {
  const DwtExecutorHandle<float> cdf53 = Tessary::make_cdf53_f32();
  const DwtExecutorHandle<float> cdf97 = Tessary::make_cdf97_f32();
  EXPECT_EQ(typeid(*cdf53), typeid(*make_cdf53_f32_for(cpu_features())));
  EXPECT_EQ(typeid(*cdf97), typeid(*make_cdf97_f32_for(cpu_features())));
  // A handle keeps working after every other handle is gone.
  DwtExecutorHandle<float> kept = Tessary::make_cdf53_f32();
  {
    DwtExecutorHandle<float> other = Tessary::make_cdf53_f32();
  }
  EXPECT_EQ(kept->dwt_size(5), (BandSizes{3, 2}));
}

}  // namespace
}  // namespace tessary
