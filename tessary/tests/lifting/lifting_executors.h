// The four lifting executors, for tests parametrised over all of them. The
// AVX ones are built directly, whatever the host; tests skip them (with the
// reason) when the host cannot run them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "avx/cdf53.h"
#include "avx/cdf97.h"
#include "cpu/cpu_features.h"
#include "lifting/cdf53.h"
#include "lifting/cdf97.h"

namespace tessary::testing {

enum class Wavelet { Cdf53, Cdf97 };

struct LiftingCase {
  std::string name;
  Wavelet wavelet;
  bool avx;
  std::shared_ptr<const DwtExecutor<float>> executor;

  std::uint64_t shortest() const { return wavelet == Wavelet::Cdf53 ? 3 : 4; }
};

inline bool host_runs_avx_lifting() {
  return choose_lifting_path(cpu_features()) == KernelPath::Avx;
}

inline LiftingCase portable_case(Wavelet w) {
  if (w == Wavelet::Cdf53) return {"Cdf53", w, false, std::make_shared<Cdf53>()};
  return {"Cdf97", w, false, std::make_shared<Cdf97>()};
}

inline LiftingCase avx_case(Wavelet w) {
  if (w == Wavelet::Cdf53) return {"AvxCdf53", w, true, std::make_shared<avx::AvxCdf53>()};
  return {"AvxCdf97", w, true, std::make_shared<avx::AvxCdf97>()};
}

inline void PrintTo(Wavelet w, std::ostream* os) {
  *os << (w == Wavelet::Cdf53 ? "Cdf53" : "Cdf97");
}
inline void PrintTo(const LiftingCase& c, std::ostream* os) { *os << c.name; }

inline std::string case_name(const ::testing::TestParamInfo<LiftingCase>& info) {
  return info.param.name;
}

#define TESSARY_SKIP_WITHOUT_AVX(lifting_case)                                      \
  if ((lifting_case).avx && !::tessary::testing::host_runs_avx_lifting())           \
  GTEST_SKIP() << "this processor (or its OS) lacks AVX2 with FMA; "                \
                  "the AVX lifting kernels cannot run here"

}  // namespace tessary::testing
