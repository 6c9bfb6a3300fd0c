// Instruction-set variants of the vectorised sample kernels. Every variant
// gives exactly the bits of the plain one; the best one that the processor
// has is used unless a lower one is asked for (tests compare them all).
#ifndef VANTIR3_NUMERIC_SIMD_PATH_H_
#define VANTIR3_NUMERIC_SIMD_PATH_H_

namespace vantir3 {

enum class SimdPath {
    kPlain,   // any processor
    kAvx2,    // AVX2 with FMA
    kAvx512,  // AVX-512 F, BW, DQ and VL
    kBest,
};

// The highest path not above `wanted` that this processor can run.
SimdPath ChooseSimdPath(SimdPath wanted = SimdPath::kBest);

}  // namespace vantir3

#endif  // VANTIR3_NUMERIC_SIMD_PATH_H_
