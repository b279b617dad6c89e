#include "lifting_factory.h"

#include <memory>

#include "avx/cdf53f.h"
#include "avx/cdf97f.h"
#include "cdf53f.h"
#include "cdf97f.h"

namespace tessary {
namespace {

// The lifting executors carry no data, so one shared instance of each serves
// every handle: the factories then allocate only once per process, and the
// handles they return are ordinary counted co-owners of that instance. The
// process-wide handle is never destroyed, so the instance outlives any
// handle, including one kept by an object destroyed at exit.
template <class E>
DwtExecutorHandle<float> shared_instance() {
  static const DwtExecutorHandle<float>* const instance =
      new DwtExecutorHandle<float>(std::make_shared<const E>());
  return *instance;
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
