// Instruction-set dispatch of the vectorised sample kernels, in one place:
// the paths a kernel may take, which of them this processor runs, the
// target attributes that compile a function for a path, and the warning
// setting that intrinsics code needs. Every path gives exactly the bits of
// the scalar one; a call picks its path once, the best one that the
// processor has unless a lower one is asked for (tests run them all).
//
// The x86 paths exist only where VANTIR3_HAVE_X86_PATHS is defined (x86-64
// and x86 compilers); elsewhere (ARM) every kernel takes the scalar path,
// whose loops the compiler vectorises for the target's baseline.
#ifndef VANTIR3_NUMERIC_SIMD_PATH_H_
#define VANTIR3_NUMERIC_SIMD_PATH_H_

#if defined(__x86_64__) || defined(__i386__)
#define VANTIR3_HAVE_X86_PATHS 1
// The AVX-512 kernels (and helpers) are compiled where the x86 paths are.
#define VANTIR3_HAVE_AVX512_PATH 1
// Compiles a function for SimdPath::kAvx2 / SimdPath::kAvx512: exactly the
// instruction sets that ChooseSimdPath requires for that path. (FMA is
// allowed but never contracts an expression: -ffp-contract=off.)
#define VANTIR3_TARGET_AVX2 __attribute__((target("avx2,fma")))
#define VANTIR3_TARGET_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl")))
#endif

// Around intrinsics code: GCC 12's AVX-512 intrinsics headers leave their
// placeholder vectors deliberately undefined, which -Wmaybe-uninitialized
// reports inside the headers' inline functions, wherever they are used.
#if defined(__GNUC__) && !defined(__clang__)
#define VANTIR3_INTRINSICS_BEGIN \
    _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wmaybe-uninitialized\"")
#define VANTIR3_INTRINSICS_END _Pragma("GCC diagnostic pop")
#else
#define VANTIR3_INTRINSICS_BEGIN
#define VANTIR3_INTRINSICS_END
#endif

#include <cstdint>

namespace vantir3 {

enum class SimdPath {
    kScalar,  // any processor
    kAvx2,    // AVX2 with FMA
    kAvx512,  // AVX-512 F, BW, DQ and VL
    kBest,    // the highest that the processor runs
};

// The highest path not above `wanted` that this processor runs: a kernel
// asked for kBest takes the best one, a test forces each lower one in turn.
SimdPath ChooseSimdPath(SimdPath wanted = SimdPath::kBest);

// The kernels written once for every instruction set with Highway (scale
// kernels, DVL gain) run the best of these targets, named by Highway's
// target bits (HWY_AVX3, HWY_AVX2, HWY_SSE4, HWY_NEON, HWY_SCALAR, ...).
// ChooseSimdPath reads the same detection.

// The targets that the kernels were built for and that this processor runs,
// one bit each.
int64_t SimdTargets();
// Makes every kernel run as if the processor had only `target` (one bit of
// SimdTargets()), so that tests and benchmarks reach each path; 0 restores
// the processor's own choice.
void ForceSimdTarget(int64_t target);
// A target's name: "AVX3", "AVX2", "SSE4", "NEON", "SCALAR", ...
const char* SimdTargetName(int64_t target);

// The names that the DVL gain still uses, until its kernel moves onto the
// shared vector source: the same enumeration and choice.
using SimdLevel = SimdPath;
inline SimdPath CpuSimdLevel() { return ChooseSimdPath(); }

}  // namespace vantir3

#endif  // VANTIR3_NUMERIC_SIMD_PATH_H_
