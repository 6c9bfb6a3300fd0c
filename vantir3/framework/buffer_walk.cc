#include "vantir3/framework/buffer_walk.h"

#include "vantir3/framework/status.h"

namespace vantir3 {

CommonRegion::CommonRegion(MeboDataPtr& out, const MeboDataPtr& in)
    : callerOut_(out), status_(kStatusNoCommonRegion) {
    MeboDataPtrClear(&in_);
    MeboDataPtrClear(&out_);
    if (in.storage == nullptr || out.storage == nullptr) return;
    if (in.axis.elemSize != out.axis.elemSize ||
        in.axis.elemSize != static_cast<int32_t>(sizeof(int16_t))) {
        status_ = kStatusElemSizeMismatch;
        return;
    }
    MeboDataPtrShare(&in_, &in);
    MeboDataPtrShare(&out_, &out);
    status_ = MeboDataPtrIntersect(&in_, &out_);
    if (status_ >= 0) {
        MeboDataPtrSeekCorner(&in_, -1);
        MeboDataPtrSeekCorner(&out_, -1);
    }
}

CommonRegion::~CommonRegion() {
    MeboDataPtrRelease(&in_);
    MeboDataPtrRelease(&out_);
}

int64_t CommonRegion::TraceCount() const {
    const Mebo3DDataAxis& a = in_.axis;
    return (int64_t{a.dim[1].max} - a.dim[1].min + 1) * (int64_t{a.dim[2].max} - a.dim[2].min + 1);
}

namespace {
uint8_t* Address(const Mebo3DDataAxis& a, int32_t i0, int32_t i1, int32_t i2) {
    return a.base + static_cast<ptrdiff_t>(i0 - a.dim[0].min) * a.dim[0].stride +
           static_cast<ptrdiff_t>(i1 - a.dim[1].min) * a.dim[1].stride +
           static_cast<ptrdiff_t>(i2 - a.dim[2].min) * a.dim[2].stride;
}
}  // namespace

TraceSpan CommonRegion::Trace(int32_t trace, int32_t plane) const {
    const Mebo3DDataAxis& a = in_.axis;
    const Mebo3DDataAxis& b = out_.axis;
    TraceSpan s;
    s.in = reinterpret_cast<const int16_t*>(Address(a, a.dim[0].min, trace, plane));
    s.out = reinterpret_cast<int16_t*>(Address(b, b.dim[0].min, trace, plane));
    s.inStep = a.dim[0].stride / static_cast<ptrdiff_t>(sizeof(int16_t));
    s.outStep = b.dim[0].stride / static_cast<ptrdiff_t>(sizeof(int16_t));
    s.first = a.dim[0].min;
    s.count = a.dim[0].max - a.dim[0].min + 1;
    s.trace = trace;
    s.plane = plane;
    return s;
}

int CommonRegion::Finish() {
    if (status_ < 0 || (status_ & kIntersectNarrowerThanSecond) == 0) return kStatusOk;
    const Mebo3DDataAxis view = MeboDataPtrGetAxis(&out_);
    return MeboDataPtrSetView(&callerOut_, &view, 0) ? kStatusOutputNarrowed : kStatusFinalNarrowFailed;
}

}  // namespace vantir3
