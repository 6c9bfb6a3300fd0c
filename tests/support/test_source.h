// A host's raw data source for tests: serves a deterministic signed 16-bit
// profile (traces x samples x planes) and an SEGprParam record.
#ifndef VANTIR3_TESTS_SUPPORT_TEST_SOURCE_H_
#define VANTIR3_TESTS_SUPPORT_TEST_SOURCE_H_

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "vantir3/data/data_buffer.h"
#include "vantir3/framework/process.h"

namespace vantir3_test {

// The deterministic profile value at (sample, trace, plane): a decaying
// oscillation with a trace-dependent phase, a slow "wow" drift and hashed
// noise, reaching both ends of the 16-bit range near the top of each trace.
int16_t ProfileSample(int32_t sample, int32_t trace, int32_t plane);

// Default acquisition parameters: time zero at sample 10.5, 0.4 ns sampling,
// 250 MHz antenna, 0.5 m separation.
ICdpDataSource::SEGprParam DefaultGprParam();

class TestSource : public ICdpDataSource {
public:
    // A profile of `samples` x `traces` x `planes`, indices from 0.
    TestSource(int32_t samples, int32_t traces, int32_t planes = 1);
    TestSource(int32_t samples, int32_t traces, int32_t planes,
               const std::function<int16_t(int32_t, int32_t, int32_t)>& value);
    ~TestSource() override;

    const SEGprParam* GprParamPtr() const override;
    bool GetAvailableRange(Mebo3DDataAxis* range, int n) const override;
    // Copies the requested region (the whole profile for a null region),
    // clipped to the profile, into out; -1 when nothing of it exists.
    // Returns the status set with SetStatus otherwise.
    int GetDataCdp(MeboDataPtr& out, const Mebo3DDataAxis* region,
                   const void* requester) const override;
    bool SourceChanged(const void* requester) const override;
    uint32_t EdgeEffect(bool recursive) const override;

    SEGprParam& Gpr() { return gpr_; }
    void SetNoGprParam(bool none) { noGpr_ = none; }
    void SetStatus(int status) { status_ = status; }
    void SetEdgeEffect(uint32_t effect) { edgeEffect_ = effect; }
    const MeboDataPtr& Data() const { return data_; }
    int16_t At(int32_t sample, int32_t trace, int32_t plane = 0) const;

private:
    MeboDataPtr data_;
    SEGprParam gpr_;
    bool noGpr_ = false;
    int status_ = 0;
    uint32_t edgeEffect_ = 0;
    mutable std::vector<const void*> requesters_;
};

// A buffer of signed 16-bit samples with the given ranges, filled by value.
MeboDataPtr MakeBuffer(int32_t min0, int32_t max0, int32_t min1, int32_t max1, int32_t min2,
                       int32_t max2, const std::function<int16_t(int32_t, int32_t, int32_t)>& value);
// The sample at (i0, i1, i2) of a 16-bit buffer's view.
int16_t SampleAt(const MeboDataPtr& buf, int32_t i0, int32_t i1, int32_t i2 = 0);
// Writes the sample at (i0, i1, i2) of a 16-bit buffer's view.
void PutSample(MeboDataPtr& buf, int32_t i0, int32_t i1, int32_t i2, int16_t v);

// A cleared record (no storage), and the test for one.
MeboDataPtr Empty();
bool IsEmpty(const MeboDataPtr& buf);
// n0 x n1 x n2 zeroed elements of elemSize bytes, indices from 0.
MeboDataPtr Zeroed(int32_t elemSize, int32_t n0, int32_t n1 = 1, int32_t n2 = 1);
// One trace of 16-bit samples along axis 0, indices from 0.
MeboDataPtr Row(const std::vector<int16_t>& values);
// The samples along axis 0 at (i1, i2), in index order.
std::vector<int16_t> Samples(const MeboDataPtr& buf, int32_t i1 = 0, int32_t i2 = 0);
// The sum and the sum of squares of every sample in a 16-bit buffer's view.
std::pair<int64_t, int64_t> SumAndEnergy(const MeboDataPtr& buf);

// Owns a buffer until the end of the scope.
struct Owned {
    MeboDataPtr b;
    Owned() : b(Empty()) {}
    Owned(MeboDataPtr buf) : b(buf) {}  // implicit: Owned x = MakeBuffer(...)
    ~Owned() { MeboDataPtrRelease(&b); }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
};

}  // namespace vantir3_test

#endif  // VANTIR3_TESTS_SUPPORT_TEST_SOURCE_H_
