// Processor-feature detection, cached once per process, and every dispatch
// rule of the engine as a pure function of the feature word, so that tests can
// check each rule with made-up words.
#pragma once

#include <cstdint>

// 1 where the build compiles the x86 kernel folders (avx/, sse/) and the
// CPUID detection, 0 elsewhere; set by tessary/CMakeLists.txt for the target
// processor.
#if !defined(TESSARY_HAVE_X86_KERNELS)
#error "TESSARY_HAVE_X86_KERNELS comes from the build (tessary/CMakeLists.txt)"
#endif

namespace tessary {

using CpuFeatures = std::uint32_t;

inline constexpr CpuFeatures kCpuFma = 1u << 0;
inline constexpr CpuFeatures kCpuSse41 = 1u << 1;
inline constexpr CpuFeatures kCpuSse42 = 1u << 2;
inline constexpr CpuFeatures kCpuAvx = 1u << 3;
inline constexpr CpuFeatures kCpuAvx2 = 1u << 4;
// Marks the cached word as filled; never part of a dispatch decision.
inline constexpr CpuFeatures kCpuDetected = 1u << 31;

// Raw readings of CPUID leaves 0, 1 and 7 and of XGETBV(0).
struct CpuidReadings {
  std::uint32_t max_leaf = 0;   // CPUID leaf 0, EAX
  std::uint32_t leaf1_ecx = 0;  // CPUID leaf 1, ECX
  std::uint32_t leaf7_ebx = 0;  // CPUID leaf 7 subleaf 0, EBX (0 when max_leaf < 7)
  std::uint64_t xcr0 = 0;       // XGETBV(0); 0 when the OS has not enabled XSAVE
};

// Pure: the feature word (without kCpuDetected) that the readings describe.
CpuFeatures features_from_readings(const CpuidReadings& readings);

// Reads this processor. XGETBV runs only when CPUID reports OSXSAVE. A build
// without the x86 kernels reads nothing: no standard leaf, so no feature.
CpuidReadings read_cpuid();

// The process-wide cached feature word (detected on first use; concurrent
// first callers may both detect and store the same value).
CpuFeatures cpu_features();

enum class KernelPath : std::uint8_t { Portable, Sse, Avx };
enum class ArenaWriterPath : std::uint8_t { Portable, Sse41, Avx2 };

// What a path asks of the processor: the AVX kernels AVX2 and FMA, the SSE
// kernels SSE4.2; the AVX2 padding writer AVX2 alone, the SSE one SSE4.1.
// The portable paths run anywhere. A path whose kernels this build does not
// hold (the x86 ones outside x86 targets) is supported by no word, so no
// rule below chooses it.
bool supports(CpuFeatures features, KernelPath path);
bool supports(CpuFeatures features, ArenaWriterPath path);

// The AVX lifting executors where supported, else the portable ones (there
// are no SSE lifting kernels).
KernelPath choose_lifting_path(CpuFeatures features);
// The widest filter-bank path supported: AVX, then SSE, then portable.
KernelPath choose_filter_bank_path(CpuFeatures features);
// The widest padding writer supported: AVX2, then SSE4.1, then portable.
ArenaWriterPath choose_arena_writer_path(CpuFeatures features);

}  // namespace tessary
