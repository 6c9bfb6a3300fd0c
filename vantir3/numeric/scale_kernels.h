// Vectorised sample-scaling kernels. Each computes, for every sample k of a
// contiguous trace,
//     out[k] = floor(0.5 + g * in[k])  limited to -32767 ... 32767
// with g one factor for the whole trace or one factor per sample, evaluated
// exactly as written in double precision. The kernel is written once and
// compiled for every instruction set; the best one that the processor has
// (numeric/simd_path.h) runs, and each gives exactly the bits of the scalar
// path.
#ifndef VANTIR3_NUMERIC_SCALE_KERNELS_H_
#define VANTIR3_NUMERIC_SCALE_KERNELS_H_

#include <cmath>
#include <cstdint>

namespace vantir3 {

// Whether a factor is 0 or between 1/2 and 2^13 in magnitude: its products
// with samples are then 0 or at least 1/2 in magnitude and stay within 2^28,
// and the AVX-512 path rounds them by one addition onto a fixed grid.
inline bool ModerateGain(double g) {
    const double a = std::fabs(g);
    return a == 0.0 || (a >= 0.5 && a <= 0x1p13);
}
// Whether gains[0 ... count - 1] are all moderate; a per-call table is
// checked once and the answer passed to ScaleSamplesByTable for each trace.
bool ModerateGains(const double* gains, int32_t count);

// Whether g = G / 2^k with G whole, |G| <= 16383 and 0 <= k <= 14 (0 and
// -0 included), giving 2G and k. Then every g x is (G x) / 2^k and 0.5 +
// g x is (2^k + 2G x) / 2^(k + 1), both exact in double (below 2^30) and in
// 32-bit integers, so the floor is an arithmetic shift: ScaleSamples takes
// that integer path (common factors such as 2.5, 10 or 0.75 are of this
// kind).
bool DyadicFactor(double g, int32_t& twiceG, int32_t& k);

// One factor for all samples. in and out may be the same array.
void ScaleSamples(const int16_t* in, int16_t* out, int32_t n, double gain);
// One factor per sample: gains[k] for sample k; `moderate` as ModerateGains
// says of the table (false is always safe).
void ScaleSamplesByTable(const int16_t* in, int16_t* out, int32_t n, const double* gains,
                         bool moderate = false);

// A per-call factor table as ScaleSamplesByTable takes it: gains[k] for
// sample k, with its leading run of one factor (gains[0 ... head - 1]) and
// its trailing one (gains[tail ... count - 1]), which go through
// ScaleSamples (SEC2's gains, for one, hold the start gain, then rise, then
// stay at the maximum), and whether the factors between are moderate.
struct FactorTable {
    const double* gains = nullptr;
    int32_t head = 0;
    int32_t tail = 0;
    bool moderate = false;
};
// The runs of gains[0 ... count - 1] (equal as doubles; head <= tail), cut
// to multiples of kRunAlignment samples (tail may also be count).
constexpr int32_t kRunAlignment = 64;
FactorTable PrepareFactorTable(const double* gains, int32_t count);
// One factor per sample, table.gains[k] for sample k (n at most the table's
// count). in and out may be the same array.
void ScaleSamplesByTable(const int16_t* in, int16_t* out, int32_t n, const FactorTable& table);

// The scalar formula (gains null for one factor), for the samples that do
// not fill a vector and for tests.
void ScaleSamplesScalar(const int16_t* in, int16_t* out, int32_t n, double gain,
                        const double* gains);

}  // namespace vantir3

#endif  // VANTIR3_NUMERIC_SCALE_KERNELS_H_
