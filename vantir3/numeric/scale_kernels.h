// Vectorised sample-scaling kernels. Each computes, for every sample k of a
// contiguous trace,
//     out[k] = floor(0.5 + g * in[k])  limited to -32767 ... 32767
// with g one factor for the whole trace or one factor per sample, evaluated
// exactly as written in double precision. The widest vector path the processor
// has (AVX-512, AVX2) is chosen at run time; each gives exactly the bits of
// the scalar path.
#ifndef VANTIR3_NUMERIC_SCALE_KERNELS_H_
#define VANTIR3_NUMERIC_SCALE_KERNELS_H_

#include <cstdint>

namespace vantir3 {

// One factor for all samples. in and out may be the same array.
void ScaleSamples(const int16_t* in, int16_t* out, int32_t n, double gain);
// One factor per sample: gains[k] for sample k.
void ScaleSamplesByTable(const int16_t* in, int16_t* out, int32_t n, const double* gains);

// The scalar and the vector path, for tests that compare them. The vector
// one returns false (and does nothing) on a processor without AVX2.
void ScaleSamplesScalar(const int16_t* in, int16_t* out, int32_t n, double gain,
                        const double* gains);
bool ScaleSamplesVector(const int16_t* in, int16_t* out, int32_t n, double gain,
                        const double* gains);

}  // namespace vantir3

#endif  // VANTIR3_NUMERIC_SCALE_KERNELS_H_
