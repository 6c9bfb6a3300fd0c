// Runs a check once per instruction set that the vector kernels were built
// for and that this processor runs, with every kernel forced onto it.
#ifndef VANTIR3_TESTS_SUPPORT_SIMD_TARGETS_H_
#define VANTIR3_TESTS_SUPPORT_SIMD_TARGETS_H_

#include <gtest/gtest.h>

#include <cstdint>

#include "vantir3/numeric/simd_path.h"

namespace vantir3_test {

// f() once per target (named in failure messages), then the processor's own
// choice restored. Returns the number of targets run.
template <class F>
int ForEachSimdTarget(F&& f) {
    int count = 0;
    for (int64_t rest = vantir3::SimdTargets(); rest != 0; rest &= rest - 1, ++count) {
        const int64_t target = rest & -rest;
        SCOPED_TRACE(vantir3::SimdTargetName(target));
        vantir3::ForceSimdTarget(target);
        f();
    }
    vantir3::ForceSimdTarget(0);
    return count;
}

}  // namespace vantir3_test

#endif  // VANTIR3_TESTS_SUPPORT_SIMD_TARGETS_H_
