// Shared, reference-counted sample storage on three axes, with views and a
// cursor. Every process, algorithm entry point and statistics function
// exchanges data through MeboDataPtr.
//
// Index ranges are absolute and inclusive. Axis 0 is the innermost axis of
// freshly allocated storage. The address of sample (i0, i1, i2) of a view is
//   base + (i0 - min0)*stride0 + (i1 - min1)*stride1 + (i2 - min2)*stride2.
// Operations return 1 on success and 0 on failure (the intersections return
// signed codes) and leave the buffer unchanged when they fail. A null buffer
// or layout pointer is refused (0, or -1 for the intersections); an empty
// buffer (no view base) has no addressable sample, so seeks and steps on it
// fail.
#ifndef VANTIR3_DATA_DATA_BUFFER_H_
#define VANTIR3_DATA_DATA_BUFFER_H_

#include <cstdint>

#include "vantir3/export.h"

struct MeboAxisDim {            // one entry of Mebo3DDataAxis::dim
    int32_t stride;             // bytes between neighbours on this axis
    int32_t min;                // lowest index (inclusive)
    int32_t max;                // highest index (inclusive)
};

struct Mebo3DDataAxis {
    uint8_t*    base;           // address of the sample at the minimum corner
    int32_t     elemSize;       // bytes per sample
    MeboAxisDim dim[3];
};

struct MeboDataStorage {
    uint8_t*       data;        // sample memory, owned by this record
    int32_t        byteSize;
    uint32_t       refCount;    // number of MeboDataPtr records referring here
    Mebo3DDataAxis layout;      // layout of the allocation (dense, axis 0 innermost)
};

struct MeboDataPtr {
    uint8_t*         cur;       // address of the current sample
    int32_t          idx[3];    // index of the current sample
    MeboDataStorage* storage;   // null when the buffer holds nothing
    Mebo3DDataAxis   axis;      // the view
};

extern "C" {
// Sets every field to zero; releases nothing. Returns 1.
VANTIR3_API int MeboDataPtrClear(MeboDataPtr* buf);
// Drops the reference to the storage (freeing it with the last one), then
// clears the buffer. Returns 1.
VANTIR3_API int MeboDataPtrRelease(MeboDataPtr* buf);
// New storage for exactly the given ranges (|max - min| + 1 samples per axis),
// viewed whole, cursor at (min0, min1, min2). Refuses elemSize <= 0 (buffer
// unchanged). A byte size above INT32_MAX, or memory that cannot be had,
// returns 0 with the buffer released and empty.
VANTIR3_API int MeboDataPtrAllocate(MeboDataPtr* buf, int32_t elemSize,
                                    int32_t min0, int32_t max0,
                                    int32_t min1, int32_t max1,
                                    int32_t min2, int32_t max2, int zeroFill);
// MeboDataPtrAllocate with ranges 0..n-1; refuses negative sizes or counts.
// A count of 0 gives the range 0..-1: two samples stored, none addressable.
VANTIR3_API int MeboDataPtrAllocateCounts(MeboDataPtr* buf, int32_t elemSize,
                                          int32_t n0, int32_t n1, int32_t n2, int zeroFill);
// target becomes a further reference to source's storage, view and cursor.
// Sharing a buffer with itself changes nothing.
VANTIR3_API int MeboDataPtrShare(MeboDataPtr* target, const MeboDataPtr* source);
VANTIR3_API int MeboDataPtrSeek(MeboDataPtr* buf, int32_t i0, int32_t i1, int32_t i2);
// corner -1: minimum corner; 0: indices (0, 0, 0); 1: maximum corner.
VANTIR3_API int MeboDataPtrSeekCorner(MeboDataPtr* buf, int corner);
// Fails for an axis outside 0..2 or when the new index leaves the view.
VANTIR3_API int MeboDataPtrStep(MeboDataPtr* buf, int axis, int32_t count);
VANTIR3_API Mebo3DDataAxis MeboDataPtrGetAxis(const MeboDataPtr* buf);
// Transposed view: exchanges axes a and b of the view and of the cursor.
// Returns 1 when swapped, 0 when the axes were refused.
VANTIR3_API int MeboDataPtrSwapAxes(MeboDataPtr* buf, int a, int b);
VANTIR3_API int Mebo3DDataAxisSwap(Mebo3DDataAxis* layout, int a, int b);
// Re-views the buffer to the requested layout. With external 0 the request's
// axes are matched to the storage's axes by stride rank (ties: lower axis
// with lower axis), the matched strides must equal the storage's and both
// corners must lie inside the storage. With external != 0 the request's base
// is taken as is. Refuses elemSize <= 0, a null base or max < min. On failure
// the buffer is restored whole.
VANTIR3_API int MeboDataPtrSetView(MeboDataPtr* buf, const Mebo3DDataAxis* request, int external);
// Common ranges of a and b on numAxes axes from firstAxis into result:
// -1 none, 0 equal, bit 0 narrower than a, bit 1 narrower than b. Strides,
// base and elemSize of result are left as they were. Axes outside 0..2 are
// refused with -1 and result untouched.
VANTIR3_API int16_t MeboIntersectRanges(Mebo3DDataAxis* result, const Mebo3DDataAxis* a,
                                        const Mebo3DDataAxis* b, int firstAxis, int numAxes);
// Narrows both views to their common region; codes as MeboIntersectRanges,
// -2 when a view could not be set (both buffers then unchanged). An empty
// buffer has nothing in common with any other: -1.
VANTIR3_API int16_t MeboDataPtrIntersect(MeboDataPtr* a, MeboDataPtr* b);
}

#endif  // VANTIR3_DATA_DATA_BUFFER_H_
