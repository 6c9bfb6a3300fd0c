#include "vantir3/numeric/simd_path.h"

namespace vantir3 {

SimdPath ChooseSimdPath(SimdPath wanted) {
#if defined(VANTIR3_HAVE_X86_PATHS)
    if (wanted >= SimdPath::kAvx512 && __builtin_cpu_supports("avx512f") &&
        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512vl"))
        return SimdPath::kAvx512;
    if (wanted >= SimdPath::kAvx2 && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
        return SimdPath::kAvx2;
#else
    (void)wanted;
#endif
    return SimdPath::kScalar;
}

}  // namespace vantir3
