#include "lifting_factory.h"

#include "avx/cdf53f.h"
#include "avx/cdf97f.h"
#include "cdf53f.h"
#include "cdf97f.h"

namespace tessary {
namespace {

// The lifting executors carry no data, so one instance of each serves every
// handle for the life of the process. Handing out aliases of it keeps the
// factories free of allocation, and so of a failure they would have no way
// to report. The union never runs the destructor, so the instance outlives
// any handle, including one kept by an object destroyed at exit.
template <class E>
union Immortal {
  Immortal() : executor() {}
  ~Immortal() {}
  E executor;
};

template <class E>
DwtExecutorHandle<float> shared_instance() {
  static const Immortal<E> holder;
  return DwtExecutorHandle<float>(DwtExecutorHandle<float>(), &holder.executor);
}

}  // namespace

DwtExecutorHandle<float> make_cdf53_f32_for(CpuFeatures features) {
  if (choose_lifting_path(features) == KernelPath::Avx) return shared_instance<avx::AvxCdf53>();
  return shared_instance<Cdf53>();
}

DwtExecutorHandle<float> make_cdf97_f32_for(CpuFeatures features) {
  if (choose_lifting_path(features) == KernelPath::Avx) return shared_instance<avx::AvxCdf97>();
  return shared_instance<Cdf97>();
}

}  // namespace tessary
