// The integer reductions of the statistics walk over contiguous 16-bit
// samples, written once and compiled for every instruction set (the best one
// that the processor has runs, numeric/simd_path.h). Minimum and maximum are
// exact in any order, and so is the 64-bit sum of 16-bit values: every
// target gives the bits of the one-by-one loop.
#ifndef VANTIR3_NUMERIC_STATISTICS_KERNELS_H_
#define VANTIR3_NUMERIC_STATISTICS_KERNELS_H_

#include <cstdint>

namespace vantir3 {

// Which accumulators a reduction updates.
enum class RunParts { kMinMax, kSum, kBoth };

// x[0 ... n - 1] folded into one accumulator: *lo = min(*lo, x[i]), *hi =
// max(*hi, x[i]), *sum += x[i] (the parts asked for).
void ReduceSamples(const int16_t* x, int64_t n, RunParts parts, int16_t* lo, int16_t* hi, int64_t* sum);

// x[i] folded into accumulator i, for i < n: lo[i] = min(lo[i], x[i]), and
// so on. The arrays do not overlap x.
void ReduceSamplesIndexed(const int16_t* x, int64_t n, RunParts parts, int16_t* lo, int16_t* hi, int64_t* sum);

}  // namespace vantir3

#endif  // VANTIR3_NUMERIC_STATISTICS_KERNELS_H_
