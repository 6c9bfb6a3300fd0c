#include "vantir3/numeric/simd_path.h"

namespace vantir3 {

SimdPath ChooseSimdPath(SimdPath wanted) {
#if defined(__x86_64__) || defined(__i386__)
    if (wanted >= SimdPath::kAvx512 && __builtin_cpu_supports("avx512f") &&
        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512vl"))
        return SimdPath::kAvx512;
    if (wanted >= SimdPath::kAvx2 && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
        return SimdPath::kAvx2;
#else
    (void)wanted;
#endif
    return SimdPath::kPlain;
}

}  // namespace vantir3
