// Instruction-set dispatch of the vector kernels, in one place. Each kernel
// is written once with Highway and compiled for every instruction set of the
// processor family (SSE4, AVX2, AVX-512 on x86-64; NEON and SVE on ARM);
// Highway's dispatch runs the best of them that the processor has. Every
// target gives exactly the bits of the scalar formula, so the choice only
// changes speed; tests and benchmarks force each target in turn.
#ifndef VANTIR3_NUMERIC_SIMD_PATH_H_
#define VANTIR3_NUMERIC_SIMD_PATH_H_

#include <cstdint>

namespace vantir3 {

// The targets that the kernels were built for and that this processor runs,
// one bit each (Highway's target bits: HWY_AVX3, HWY_AVX2, HWY_SSE4,
// HWY_NEON, HWY_SCALAR, ...).
int64_t SimdTargets();
// Makes every kernel run as if the processor had only `target` (one bit of
// SimdTargets()), so that tests and benchmarks reach each path; 0 restores
// the processor's own choice.
void ForceSimdTarget(int64_t target);
// A target's name: "AVX3", "AVX2", "SSE4", "NEON", "SCALAR", ...
const char* SimdTargetName(int64_t target);

}  // namespace vantir3

#endif  // VANTIR3_NUMERIC_SIMD_PATH_H_
