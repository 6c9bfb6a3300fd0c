// Instruction-set variants of the vectorised sample kernels. Every variant
// gives exactly the bits of the plain one; the best one that the processor
// has is used unless a lower one is asked for (tests compare them all).
#ifndef VANTIR3_NUMERIC_SIMD_PATH_H_
#define VANTIR3_NUMERIC_SIMD_PATH_H_

#include <cstdint>

namespace vantir3 {

enum class SimdPath {
    kPlain,   // any processor
    kAvx2,    // AVX2 with FMA
    kAvx512,  // AVX-512 F, BW, DQ and VL
    kBest,
};

// The highest path not above `wanted` that this processor can run (or the
// instruction set that ForceSimdTarget set).
SimdPath ChooseSimdPath(SimdPath wanted = SimdPath::kBest);

// The kernels written once for every instruction set with Highway (scale
// kernels, DVL gain) run the best of these targets, named by Highway's
// target bits (HWY_AVX3, HWY_AVX2, HWY_SSE4, HWY_NEON, HWY_EMU128, ...).

// The targets that the kernels were built for and that this processor runs,
// one bit each.
int64_t SimdTargets();
// Makes every kernel run as if the processor had only `target` (one bit of
// SimdTargets()), so that tests and benchmarks reach each path; 0 restores
// the processor's own choice.
void ForceSimdTarget(int64_t target);
// A target's name: "AVX3", "AVX2", "SSE4", "EMU128", "NEON", ...
const char* SimdTargetName(int64_t target);

// The vector instructions a kernel may use. Every level gives the same bits.
enum class SimdLevel { kScalar, kAvx512 };

// The best level of this processor.
inline SimdLevel CpuSimdLevel() {
    return ChooseSimdPath() == SimdPath::kAvx512 ? SimdLevel::kAvx512 : SimdLevel::kScalar;
}

}  // namespace vantir3

#endif  // VANTIR3_NUMERIC_SIMD_PATH_H_
