// SEC2 (spreading and exponential compensation) gain: every sample is
// multiplied by a gain that depends only on its two-way travel time (its
// axis-0 index): a reduced or unit gain before time zero, the start gain for
// one transmit pulse width after it, then a gain growing linearly (spherical
// spreading) times exponentially (attenuation in dB/m), capped at the maximum.
#ifndef VANTIR3_PROCESSES_SEC2_GAIN_H_
#define VANTIR3_PROCESSES_SEC2_GAIN_H_

#include <cstdint>
#include <memory>

#include "vantir3/data/data_buffer.h"
#include "vantir3/framework/param_table.h"

struct Sec2GainParam {
    double attenuation;  // dB per metre
    double startGain;    // gain at time zero
    double maxGain;      // largest gain ever applied
};

namespace vantir3 {
extern const ProcessDecl kSec2GainDecl;

// The SEC2 gains of the axis-0 indices first ... first + count - 1 into
// gains[0 ... count - 1], from the parameters, the 1-based time-zero position
// z, the sample interval dt (ns) and the antenna frequency f (MHz):
//   t0 = ceil(z) - 1, pw = 1500 / f, gStart = min(startGain, maxGain),
//   gPre = min(gStart, 1), s1 = ceil((z - 1) + pw / dt);
//   i < t0: gPre; t0 <= i < s1: gStart; from s1 on
//   g = startGain * (1 + (t / pw) * exp(alpha * t)) with t = i*dt - ((z-1)*dt + pw)
//   and alpha = attenuation * 0.1 / 8.68588964, until g first exceeds
//   maxGain: that index and every later one get maxGain.
// lastSample (may be null) receives the index before the first capped one,
// or first + count - 1 when the maximum is never exceeded.
// A sample interval or antenna frequency that is not a positive finite
// number, or a time-zero position that is not finite, leaves the growing part
// out: gPre before t0 and gStart from t0 on (every index gets gStart when z is
// not a number). Indices and t0 are compared as doubles, so no position
// overflows an integer.
void Sec2GainTable(const Sec2GainParam& params, double timeZeroSample, double sampleInterval,
                   double antennaFrequency, int32_t first, int32_t count, double* gains,
                   int* lastSample);

// The last gain table a process worked out and what it was worked out from:
// a host that asks for its traces a block at a time asks again and again for
// the same samples, and the table's exponentials then cost as much as the
// gain itself.
struct Sec2TableCache;

// out = floor(0.5 + g(i) * in) saturated to -32767 ... 32767 over the common
// region of in and out, g(i) as in Sec2GainTable over the common axis-0 range.
// lastSample (may be null) receives that table's last sample below the
// maximum; it is left unchanged when the walk fails before the region is
// known. Results as for every buffer walk (0, 1, -1, -2, -3, -6); -1 also
// when the per-call gain table cannot be allocated. With a cache, the table
// is taken from it when it was worked out from the same values (compared bit
// for bit), and kept there otherwise.
int Sec2Gain(MeboDataPtr& out, const MeboDataPtr& in, const Sec2GainParam& params,
             double timeZeroSample, double sampleInterval, double antennaFrequency,
             int* lastSample, Sec2TableCache* cache = nullptr);
}  // namespace vantir3

// The SEC2 gain process ("SECCGN"). Its parameters live in a Sec2GainParam on
// the heap.
class CCdpPrcSec2Gain : public vantir3::CTableProcess {
public:
    CCdpPrcSec2Gain();
    ~CCdpPrcSec2Gain() override;
    int ProcessData(MeboDataPtr& out, MeboDataPtr& in, MeboDataPtr* aux) override;
    // The current parameters (the automatic set-up writes them here).
    Sec2GainParam& Params() { return *params_; }

private:
    double* ParamSlot(uint32_t index) override;

    std::unique_ptr<Sec2GainParam> params_;
    std::unique_ptr<vantir3::Sec2TableCache> table_;
};

#endif  // VANTIR3_PROCESSES_SEC2_GAIN_H_
