// Constant gain: multiplies every sample by one fixed factor.
#ifndef VANTIR3_PROCESSES_CONST_GAIN_H_
#define VANTIR3_PROCESSES_CONST_GAIN_H_

#include "vantir3/data/data_buffer.h"
#include "vantir3/framework/param_table.h"

namespace vantir3 {
extern const ProcessDecl kConstGainDecl;

// out = floor(0.5 + gain * in), saturated to -32767 ... 32767, over the common
// region of in and out. Results as for every buffer walk (0, 1, -1, -2, -3, -6).
int ConstGain(MeboDataPtr& out, const MeboDataPtr& in, double gain);
}  // namespace vantir3

class CCdpPrcConstGain : public vantir3::CTableProcess {
public:
    CCdpPrcConstGain();
    int ProcessData(MeboDataPtr& out, MeboDataPtr& in, MeboDataPtr* aux) override;

private:
    double* ParamSlot(uint32_t index) override;

    double gain_;
};

#endif  // VANTIR3_PROCESSES_CONST_GAIN_H_
