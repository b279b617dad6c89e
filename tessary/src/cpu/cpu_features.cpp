#include "cpu/cpu_features.h"

#include <atomic>

#if TESSARY_HAVE_X86_KERNELS
#if !defined(__x86_64__)
#error "the x86 kernels are built only for x86-64 targets"
#endif
#include <cpuid.h>
#endif

namespace tessary {
namespace {

constexpr bool kX86Kernels = TESSARY_HAVE_X86_KERNELS != 0;

constexpr std::uint32_t kLeaf1EcxFma = 1u << 12;
constexpr std::uint32_t kLeaf1EcxSse41 = 1u << 19;
constexpr std::uint32_t kLeaf1EcxSse42 = 1u << 20;
constexpr std::uint32_t kLeaf1EcxXsave = 1u << 26;
constexpr std::uint32_t kLeaf1EcxOsxsave = 1u << 27;
constexpr std::uint32_t kLeaf1EcxAvx = 1u << 28;
constexpr std::uint32_t kLeaf7EbxAvx2 = 1u << 5;
// XCR0 bits 1 and 2: the OS saves and restores the SSE and AVX register state.
constexpr std::uint64_t kXcr0SseAvxState = 0x6;

std::atomic<CpuFeatures> g_features{0};

#if TESSARY_HAVE_X86_KERNELS
std::uint64_t read_xcr0() {
  std::uint32_t eax = 0;
  std::uint32_t edx = 0;
  // Encoded as bytes so that no file needs -mxsave.
  __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(eax), "=d"(edx) : "c"(0));
  return (static_cast<std::uint64_t>(edx) << 32) | eax;
}
#endif

}  // namespace

CpuFeatures features_from_readings(const CpuidReadings& r) {
  if (r.max_leaf == 0) return 0;
  CpuFeatures f = 0;
  if (r.leaf1_ecx & kLeaf1EcxSse41) f |= kCpuSse41;
  if (r.leaf1_ecx & kLeaf1EcxSse42) f |= kCpuSse42;
  const bool os_saves_avx = (r.leaf1_ecx & kLeaf1EcxXsave) && (r.leaf1_ecx & kLeaf1EcxOsxsave) &&
                            (r.xcr0 & kXcr0SseAvxState) == kXcr0SseAvxState;
  if (os_saves_avx) {
    if (r.leaf1_ecx & kLeaf1EcxFma) f |= kCpuFma;
    if (r.leaf1_ecx & kLeaf1EcxAvx) f |= kCpuAvx;
    if (r.max_leaf >= 7 && (r.leaf7_ebx & kLeaf7EbxAvx2)) f |= kCpuAvx2;
  }
  return f;
}

#if TESSARY_HAVE_X86_KERNELS
CpuidReadings read_cpuid() {
  CpuidReadings r;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid(0, eax, ebx, ecx, edx);
  r.max_leaf = eax;
  if (r.max_leaf == 0) return r;
  __cpuid(1, eax, ebx, ecx, edx);
  r.leaf1_ecx = ecx;
  if (r.max_leaf >= 7) {
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    r.leaf7_ebx = ebx;
  }
  if ((r.leaf1_ecx & kLeaf1EcxXsave) && (r.leaf1_ecx & kLeaf1EcxOsxsave)) r.xcr0 = read_xcr0();
  return r;
}
#else
// No x86 processor to ask: readings without a standard leaf, which describe
// no feature.
CpuidReadings read_cpuid() { return {}; }
#endif

CpuFeatures cpu_features() {
  CpuFeatures cached = g_features.load(std::memory_order_acquire);
  if (cached & kCpuDetected) return cached & ~kCpuDetected;
  const CpuFeatures detected = features_from_readings(read_cpuid());
  g_features.store(detected | kCpuDetected, std::memory_order_release);
  return detected;
}

bool supports(CpuFeatures f, KernelPath path) {
  switch (path) {
    case KernelPath::Avx: return kX86Kernels && (f & kCpuAvx2) && (f & kCpuFma);
    case KernelPath::Sse: return kX86Kernels && (f & kCpuSse42) != 0;
    case KernelPath::Portable: break;
  }
  return true;
}

bool supports(CpuFeatures f, ArenaWriterPath path) {
  switch (path) {
    case ArenaWriterPath::Avx2: return kX86Kernels && (f & kCpuAvx2) != 0;
    case ArenaWriterPath::Sse41: return kX86Kernels && (f & kCpuSse41) != 0;
    case ArenaWriterPath::Portable: break;
  }
  return true;
}

KernelPath choose_lifting_path(CpuFeatures f) {
  return supports(f, KernelPath::Avx) ? KernelPath::Avx : KernelPath::Portable;
}

KernelPath choose_filter_bank_path(CpuFeatures f) {
  for (const KernelPath path : {KernelPath::Avx, KernelPath::Sse}) {
    if (supports(f, path)) return path;
  }
  return KernelPath::Portable;
}

ArenaWriterPath choose_arena_writer_path(CpuFeatures f) {
  for (const ArenaWriterPath path : {ArenaWriterPath::Avx2, ArenaWriterPath::Sse41}) {
    if (supports(f, path)) return path;
  }
  return ArenaWriterPath::Portable;
}

}  // namespace tessary
