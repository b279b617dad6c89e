// The lifting executors of this build (portable, and AVX on x86 targets),
// for tests parametrised over all of them. The AVX ones are built directly,
// whatever the host; tests skip them (with the reason) when the host cannot
// run them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "cpu/cpu_features.h"
#include "lifting/cdf53.h"
#include "lifting/cdf97.h"
#if TESSARY_HAVE_X86_KERNELS
#include "avx/cdf53.h"
#include "avx/cdf97.h"
#endif

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

#if TESSARY_HAVE_X86_KERNELS
inline LiftingCase avx_case(Wavelet w) {
  if (w == Wavelet::Cdf53) return {"AvxCdf53", w, true, std::make_shared<avx::AvxCdf53>()};
  return {"AvxCdf97", w, true, std::make_shared<avx::AvxCdf97>()};
}
#endif

// Every executor of `w` in this build, the portable one first.
inline std::vector<LiftingCase> cases_of(Wavelet w) {
#if TESSARY_HAVE_X86_KERNELS
  return {portable_case(w), avx_case(w)};
#else
  return {portable_case(w)};
#endif
}

// Every executor of both wavelets, CDF 5/3 first.
inline std::vector<LiftingCase> all_cases() {
  std::vector<LiftingCase> cases = cases_of(Wavelet::Cdf53);
  for (LiftingCase& c : cases_of(Wavelet::Cdf97)) cases.push_back(std::move(c));
  return cases;
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
