#include "vantir3/data/data_buffer.h"

#include <cstring>

#include <gtest/gtest.h>

namespace {

// A cleared buffer that releases whatever it holds at the end of the test.
struct Buf {
    MeboDataPtr b;
    Buf() { MeboDataPtrClear(&b); }
    ~Buf() { MeboDataPtrRelease(&b); }
    MeboDataPtr* operator->() { return &b; }
    MeboDataPtr* get() { return &b; }
};

bool SameRecord(const MeboDataPtr& x, const MeboDataPtr& y) {
    return std::memcmp(&x, &y, sizeof(x)) == 0;
}

// Fills a 16-bit buffer (whole view) with 10000*i2 + 100*i1 + i0.
void FillPattern(MeboDataPtr* b) {
    const Mebo3DDataAxis& a = b->axis;
    for (int32_t k = a.dim[2].min; k <= a.dim[2].max; ++k)
        for (int32_t j = a.dim[1].min; j <= a.dim[1].max; ++j)
            for (int32_t i = a.dim[0].min; i <= a.dim[0].max; ++i) {
                ASSERT_EQ(MeboDataPtrSeek(b, i, j, k), 1);
                *reinterpret_cast<int16_t*>(b->cur) = static_cast<int16_t>(10000 * k + 100 * j + i);
            }
}

int16_t At(MeboDataPtr* b, int32_t i0, int32_t i1, int32_t i2) {
    EXPECT_EQ(MeboDataPtrSeek(b, i0, i1, i2), 1);
    return b->cur ? *reinterpret_cast<const int16_t*>(b->cur) : -1;
}

TEST(DataBuffer, AllocateShareRelease) {
    Buf a, b;
    ASSERT_EQ(MeboDataPtrAllocate(a.get(), 2, 10, 13, 100, 102, 5, 6, 1), 1);
    MeboDataStorage* s = a->storage;
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->byteSize, 2 * 4 * 3 * 2);
    EXPECT_EQ(s->refCount, 1u);
    EXPECT_EQ(a->axis.dim[0].stride, 2);
    EXPECT_EQ(a->axis.dim[1].stride, 8);
    EXPECT_EQ(a->axis.dim[2].stride, 24);
    EXPECT_EQ(a->axis.base, s->data);
    EXPECT_EQ(a->cur, s->data);
    EXPECT_EQ(a->idx[0], 10);
    EXPECT_EQ(a->idx[1], 100);
    EXPECT_EQ(a->idx[2], 5);
    for (int n = 0; n < s->byteSize; ++n) ASSERT_EQ(s->data[n], 0);

    ASSERT_EQ(MeboDataPtrShare(b.get(), a.get()), 1);
    EXPECT_EQ(s->refCount, 2u);
    EXPECT_EQ(MeboDataPtrShare(b.get(), b.get()), 1);  // self-share is a no-op
    EXPECT_EQ(s->refCount, 2u);
    // Reallocating a releases its reference; b keeps the storage alive.
    ASSERT_EQ(MeboDataPtrAllocateCounts(a.get(), 8, 3, 1, 1, 0), 1);
    EXPECT_NE(a->storage, s);
    EXPECT_EQ(s->refCount, 1u);
    ASSERT_EQ(MeboDataPtrSeekCorner(b.get(), 1), 1);
    *reinterpret_cast<int16_t*>(b->cur) = 7;  // still writable
    EXPECT_EQ(MeboDataPtrRelease(b.get()), 1);
    EXPECT_EQ(b->storage, nullptr);
    EXPECT_EQ(b->cur, nullptr);
    EXPECT_EQ(MeboDataPtrRelease(b.get()), 1);  // releasing empty does nothing

    // Sharing an empty source empties the target.
    ASSERT_EQ(MeboDataPtrShare(a.get(), b.get()), 1);
    EXPECT_EQ(a->storage, nullptr);

    // Null pointers are refused, not dereferenced.
    EXPECT_EQ(MeboDataPtrClear(nullptr), 0);
    EXPECT_EQ(MeboDataPtrRelease(nullptr), 0);
    EXPECT_EQ(MeboDataPtrShare(nullptr, a.get()), 0);
    EXPECT_EQ(MeboDataPtrShare(a.get(), nullptr), 0);
    EXPECT_EQ(MeboDataPtrGetAxis(nullptr).base, nullptr);
}

TEST(DataBuffer, AllocateRefusalsAndOddRanges) {
    Buf a;
    ASSERT_EQ(MeboDataPtrAllocateCounts(a.get(), 2, 4, 4, 1, 0), 1);
    const MeboDataPtr before = a.b;
    EXPECT_EQ(MeboDataPtrAllocateCounts(nullptr, 2, 1, 1, 1, 0), 0);
    EXPECT_EQ(MeboDataPtrAllocateCounts(a.get(), -2, 1, 1, 1, 0), 0);
    EXPECT_EQ(MeboDataPtrAllocateCounts(a.get(), 2, 1, -1, 1, 0), 0);
    EXPECT_EQ(MeboDataPtrAllocate(a.get(), 0, 0, 1, 0, 1, 0, 1, 0), 0);
    EXPECT_TRUE(SameRecord(a.b, before));
    // 2 * 65536 * 16384 bytes = 2^31: too large; the buffer ends up empty.
    EXPECT_EQ(MeboDataPtrAllocateCounts(a.get(), 2, 65536, 16384, 1, 0), 0);
    EXPECT_EQ(a->storage, nullptr);
    EXPECT_EQ(MeboDataPtrAllocate(a.get(), 1, INT32_MIN, INT32_MAX, 0, 0, 0, 0, 0), 0);

    // Count 0: range 0..-1, two samples stored on that axis, none addressable.
    ASSERT_EQ(MeboDataPtrAllocateCounts(a.get(), 2, 3, 0, 2, 0), 1);
    EXPECT_EQ(a->axis.dim[1].min, 0);
    EXPECT_EQ(a->axis.dim[1].max, -1);
    EXPECT_EQ(a->axis.dim[2].stride, 2 * 3 * 2);
    EXPECT_EQ(MeboDataPtrSeekCorner(a.get(), -1), 0);
    EXPECT_EQ(MeboDataPtrSeek(a.get(), 0, 0, 0), 0);

    // max < min: |max - min| + 1 samples stored, layout refused as a view.
    ASSERT_EQ(MeboDataPtrAllocate(a.get(), 2, 5, 3, 0, 0, 0, 0, 0), 1);
    EXPECT_EQ(a->storage->byteSize, 6);
    EXPECT_EQ(MeboDataPtrSeek(a.get(), 4, 0, 0), 0);
    const Mebo3DDataAxis whole = a->axis;
    EXPECT_EQ(MeboDataPtrSetView(a.get(), &whole, 0), 0);
}

TEST(DataBuffer, SeekStepCorners) {
    Buf a, e;
    ASSERT_EQ(MeboDataPtrAllocate(a.get(), 2, -2, 3, 10, 12, 0, 1, 0), 1);
    uint8_t* data = a->storage->data;
    ASSERT_EQ(MeboDataPtrSeek(a.get(), 1, 11, 1), 1);
    EXPECT_EQ(a->cur, data + 3 * 2 + 1 * 12 + 1 * 36);
    const MeboDataPtr at = a.b;
    EXPECT_EQ(MeboDataPtrSeek(a.get(), 4, 11, 1), 0);
    EXPECT_EQ(MeboDataPtrSeek(a.get(), 1, 9, 1), 0);
    EXPECT_EQ(MeboDataPtrStep(a.get(), 1, 2), 0);
    EXPECT_EQ(MeboDataPtrStep(a.get(), 0, -4), 0);
    EXPECT_EQ(MeboDataPtrStep(a.get(), 3, 0), 0);
    EXPECT_EQ(MeboDataPtrStep(a.get(), -1, 0), 0);
    EXPECT_EQ(MeboDataPtrStep(a.get(), 0, INT32_MAX), 0);
    EXPECT_TRUE(SameRecord(a.b, at));
    ASSERT_EQ(MeboDataPtrStep(a.get(), 1, -1), 1);
    ASSERT_EQ(MeboDataPtrStep(a.get(), 0, -3), 1);
    EXPECT_EQ(a->cur, data + 0 * 2 + 0 * 12 + 1 * 36);
    EXPECT_EQ(a->idx[0], -2);
    EXPECT_EQ(a->idx[1], 10);

    EXPECT_EQ(MeboDataPtrSeekCorner(a.get(), 0), 0);  // index 10 on axis 1 only
    ASSERT_EQ(MeboDataPtrSeekCorner(a.get(), 1), 1);
    EXPECT_EQ(a->cur, data + a->storage->byteSize - 2);
    ASSERT_EQ(MeboDataPtrSeekCorner(a.get(), -1), 1);
    EXPECT_EQ(a->cur, data);
    EXPECT_EQ(MeboDataPtrSeekCorner(a.get(), 2), 0);
    ASSERT_EQ(MeboDataPtrAllocate(a.get(), 2, -2, 3, -1, 1, 0, 0, 0), 1);
    ASSERT_EQ(MeboDataPtrSeekCorner(a.get(), 0), 1);
    EXPECT_EQ(a->cur, a->storage->data + 2 * 2 + 1 * 12);

    // An empty buffer has no addressable sample.
    EXPECT_EQ(MeboDataPtrSeek(e.get(), 0, 0, 0), 0);
    EXPECT_EQ(MeboDataPtrStep(e.get(), 0, 0), 0);
    EXPECT_EQ(MeboDataPtrSeek(nullptr, 0, 0, 0), 0);
    EXPECT_EQ(MeboDataPtrSeekCorner(nullptr, -1), 0);
}

TEST(DataBuffer, SwapAxesAndViewOfTransposedLayout) {
    Buf a;
    ASSERT_EQ(MeboDataPtrAllocate(a.get(), 2, 0, 9, 20, 25, 0, 1, 0), 1);
    FillPattern(a.get());
    EXPECT_EQ(MeboDataPtrSwapAxes(a.get(), 1, 1), 0);
    EXPECT_EQ(MeboDataPtrSwapAxes(a.get(), 0, 3), 0);
    ASSERT_EQ(MeboDataPtrSeek(a.get(), 3, 21, 1), 1);
    ASSERT_EQ(MeboDataPtrSwapAxes(a.get(), 0, 1), 1);
    EXPECT_EQ(a->idx[0], 21);
    EXPECT_EQ(a->idx[1], 3);
    EXPECT_EQ(a->storage->layout.dim[0].max, 9);  // storage layout untouched
    EXPECT_EQ(At(a.get(), 24, 7, 1), 10000 + 2400 + 7);

    // A narrowed transposed layout finds its samples by stride rank.
    Mebo3DDataAxis req = MeboDataPtrGetAxis(a.get());
    req.dim[0].min = 22;
    req.dim[0].max = 23;
    req.dim[1].min = 5;
    req.dim[1].max = 8;
    ASSERT_EQ(MeboDataPtrSetView(a.get(), &req, 0), 1);
    EXPECT_EQ(*reinterpret_cast<int16_t*>(a->axis.base), 2200 + 5);
    EXPECT_EQ(a->idx[0], 22);  // old cursor (24, 7, 1) left the view
    EXPECT_EQ(a->idx[1], 5);
    EXPECT_EQ(At(a.get(), 23, 8, 1), 10000 + 2300 + 8);

    Mebo3DDataAxis lay = req;
    EXPECT_EQ(Mebo3DDataAxisSwap(&lay, 2, 2), 0);
    ASSERT_EQ(Mebo3DDataAxisSwap(&lay, 0, 1), 1);
    EXPECT_EQ(lay.dim[0].stride, 2);
    EXPECT_EQ(lay.dim[0].min, 5);
    EXPECT_EQ(Mebo3DDataAxisSwap(nullptr, 0, 1), 0);
}

TEST(DataBuffer, SetViewEqualStridesSingleTrace) {
    Buf a;
    ASSERT_EQ(MeboDataPtrAllocate(a.get(), 2, 0, 511, 737, 737, 0, 0, 0), 1);
    ASSERT_EQ(a->axis.dim[1].stride, a->axis.dim[2].stride);
    Mebo3DDataAxis req = a->axis;
    ASSERT_EQ(MeboDataPtrSetView(a.get(), &req, 0), 1);
    EXPECT_EQ(a->axis.base, a->storage->data);
    req.dim[0].min = 100;
    req.dim[0].max = 199;
    ASSERT_EQ(MeboDataPtrSetView(a.get(), &req, 0), 1);
    EXPECT_EQ(a->axis.base, a->storage->data + 200);
    // Re-viewing with its own (aliased) axis record keeps the view.
    ASSERT_EQ(MeboDataPtrSetView(a.get(), &a->axis, 0), 1);
    EXPECT_EQ(a->axis.base, a->storage->data + 200);
}

TEST(DataBuffer, SetViewFailureRestoresBuffer) {
    Buf a, shared;
    ASSERT_EQ(MeboDataPtrAllocate(a.get(), 2, 0, 99, 10, 19, 0, 0, 1), 1);
    ASSERT_EQ(MeboDataPtrSeek(a.get(), 50, 15, 0), 1);
    ASSERT_EQ(MeboDataPtrShare(shared.get(), a.get()), 1);
    const MeboDataPtr before = a.b;
    const Mebo3DDataAxis whole = a->axis;

    Mebo3DDataAxis r = whole;
    r.dim[1].max = 20;  // beyond the storage
    EXPECT_EQ(MeboDataPtrSetView(a.get(), &r, 0), 0);
    r = whole;
    r.dim[0].min = -1;
    EXPECT_EQ(MeboDataPtrSetView(a.get(), &r, 0), 0);
    r = whole;
    r.elemSize = 4;
    EXPECT_EQ(MeboDataPtrSetView(a.get(), &r, 0), 0);
    r = whole;
    r.base = nullptr;
    EXPECT_EQ(MeboDataPtrSetView(a.get(), &r, 0), 0);
    r = whole;
    r.dim[2].max = -1;
    EXPECT_EQ(MeboDataPtrSetView(a.get(), &r, 0), 0);
    // Corners inside the storage but a doubled stride would reach past it.
    r = whole;
    r.dim[1].stride *= 2;
    EXPECT_EQ(MeboDataPtrSetView(a.get(), &r, 0), 0);
    EXPECT_EQ(MeboDataPtrSetView(a.get(), nullptr, 0), 0);
    EXPECT_TRUE(SameRecord(a.b, before));
    EXPECT_EQ(a->storage->refCount, 2u);

    Buf e;  // no storage: only an external view is possible
    EXPECT_EQ(MeboDataPtrSetView(e.get(), &whole, 0), 0);
    EXPECT_EQ(e->cur, nullptr);
    int16_t host[6] = {0, 1, 2, 3, 4, 5};
    Mebo3DDataAxis ext = {reinterpret_cast<uint8_t*>(host), 2, {{2, 0, 2}, {6, 7, 8}, {12, 0, 0}}};
    ASSERT_EQ(MeboDataPtrSetView(e.get(), &ext, 1), 1);
    EXPECT_EQ(e->storage, nullptr);
    EXPECT_EQ(At(e.get(), 1, 8, 0), 4);
    MeboDataPtrClear(e.get());  // the host owns that memory
}

TEST(DataBuffer, Intersections) {
    Mebo3DDataAxis a = {nullptr, 2, {{2, 0, 9}, {20, 0, 9}, {200, 0, 0}}};
    Mebo3DDataAxis b = a;
    Mebo3DDataAxis r = a;
    EXPECT_EQ(MeboIntersectRanges(&r, &a, &b, 0, 3), 0);
    b.dim[0].min = 2;  // b narrower than a on axis 0
    EXPECT_EQ(MeboIntersectRanges(&r, &a, &b, 0, 3), 1);
    b.dim[1].max = 12;  // and wider on axis 1
    EXPECT_EQ(MeboIntersectRanges(&r, &a, &b, 0, 3), 3);
    EXPECT_EQ(MeboIntersectRanges(&r, &a, &b, 1, 2), 2);
    EXPECT_EQ(r.dim[0].min, 2);  // left from the previous call
    EXPECT_EQ(r.dim[1].max, 9);
    EXPECT_EQ(r.dim[1].stride, 20);
    b.dim[2].min = 1;
    b.dim[2].max = 1;
    EXPECT_EQ(MeboIntersectRanges(&r, &a, &b, 0, 3), -1);  // stays -1
    EXPECT_EQ(MeboIntersectRanges(&r, &a, &b, 2, 2), -1);
    EXPECT_EQ(MeboIntersectRanges(nullptr, &a, &b, 0, 3), -1);

    Buf x, y;
    ASSERT_EQ(MeboDataPtrAllocate(x.get(), 2, 0, 511, 100, 199, 0, 0, 0), 1);
    ASSERT_EQ(MeboDataPtrAllocate(y.get(), 2, 0, 511, 150, 249, 0, 0, 0), 1);
    ASSERT_EQ(MeboDataPtrIntersect(x.get(), y.get()), 3);
    for (MeboDataPtr* p : {x.get(), y.get()}) {
        EXPECT_EQ(p->axis.dim[1].min, 150);
        EXPECT_EQ(p->axis.dim[1].max, 199);
        EXPECT_EQ(p->axis.dim[0].max, 511);
    }
    EXPECT_EQ(x->axis.base, x->storage->data + 50 * 1024);
    EXPECT_EQ(y->axis.base, y->storage->data);
    EXPECT_EQ(MeboDataPtrIntersect(x.get(), y.get()), 0);

    ASSERT_EQ(MeboDataPtrAllocate(x.get(), 2, 0, 511, 0, 9, 0, 0, 0), 1);
    ASSERT_EQ(MeboDataPtrAllocate(y.get(), 2, 0, 511, 20, 29, 0, 0, 0), 1);
    const MeboDataPtr x0 = x.b, y0 = y.b;
    EXPECT_EQ(MeboDataPtrIntersect(x.get(), y.get()), -1);
    EXPECT_TRUE(SameRecord(x.b, x0));
    EXPECT_TRUE(SameRecord(y.b, y0));

    Buf e;
    EXPECT_EQ(MeboDataPtrIntersect(x.get(), e.get()), -1);
    EXPECT_EQ(MeboDataPtrIntersect(nullptr, x.get()), -1);
}

}  // namespace
