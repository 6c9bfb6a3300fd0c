// DVL gain: from time zero on, a gain growing linearly with two-way travel
// time (Beta, gain per ns), followed by an S-shaped compression curve (Alpha)
// that lifts small signals more than large ones and maps full scale onto full
// scale. Samples before time zero pass unchanged. Exists only as a process.
#ifndef VANTIR3_PROCESSES_DVL_GAIN_H_
#define VANTIR3_PROCESSES_DVL_GAIN_H_

#include <cmath>
#include <cstdint>

#include "vantir3/data/data_buffer.h"
#include "vantir3/framework/buffer_walk.h"
#include "vantir3/framework/param_table.h"
#include "vantir3/processes/trace_kernels.h"

namespace vantir3 {
extern const ProcessDecl kDvlGainDecl;

// The linear gains of the axis-0 indices first ... first + count - 1 from
// beta, the 1-based time-zero position z and the sample interval dt (ns):
// with t0 = ceil(z) - 1, step = dt * beta and G0 = 1 + (z - floor(z)) * step,
// gains[k] = G0 + (i - t0) * step for the index i = first + k from t0 on.
// Returns the number of leading indices before t0 (their entries are 1). A
// zero sample interval keeps the gain at G0 and a negative one makes it fall
// (samples change sign where it turns negative); a time-zero position or
// sample interval that is not finite applies no gain: every index counts as
// before time zero. Indices and t0 are compared as doubles, so no position
// overflows an integer.
int32_t DvlGainTable(double beta, double timeZeroSample, double sampleInterval, int32_t first,
                     int32_t count, double* gains);

// The S-curve of Alpha: P = (1 + alpha) * 32767 and Q = alpha * 32767.
// `bounded` (set by BoundDvlCurve) says that every curve value
// y = L P / (|L| + Q) of a call is finite, at most about 2^29 in magnitude,
// and 0 or at least 1/2 in magnitude, so that the vector path may round it
// with one addition onto a fixed grid (or floor 0.5 + y without limiting
// it first).
struct DvlCurve {
    double p;
    double q;
    bool bounded = false;
};
inline DvlCurve DvlCurveFor(double alpha) { return {(1.0 + alpha) * 32767.0, alpha * 32767.0}; }

// Sets curve.bounded for the gains g[0 ... count - 1]. With Q > 0 and
// P <= 2^29, |y| stays at P or below (the roundings may reach P itself) for
// every finite L whose product with P cannot overflow (|g| <= 2^900, as
// |x| <= 2^15; NaN fails that test). |y| grows with |L|, and |L| >= |g| for
// every sample but 0, so a gain of 0 or one whose sample 1 gives |y| >= 3/4
// (|g| P >= 3/4 (|g| + Q), with room for the roundings) keeps every nonzero
// sample's y away from the interval (0, 1/2).
void BoundDvlCurve(DvlCurve& curve, const double* gains, int32_t count);

// The compressed sample for linear gain g: with L = g * x,
// floor(0.5 + L * P / (|L| + Q)) saturated to -32767 ... 32767.
inline int16_t DvlSample(double g, int16_t x, const DvlCurve& c) {
    const double l = g * static_cast<double>(x);
    return FloorSaturate16(0.5 + l * c.p / (std::fabs(l) + c.q));
}

// One contiguous trace of n samples (x and y may be the same array): the
// first `before` samples copied, the others DvlSample(gains[k], x[k], curve),
// with the best instruction set of numeric/simd_path.h.
void DvlTrace(const int16_t* x, int16_t* y, int32_t n, int32_t before, const double* gains,
              const DvlCurve& curve);

// DVL gain over the common region of in and out. Results as for every buffer
// walk (0, 1, -1, -2, -3, -6); -1 also when the per-call gain table cannot
// be allocated.
int DvlGain(MeboDataPtr& out, const MeboDataPtr& in, double alpha, double beta,
            double timeZeroSample, double sampleInterval);
}  // namespace vantir3

// The DVL gain process ("DVLGN@"). Beta is stored before Alpha; the
// declaration lists Alpha first.
class CCdpPrcDvlGain : public vantir3::CTableProcess {
public:
    CCdpPrcDvlGain();
    int ProcessData(MeboDataPtr& out, MeboDataPtr& in, MeboDataPtr* aux) override;

private:
    double* ParamSlot(uint32_t index) override;

    double beta_;
    double alpha_;
};

#endif  // VANTIR3_PROCESSES_DVL_GAIN_H_
