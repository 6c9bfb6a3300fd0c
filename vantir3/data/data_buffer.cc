// Shared, reference-counted sample storage with views and a cursor.
//
// A buffer refers to a storage record that several buffers may share; each
// buffer has its own view (layout) of the storage and its own cursor. Views
// are changed in constant time; no operation here copies a sample.

#include "vantir3/data/data_buffer.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "vantir3/data/sample_memory.h"
#include "vantir3/framework/status.h"

namespace {

constexpr int kNumAxes = 3;

// Signed 32-bit difference and product with two's-complement wrap-around.
// Inside a valid view neither ever wraps (the byte size of any storage fits
// in 32 bits); wrapping instead of overflowing only keeps corrupt or external
// layouts from invoking undefined behaviour.
inline int32_t Sub32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t Mul32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

inline bool IndexInView(const Mebo3DDataAxis& layout, const int32_t idx[kNumAxes]) {
    for (int k = 0; k < kNumAxes; ++k) {
        if (idx[k] < layout.dim[k].min || idx[k] > layout.dim[k].max) return false;
    }
    return true;
}

// base + (i0 - min0)*stride0 + (i1 - min1)*stride1 + (i2 - min2)*stride2, each
// product formed in 32 bits and widened to a pointer offset before the sum.
inline uint8_t* AddressOf(const Mebo3DDataAxis& layout, const int32_t idx[kNumAxes]) {
    std::ptrdiff_t offset = 0;
    for (int k = 0; k < kNumAxes; ++k) {
        offset += static_cast<std::ptrdiff_t>(
            Mul32(Sub32(idx[k], layout.dim[k].min), layout.dim[k].stride));
    }
    return layout.base + offset;
}

// Moves the cursor to idx if it lies in the buffer's view. A view without a
// base (an empty buffer) has no addressable sample.
int SeekIndex(MeboDataPtr* buf, const int32_t idx[kNumAxes]) {
    if (buf == nullptr || buf->axis.base == nullptr) return 0;
    if (!IndexInView(buf->axis, idx)) return 0;
    buf->cur = AddressOf(buf->axis, idx);
    for (int k = 0; k < kNumAxes; ++k) buf->idx[k] = idx[k];
    return 1;
}

// Axis numbers of a layout ordered by ascending stride; equal strides keep
// ascending axis order.
void StrideRankOrder(const Mebo3DDataAxis& layout, int order[kNumAxes]) {
    for (int k = 0; k < kNumAxes; ++k) order[k] = k;
    for (int i = 1; i < kNumAxes; ++i) {  // insertion sort, stable
        const int axis = order[i];
        int j = i;
        while (j > 0 && layout.dim[order[j - 1]].stride > layout.dim[axis].stride) {
            order[j] = order[j - 1];
            --j;
        }
        order[j] = axis;
    }
}

inline bool ValidAxisPair(int a, int b) {
    return a >= 0 && a < kNumAxes && b >= 0 && b < kNumAxes && a != b;
}

void SwapDims(Mebo3DDataAxis* layout, int a, int b) {
    const MeboAxisDim t = layout->dim[a];
    layout->dim[a] = layout->dim[b];
    layout->dim[b] = t;
}

}  // namespace

extern "C" {

int MeboDataPtrClear(MeboDataPtr* buf) {
    if (buf == nullptr) return 0;
    std::memset(buf, 0, sizeof(*buf));
    return 1;
}

int MeboDataPtrRelease(MeboDataPtr* buf) {
    if (buf == nullptr) return 0;
    MeboDataStorage* storage = buf->storage;
    if (storage != nullptr) {
        // A count that is already 0 can only come from a record copied by
        // hand; free it rather than wrap the count around.
        if (storage->refCount <= 1) {
            vantir3::FreeSamples(storage->data, static_cast<size_t>(storage->byteSize > 0 ? storage->byteSize : 0));
            delete storage;
        } else {
            --storage->refCount;
        }
    }
    return MeboDataPtrClear(buf);
}

int MeboDataPtrAllocate(MeboDataPtr* buf, int32_t elemSize,
                        int32_t min0, int32_t max0,
                        int32_t min1, int32_t max1,
                        int32_t min2, int32_t max2, int zeroFill) {
    if (buf == nullptr || elemSize <= 0) return 0;

    const int32_t mins[kNumAxes] = {min0, min1, min2};
    const int32_t maxs[kNumAxes] = {max0, max1, max2};
    // Sample counts |max - min| + 1 and the byte size, in 64 bits so that an
    // impossible size is seen instead of wrapping; the byte size and so every
    // stride must fit in a signed 32-bit value.
    int64_t counts[kNumAxes];
    int64_t bytes = elemSize;
    bool fits = true;
    for (int k = 0; k < kNumAxes; ++k) {
        const int64_t span = static_cast<int64_t>(maxs[k]) - mins[k];
        counts[k] = (span < 0 ? -span : span) + 1;
        bytes *= counts[k];  // at most 2^31 * 2^32: no 64-bit overflow
        if (bytes > INT32_MAX) {
            fits = false;
            break;
        }
    }

    MeboDataPtrRelease(buf);
    if (!fits) return 0;

    MeboDataStorage* storage = new (std::nothrow) MeboDataStorage();
    if (storage == nullptr) return 0;
    storage->data = vantir3::AllocateSamples(static_cast<size_t>(bytes), zeroFill != 0);
    if (storage->data == nullptr) {
        delete storage;
        return 0;
    }

    storage->byteSize = static_cast<int32_t>(bytes);
    storage->refCount = 1;
    Mebo3DDataAxis& layout = storage->layout;
    layout.base = storage->data;
    layout.elemSize = elemSize;
    int64_t stride = elemSize;
    for (int k = 0; k < kNumAxes; ++k) {
        layout.dim[k].stride = static_cast<int32_t>(stride);
        layout.dim[k].min = mins[k];
        layout.dim[k].max = maxs[k];
        stride *= counts[k];
    }

    buf->storage = storage;
    buf->axis = layout;
    buf->cur = storage->data;
    for (int k = 0; k < kNumAxes; ++k) buf->idx[k] = mins[k];
    return 1;
}

int MeboDataPtrAllocateCounts(MeboDataPtr* buf, int32_t elemSize,
                              int32_t n0, int32_t n1, int32_t n2, int zeroFill) {
    if (buf == nullptr || elemSize < 0 || n0 < 0 || n1 < 0 || n2 < 0) return 0;
    return MeboDataPtrAllocate(buf, elemSize, 0, n0 - 1, 0, n1 - 1, 0, n2 - 1, zeroFill);
}

int MeboDataPtrShare(MeboDataPtr* target, const MeboDataPtr* source) {
    if (target == nullptr || source == nullptr) return 0;
    if (target == source) return 1;  // releasing first would drop the source
    MeboDataPtrRelease(target);
    *target = *source;
    if (target->storage != nullptr) ++target->storage->refCount;
    return 1;
}

int MeboDataPtrSeek(MeboDataPtr* buf, int32_t i0, int32_t i1, int32_t i2) {
    const int32_t idx[kNumAxes] = {i0, i1, i2};
    return SeekIndex(buf, idx);
}

int MeboDataPtrSeekCorner(MeboDataPtr* buf, int corner) {
    if (buf == nullptr) return 0;
    int32_t idx[kNumAxes];
    for (int k = 0; k < kNumAxes; ++k) {
        switch (corner) {
            case -1: idx[k] = buf->axis.dim[k].min; break;
            case 0: idx[k] = 0; break;
            case 1: idx[k] = buf->axis.dim[k].max; break;
            default: return 0;
        }
    }
    return SeekIndex(buf, idx);
}

int MeboDataPtrStep(MeboDataPtr* buf, int axis, int32_t count) {
    if (buf == nullptr || buf->axis.base == nullptr) return 0;
    if (axis < 0 || axis >= kNumAxes) return 0;
    const MeboAxisDim& d = buf->axis.dim[axis];
    const int64_t target = static_cast<int64_t>(buf->idx[axis]) + count;
    if (target < d.min || target > d.max) return 0;
    buf->cur += static_cast<std::ptrdiff_t>(Mul32(count, d.stride));
    buf->idx[axis] = static_cast<int32_t>(target);
    return 1;
}

Mebo3DDataAxis MeboDataPtrGetAxis(const MeboDataPtr* buf) {
    if (buf == nullptr) {
        Mebo3DDataAxis none;
        std::memset(&none, 0, sizeof(none));
        return none;
    }
    return buf->axis;
}

int MeboDataPtrSwapAxes(MeboDataPtr* buf, int a, int b) {
    if (buf == nullptr || !ValidAxisPair(a, b)) return 0;
    const int32_t t = buf->idx[a];
    buf->idx[a] = buf->idx[b];
    buf->idx[b] = t;
    SwapDims(&buf->axis, a, b);
    return 1;
}

int Mebo3DDataAxisSwap(Mebo3DDataAxis* layout, int a, int b) {
    if (layout == nullptr || !ValidAxisPair(a, b)) return 0;
    SwapDims(layout, a, b);
    return 1;
}

int MeboDataPtrSetView(MeboDataPtr* buf, const Mebo3DDataAxis* request, int external) {
    if (buf == nullptr || request == nullptr) return 0;
    // Copy first: the request may be the buffer's own axis record.
    const Mebo3DDataAxis req = *request;
    if (req.elemSize <= 0 || req.base == nullptr) return 0;
    for (int k = 0; k < kNumAxes; ++k) {
        if (req.dim[k].max < req.dim[k].min) return 0;
    }

    const MeboDataPtr saved = *buf;
    uint8_t* base = req.base;

    if (external == 0) {
        const MeboDataStorage* storage = buf->storage;
        if (storage == nullptr || storage->layout.elemSize != req.elemSize) return 0;
        const Mebo3DDataAxis& whole = storage->layout;
        buf->axis = whole;

        // Line the request's axes up with the storage's by stride rank.
        int reqOrder[kNumAxes];
        int storeOrder[kNumAxes];
        StrideRankOrder(req, reqOrder);
        StrideRankOrder(whole, storeOrder);
        Mebo3DDataAxis work = req;
        for (int r = 0; r < kNumAxes; ++r) work.dim[storeOrder[r]] = req.dim[reqOrder[r]];

        // The request must use the storage's strides; otherwise a box whose
        // corners lie in the storage could still address samples outside it.
        bool ok = true;
        for (int k = 0; k < kNumAxes; ++k) {
            if (work.dim[k].stride != whole.dim[k].stride) ok = false;
        }
        const int32_t hi[kNumAxes] = {work.dim[0].max, work.dim[1].max, work.dim[2].max};
        const int32_t lo[kNumAxes] = {work.dim[0].min, work.dim[1].min, work.dim[2].min};
        // buf->axis is the storage's layout here, so both seeks test the
        // corners against the storage's ranges.
        if (!ok || !SeekIndex(buf, hi) || !SeekIndex(buf, lo)) {
            *buf = saved;
            return 0;
        }
        base = buf->cur;
    }

    buf->axis = req;
    buf->axis.base = base;
    if (!SeekIndex(buf, saved.idx)) {
        const int32_t lo[kNumAxes] = {req.dim[0].min, req.dim[1].min, req.dim[2].min};
        SeekIndex(buf, lo);  // cannot fail: min <= max on every axis, base set
    }
    return 1;
}

int16_t MeboIntersectRanges(Mebo3DDataAxis* result, const Mebo3DDataAxis* a,
                            const Mebo3DDataAxis* b, int firstAxis, int numAxes) {
    if (result == nullptr || a == nullptr || b == nullptr) return vantir3::kStatusNoCommonRegion;
    if (firstAxis < 0 || numAxes < 0 || firstAxis + numAxes > kNumAxes) return vantir3::kStatusNoCommonRegion;
    int16_t code = 0;
    for (int k = firstAxis; k < firstAxis + numAxes; ++k) {
        // Read both ranges before writing: result may be a or b itself.
        const MeboAxisDim da = a->dim[k];
        const MeboAxisDim db = b->dim[k];
        const int32_t lo = da.min > db.min ? da.min : db.min;
        const int32_t hi = da.max < db.max ? da.max : db.max;
        result->dim[k].min = lo;
        result->dim[k].max = hi;
        if (lo > hi) {
            code = vantir3::kStatusNoCommonRegion;
        } else if (code >= 0) {
            if (lo > da.min || hi < da.max) code |= vantir3::kIntersectNarrowerThanFirst;
            if (lo > db.min || hi < db.max) code |= vantir3::kIntersectNarrowerThanSecond;
        }
    }
    return code;
}

int16_t MeboDataPtrIntersect(MeboDataPtr* a, MeboDataPtr* b) {
    if (a == nullptr || b == nullptr) return vantir3::kStatusNoCommonRegion;
    // An empty buffer has no sample in common with anything.
    if (a->axis.base == nullptr || b->axis.base == nullptr) return vantir3::kStatusNoCommonRegion;

    Mebo3DDataAxis common = a->axis;
    const int16_t r = MeboIntersectRanges(&common, &a->axis, &b->axis, 0, kNumAxes);
    if (r <= 0) return r;

    const MeboDataPtr savedA = *a;
    if (!MeboDataPtrSetView(a, &common, 0)) return vantir3::kStatusViewFailed;
    Mebo3DDataAxis viewB = b->axis;
    for (int k = 0; k < kNumAxes; ++k) {
        viewB.dim[k].min = common.dim[k].min;
        viewB.dim[k].max = common.dim[k].max;
    }
    if (!MeboDataPtrSetView(b, &viewB, 0)) {
        *a = savedA;  // leave both buffers as they were
        return vantir3::kStatusViewFailed;
    }
    return r;
}

}  // extern "C"
