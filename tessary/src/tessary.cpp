#include "tessary.h"

#include <memory>
#include <utility>

#include "banks/factory.h"
#include "banks/tables.h"
#include "core/memory.h"
#include "lifting/cdf53.h"
#include "lifting/cdf97.h"
#include "multilevel.h"
#if TESSARY_HAVE_X86_KERNELS
#include "avx/cdf53.h"
#include "avx/cdf97.h"
#endif

namespace tessary {
namespace {

// Storage whose object is never destroyed.
template <class T>
union Immortal {
  T object;
  constexpr Immortal() : object() {}
  ~Immortal() {}
};

// The lifting executors hold no data, so each is one object for the whole
// process, built before any code runs and never destroyed (a handle may be
// used during static destruction). A handle to it owns nothing, so making
// one allocates nothing and cannot fail.
template <class E>
DwtExecutorHandle<float> lifting_instance() {
  static constinit Immortal<const E> instance;
  return DwtExecutorHandle<float>(std::shared_ptr<const void>(), &instance.object);
}

// The AVX twin of each portable lifting executor.
template <class Portable>
struct AvxLifting;
#if TESSARY_HAVE_X86_KERNELS
template <>
struct AvxLifting<Cdf53> {
  using Executor = avx::AvxCdf53;
};
template <>
struct AvxLifting<Cdf97> {
  using Executor = avx::AvxCdf97;
};
#endif

template <class Portable>
DwtExecutorHandle<float> lifting_for(CpuFeatures features) {
  switch (choose_lifting_path(features)) {
#if TESSARY_HAVE_X86_KERNELS
    case KernelPath::Avx:
      return lifting_instance<typename AvxLifting<Portable>::Executor>();
#else
    case KernelPath::Avx:  // not built for this processor; no word chooses it
#endif
    case KernelPath::Sse:
    case KernelPath::Portable:
      break;
  }
  return lifting_instance<Portable>();
}

// The bank of a family member on the path of `features`, completed for
// multi-level use.
template <class Family>
TResult<DwtExecutorHandle<float>> completed_bank(CpuFeatures features, Family member,
                                                 BorderMode mode) {
  auto bank = make_filter_bank_f32(choose_filter_bank_path(features), mode, scaling_filter(member));
  if (!bank) return fail(std::move(bank).error());
  return try_make_shared<CompletedDwtExecutor>(std::move(bank).value());
}

DwtExecutorHandle<float> or_empty(TResult<DwtExecutorHandle<float>> made) {
  return made ? std::move(made).value() : nullptr;
}

}  // namespace

TResult<DwtExecutorHandle<float>> Tessary::make_cdf53_f32(CpuFeatures features) {
  return lifting_for<Cdf53>(features);
}

TResult<DwtExecutorHandle<float>> Tessary::make_cdf97_f32(CpuFeatures features) {
  return lifting_for<Cdf97>(features);
}

TResult<DwtExecutorHandle<float>> Tessary::make_daubechies_f32(CpuFeatures features,
                                                               DaubechiesFamily family,
                                                               BorderMode mode) {
  return completed_bank(features, family, mode);
}

TResult<DwtExecutorHandle<float>> Tessary::make_symlet_f32(CpuFeatures features,
                                                           SymletFamily family, BorderMode mode) {
  return completed_bank(features, family, mode);
}

DwtExecutorHandle<float> Tessary::make_cdf53_f32() {
  return or_empty(make_cdf53_f32(cpu_features()));
}

DwtExecutorHandle<float> Tessary::make_cdf97_f32() {
  return or_empty(make_cdf97_f32(cpu_features()));
}

DwtExecutorHandle<float> Tessary::make_daubechies_f32(DaubechiesFamily family, BorderMode mode) {
  return or_empty(make_daubechies_f32(cpu_features(), family, mode));
}

DwtExecutorHandle<float> Tessary::make_symlet_f32(SymletFamily family, BorderMode mode) {
  return or_empty(make_symlet_f32(cpu_features(), family, mode));
}

}  // namespace tessary
