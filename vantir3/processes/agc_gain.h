// AGC (automatic gain control): every sample is scaled by the inverse of the
// local signal strength, the mean magnitude in a centred window along the
// trace (the dewow window), so that weak and strong parts of a trace come out
// at a similar level. Exists only as a process.
#ifndef VANTIR3_PROCESSES_AGC_GAIN_H_
#define VANTIR3_PROCESSES_AGC_GAIN_H_

#include <cstdint>
#include <memory>

#include "vantir3/data/data_buffer.h"
#include "vantir3/framework/buffer_walk.h"
#include "vantir3/framework/param_table.h"
#include "vantir3/processes/dewow.h"

namespace vantir3 {
extern const ProcessDecl kAgcGainDecl;

// The gain for a window whose mean magnitude is `mean`: min(maxGain, 32767)
// for a mean of at most 1 (silence), otherwise 32767 / mean, reduced to
// maxGain when larger.
inline double AgcGainFor(double mean, double maxGain) {
    if (mean <= 1.0) return maxGain < 32767.0 ? maxGain : 32767.0;
    const double g = 32767.0 / mean;
    return g > maxGain ? maxGain : g;
}

// The output of one sample x whose window has the magnitude sum `sum` over
// `count` samples: floor(0.5 + g * x) saturated to -32767 ... 32767, with g =
// AgcGainFor(sum / count, maxGain).
inline int16_t AgcSample(int16_t x, double sum, double count, double maxGain) {
    return FloorSaturate16(0.5 + AgcGainFor(sum / count, maxGain) * static_cast<double>(x));
}

// The AGC of traces of one length with one window and maximum gain: the
// running window and, for the vector kernels, per-position tables built once.
class AgcKernel {
public:
    // Prepares for traces of n >= 1 samples. The vector kernels (every
    // instruction set) run for a maximum gain from 1 to 32767 and windows of
    // at most 16383 samples (every window sum then stays below 2^29); false
    // when the memory cannot be had.
    bool Reserve(int32_t n, int32_t half, double maxGain);
    // AGC of one trace of n samples (x and y must not overlap):
    // y[i] = AgcSample(x[i], ...) over the window of sample i.
    void Trace(const int16_t* x, int16_t* y) const;
    // The same by the scalar formula over the running window's walk.
    void TraceScalar(const int16_t* x, int16_t* y) const;

    // For the vector kernels: the window, the maximum gain, and per position
    // (n entries, RunningWindow::kPadding more) 32767 c as a float, 65534 c,
    // and the smallest window sum whose gain is not the maximum, for windows
    // of c samples.
    const RunningWindow& Window() const { return window_; }
    double MaxGain() const { return maxGain_; }
    const float* FullScale() const { return fullScale_.get(); }
    const int32_t* TwiceFullScale() const { return twiceFullScale_.get(); }
    const int32_t* UncappedFrom() const { return uncappedFrom_.get(); }

private:
    RunningWindow window_;
    double maxGain_ = 0.0;
    bool vector_ = false;
    Scratch<float> fullScale_;
    Scratch<int32_t> twiceFullScale_;
    Scratch<int32_t> uncappedFrom_;
};

// AGC over the common region of in and out: out = floor(0.5 + x * g)
// saturated to -32767 ... 32767 with g from AgcSample and a window
// `window` transmit pulse widths wide (RunningMeanHalf; a zero or unusable
// frequency or interval gives a one-sample window). Results as for every
// buffer walk (0, 1, -1, -2, -3, -6); -1 also when the per-call scratch
// memory cannot be had.
int AgcGain(MeboDataPtr& out, const MeboDataPtr& in, double window, double maxGain,
            double antennaFrequency, double sampleInterval);
}  // namespace vantir3

// The AGC gain process ("AGC@@@").
class CCdpPrcAgcGain : public vantir3::CTableProcess {
public:
    CCdpPrcAgcGain();
    int ProcessData(MeboDataPtr& out, MeboDataPtr& in, MeboDataPtr* aux) override;

private:
    double* ParamSlot(uint32_t index) override;

    double window_;
    double maxGain_;
};

#endif  // VANTIR3_PROCESSES_AGC_GAIN_H_
