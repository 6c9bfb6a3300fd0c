#include "tests/support/test_source.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

namespace vantir3_test {

int16_t ProfileSample(int32_t sample, int32_t trace, int32_t plane) {
    const double decay = std::exp(-0.004 * sample);
    const double wave = std::sin(0.37 * sample + 0.05 * trace + 0.9 * plane);
    uint32_t h = static_cast<uint32_t>(sample) * 2654435761u ^ static_cast<uint32_t>(trace) * 2246822519u ^
                 static_cast<uint32_t>(plane) * 3266489917u;
    h ^= h >> 15;
    h *= 2246822519u;
    h ^= h >> 13;
    const double noise = static_cast<double>(h % 401) - 200.0;
    const double wow = 900.0 * std::exp(-0.01 * sample);
    const double v = 36000.0 * decay * wave + wow + noise;
    return static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
}

ICdpDataSource::SEGprParam DefaultGprParam() {
    ICdpDataSource::SEGprParam p{};
    p.hostField = 0.0;
    p.timeZeroSample = 10.5;
    p.sampleInterval = 0.4;
    p.antennaFrequency = 250.0;
    p.antennaSeparation = 0.5;
    return p;
}

MeboDataPtr MakeBuffer(int32_t min0, int32_t max0, int32_t min1, int32_t max1, int32_t min2,
                       int32_t max2, const std::function<int16_t(int32_t, int32_t, int32_t)>& value) {
    MeboDataPtr buf = Empty();
    if (!MeboDataPtrAllocate(&buf, 2, min0, max0, min1, max1, min2, max2, 1)) return buf;
    int16_t* p = reinterpret_cast<int16_t*>(buf.storage->data);
    // (64-bit counters: a range may end at the largest 32-bit value.)
    for (int64_t i2 = min2; i2 <= max2; ++i2)
        for (int64_t i1 = min1; i1 <= max1; ++i1)
            for (int64_t i0 = min0; i0 <= max0; ++i0)
                *p++ = value(static_cast<int32_t>(i0), static_cast<int32_t>(i1), static_cast<int32_t>(i2));
    return buf;
}

namespace {
uint8_t* Address(const MeboDataPtr& buf, int32_t i0, int32_t i1, int32_t i2) {
    const Mebo3DDataAxis& a = buf.axis;
    return a.base + static_cast<ptrdiff_t>(i0 - a.dim[0].min) * a.dim[0].stride +
           static_cast<ptrdiff_t>(i1 - a.dim[1].min) * a.dim[1].stride +
           static_cast<ptrdiff_t>(i2 - a.dim[2].min) * a.dim[2].stride;
}
}  // namespace

int16_t SampleAt(const MeboDataPtr& buf, int32_t i0, int32_t i1, int32_t i2) {
    int16_t v;
    std::memcpy(&v, Address(buf, i0, i1, i2), sizeof v);
    return v;
}

void PutSample(MeboDataPtr& buf, int32_t i0, int32_t i1, int32_t i2, int16_t v) {
    std::memcpy(Address(buf, i0, i1, i2), &v, sizeof v);
}

MeboDataPtr Empty() {
    MeboDataPtr b;
    MeboDataPtrClear(&b);
    return b;
}

bool IsEmpty(const MeboDataPtr& buf) {
    const MeboDataPtr zero = Empty();
    return std::memcmp(&buf, &zero, sizeof buf) == 0;
}

MeboDataPtr Zeroed(int32_t elemSize, int32_t n0, int32_t n1, int32_t n2) {
    MeboDataPtr b = Empty();
    MeboDataPtrAllocate(&b, elemSize, 0, n0 - 1, 0, n1 - 1, 0, n2 - 1, 1);
    return b;
}

MeboDataPtr Row(const std::vector<int16_t>& values) {
    return MakeBuffer(0, static_cast<int32_t>(values.size()) - 1, 0, 0, 0, 0,
                      [&](int32_t i, int32_t, int32_t) { return values[i]; });
}

std::vector<int16_t> Samples(const MeboDataPtr& buf, int32_t i1, int32_t i2) {
    std::vector<int16_t> v;
    for (int32_t i = buf.axis.dim[0].min; i <= buf.axis.dim[0].max; ++i) v.push_back(SampleAt(buf, i, i1, i2));
    return v;
}

std::pair<int64_t, int64_t> SumAndEnergy(const MeboDataPtr& buf) {
    std::pair<int64_t, int64_t> r(0, 0);
    const MeboAxisDim* d = buf.axis.dim;
    for (int32_t i2 = d[2].min; i2 <= d[2].max; ++i2)
        for (int32_t i1 = d[1].min; i1 <= d[1].max; ++i1)
            for (const int64_t v : Samples(buf, i1, i2)) r.first += v, r.second += v * v;
    return r;
}

TestSource::TestSource(int32_t samples, int32_t traces, int32_t planes)
    : TestSource(samples, traces, planes, ProfileSample) {}

TestSource::TestSource(int32_t samples, int32_t traces, int32_t planes,
                       const std::function<int16_t(int32_t, int32_t, int32_t)>& value)
    : data_(MakeBuffer(0, samples - 1, 0, traces - 1, 0, planes - 1, value)), gpr_(DefaultGprParam()) {}

TestSource::~TestSource() { MeboDataPtrRelease(&data_); }

const ICdpDataSource::SEGprParam* TestSource::GprParamPtr() const { return noGpr_ ? nullptr : &gpr_; }

bool TestSource::GetAvailableRange(Mebo3DDataAxis* range, int) const {
    if (range != nullptr) *range = data_.axis;
    return true;
}

int TestSource::GetDataCdp(MeboDataPtr& out, const Mebo3DDataAxis* region, const void* requester) const {
    if (std::find(requesters_.begin(), requesters_.end(), requester) == requesters_.end())
        requesters_.push_back(requester);
    MeboDataPtrRelease(&out);
    if (status_ < 0) return status_;
    Mebo3DDataAxis want = region != nullptr ? *region : data_.axis;
    Mebo3DDataAxis common = data_.axis;
    if (MeboIntersectRanges(&common, &data_.axis, &want, 0, 3) < 0) return -1;
    const MeboAxisDim* d = common.dim;
    if (!MeboDataPtrAllocate(&out, 2, d[0].min, d[0].max, d[1].min, d[1].max, d[2].min, d[2].max, 0))
        return -1;
    int16_t* p = reinterpret_cast<int16_t*>(out.storage->data);
    for (int32_t i2 = d[2].min; i2 <= d[2].max; ++i2)
        for (int32_t i1 = d[1].min; i1 <= d[1].max; ++i1)
            for (int32_t i0 = d[0].min; i0 <= d[0].max; ++i0) *p++ = SampleAt(data_, i0, i1, i2);
    return status_;
}

bool TestSource::SourceChanged(const void* requester) const {
    return std::find(requesters_.begin(), requesters_.end(), requester) != requesters_.end();
}

uint32_t TestSource::EdgeEffect(bool) const { return edgeEffect_; }

int16_t TestSource::At(int32_t sample, int32_t trace, int32_t plane) const {
    return SampleAt(data_, sample, trace, plane);
}

}  // namespace vantir3_test
