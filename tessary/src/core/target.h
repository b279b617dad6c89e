// Per-function instruction-set switches for the kernel bodies in avx/ and
// sse/. No file is compiled with -mavx2 or -msse4.x: a file-wide flag would
// also recompile every inline function and template the file includes, and
// the linker could keep that wide copy for the portable path.
#pragma once

#define TESSARY_TARGET_AVX2_FMA __attribute__((target("avx2,fma")))
#define TESSARY_TARGET_AVX2 __attribute__((target("avx2")))
#define TESSARY_TARGET_SSE42 __attribute__((target("sse4.2")))
#define TESSARY_TARGET_SSE41 __attribute__((target("sse4.1")))
