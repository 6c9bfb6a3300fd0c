#include "vantir3/data/data_buffer.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_source.h"

namespace {

using vantir3_test::Owned;

bool SameRecord(const MeboDataPtr& x, const MeboDataPtr& y) { return std::memcmp(&x, &y, sizeof(x)) == 0; }

// The sample at (i0, i1, i2), found through the cursor.
int16_t At(MeboDataPtr* b, int32_t i0, int32_t i1, int32_t i2) {
    EXPECT_EQ(MeboDataPtrSeek(b, i0, i1, i2), 1);
    return b->cur ? *reinterpret_cast<const int16_t*>(b->cur) : -1;
}

TEST(DataBuffer, AllocateShareRelease) {
    Owned a, b;
    ASSERT_EQ(MeboDataPtrAllocate(&a.b, 2, 10, 13, 100, 102, 5, 6, 1), 1);
    MeboDataStorage* s = a.b.storage;
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->byteSize, 2 * 4 * 3 * 2);
    EXPECT_EQ(s->refCount, 1u);
    EXPECT_EQ(std::vector<int32_t>({a.b.axis.dim[0].stride, a.b.axis.dim[1].stride, a.b.axis.dim[2].stride}),
              (std::vector<int32_t>{2, 8, 24}));
    EXPECT_TRUE(a.b.axis.base == s->data && a.b.cur == s->data);
    EXPECT_EQ(std::vector<int32_t>(a.b.idx, a.b.idx + 3), (std::vector<int32_t>{10, 100, 5}));
    for (int n = 0; n < s->byteSize; ++n) ASSERT_EQ(s->data[n], 0);
    ASSERT_EQ(MeboDataPtrShare(&b.b, &a.b), 1);
    EXPECT_EQ(MeboDataPtrShare(&b.b, &b.b), 1);  // self-share changes nothing
    EXPECT_EQ(s->refCount, 2u);
    // Reallocating a releases its reference; b keeps the storage alive.
    ASSERT_EQ(MeboDataPtrAllocateCounts(&a.b, 8, 3, 1, 1, 0), 1);
    EXPECT_NE(a.b.storage, s);
    EXPECT_EQ(s->refCount, 1u);
    ASSERT_EQ(MeboDataPtrSeekCorner(&b.b, 1), 1);
    *reinterpret_cast<int16_t*>(b.b.cur) = 7;  // still writable
    EXPECT_EQ(MeboDataPtrRelease(&b.b), 1);
    EXPECT_TRUE(vantir3_test::IsEmpty(b.b));
    EXPECT_EQ(MeboDataPtrRelease(&b.b), 1);  // releasing empty does nothing
    // Sharing an empty source empties the target; null pointers are refused.
    ASSERT_EQ(MeboDataPtrShare(&a.b, &b.b), 1);
    EXPECT_EQ(a.b.storage, nullptr);
    EXPECT_EQ(MeboDataPtrClear(nullptr) + MeboDataPtrRelease(nullptr) + MeboDataPtrShare(nullptr, &a.b) +
                  MeboDataPtrShare(&a.b, nullptr) + MeboDataPtrAllocateCounts(nullptr, 2, 1, 1, 1, 0),
              0);
    EXPECT_EQ(MeboDataPtrGetAxis(nullptr).base, nullptr);
}

TEST(DataBuffer, AllocateRefusalsAndOddRanges) {
    Owned a = vantir3_test::Zeroed(2, 4, 4);
    const MeboDataPtr before = a.b;
    EXPECT_EQ(MeboDataPtrAllocateCounts(&a.b, -2, 1, 1, 1, 0), 0);
    EXPECT_EQ(MeboDataPtrAllocateCounts(&a.b, 2, 1, -1, 1, 0), 0);
    EXPECT_EQ(MeboDataPtrAllocate(&a.b, 0, 0, 1, 0, 1, 0, 1, 0), 0);
    EXPECT_TRUE(SameRecord(a.b, before));
    // 2 * 65536 * 16384 bytes = 2^31: too large; the buffer ends up empty.
    EXPECT_EQ(MeboDataPtrAllocateCounts(&a.b, 2, 65536, 16384, 1, 0), 0);
    EXPECT_EQ(a.b.storage, nullptr);
    EXPECT_EQ(MeboDataPtrAllocate(&a.b, 1, INT32_MIN, INT32_MAX, 0, 0, 0, 0, 0), 0);
    // Count 0: range 0..-1, two samples stored on that axis, none addressable.
    ASSERT_EQ(MeboDataPtrAllocateCounts(&a.b, 2, 3, 0, 2, 0), 1);
    EXPECT_EQ(std::make_pair(a.b.axis.dim[1].min, a.b.axis.dim[1].max), std::make_pair(0, -1));
    EXPECT_EQ(a.b.axis.dim[2].stride, 2 * 3 * 2);
    EXPECT_EQ(MeboDataPtrSeekCorner(&a.b, -1), 0);
    EXPECT_EQ(MeboDataPtrSeek(&a.b, 0, 0, 0), 0);
    // max < min: |max - min| + 1 samples stored, layout refused as a view.
    ASSERT_EQ(MeboDataPtrAllocate(&a.b, 2, 5, 3, 0, 0, 0, 0, 0), 1);
    EXPECT_EQ(a.b.storage->byteSize, 6);
    EXPECT_EQ(MeboDataPtrSeek(&a.b, 4, 0, 0), 0);
    const Mebo3DDataAxis whole = a.b.axis;
    EXPECT_EQ(MeboDataPtrSetView(&a.b, &whole, 0), 0);
}

TEST(DataBuffer, SeekStepCorners) {
    Owned a, e;
    ASSERT_EQ(MeboDataPtrAllocate(&a.b, 2, -2, 3, 10, 12, 0, 1, 0), 1);
    uint8_t* data = a.b.storage->data;
    ASSERT_EQ(MeboDataPtrSeek(&a.b, 1, 11, 1), 1);
    EXPECT_EQ(a.b.cur, data + 3 * 2 + 1 * 12 + 1 * 36);
    const MeboDataPtr at = a.b;
    // Seeks and steps that leave the view (or name no axis) fail unchanged.
    EXPECT_EQ(MeboDataPtrSeek(&a.b, 4, 11, 1), 0);
    EXPECT_EQ(MeboDataPtrSeek(&a.b, 1, 9, 1), 0);
    for (const auto& s : {std::make_pair(1, 2), std::make_pair(0, -4), std::make_pair(3, 0), std::make_pair(-1, 0),
                          std::make_pair(0, INT32_MAX)})
        EXPECT_EQ(MeboDataPtrStep(&a.b, s.first, s.second), 0) << s.first << " " << s.second;
    EXPECT_TRUE(SameRecord(a.b, at));
    ASSERT_EQ(MeboDataPtrStep(&a.b, 1, -1), 1);
    ASSERT_EQ(MeboDataPtrStep(&a.b, 0, -3), 1);
    EXPECT_EQ(a.b.cur, data + 1 * 36);
    EXPECT_EQ(std::make_pair(a.b.idx[0], a.b.idx[1]), std::make_pair(-2, 10));
    EXPECT_EQ(MeboDataPtrSeekCorner(&a.b, 0), 0);  // index 0 is on axes 0 and 2 only
    ASSERT_EQ(MeboDataPtrSeekCorner(&a.b, 1), 1);
    EXPECT_EQ(a.b.cur, data + a.b.storage->byteSize - 2);
    ASSERT_EQ(MeboDataPtrSeekCorner(&a.b, -1), 1);
    EXPECT_EQ(a.b.cur, data);
    EXPECT_EQ(MeboDataPtrSeekCorner(&a.b, 2), 0);
    ASSERT_EQ(MeboDataPtrAllocate(&a.b, 2, -2, 3, -1, 1, 0, 0, 0), 1);
    ASSERT_EQ(MeboDataPtrSeekCorner(&a.b, 0), 1);
    EXPECT_EQ(a.b.cur, a.b.storage->data + 2 * 2 + 1 * 12);
    // An empty buffer has no addressable sample.
    EXPECT_EQ(MeboDataPtrSeek(&e.b, 0, 0, 0) + MeboDataPtrStep(&e.b, 0, 0) + MeboDataPtrSeek(nullptr, 0, 0, 0) +
                  MeboDataPtrSeekCorner(nullptr, -1) + Mebo3DDataAxisSwap(nullptr, 0, 1),
              0);
}

TEST(DataBuffer, SwapAxesAndViewsOfTransposedLayouts) {
    Owned a = vantir3_test::MakeBuffer(0, 9, 20, 25, 0, 1, [](int32_t i, int32_t j, int32_t k) {
        return static_cast<int16_t>(10000 * k + 100 * j + i);
    });
    EXPECT_EQ(MeboDataPtrSwapAxes(&a.b, 1, 1), 0);
    EXPECT_EQ(MeboDataPtrSwapAxes(&a.b, 0, 3), 0);
    ASSERT_EQ(MeboDataPtrSeek(&a.b, 3, 21, 1), 1);
    ASSERT_EQ(MeboDataPtrSwapAxes(&a.b, 0, 1), 1);
    EXPECT_EQ(std::make_pair(a.b.idx[0], a.b.idx[1]), std::make_pair(21, 3));
    EXPECT_EQ(a.b.storage->layout.dim[0].max, 9);  // storage layout untouched
    EXPECT_EQ(At(&a.b, 24, 7, 1), 10000 + 2400 + 7);
    // A narrowed transposed layout finds its samples by stride rank.
    Mebo3DDataAxis req = MeboDataPtrGetAxis(&a.b);
    req.dim[0] = {req.dim[0].stride, 22, 23};
    req.dim[1] = {req.dim[1].stride, 5, 8};
    ASSERT_EQ(MeboDataPtrSetView(&a.b, &req, 0), 1);
    EXPECT_EQ(*reinterpret_cast<int16_t*>(a.b.axis.base), 2200 + 5);
    EXPECT_EQ(std::make_pair(a.b.idx[0], a.b.idx[1]), std::make_pair(22, 5));  // old cursor (24, 7, 1) left the view
    EXPECT_EQ(At(&a.b, 23, 8, 1), 10000 + 2300 + 8);
    Mebo3DDataAxis lay = req;
    EXPECT_EQ(Mebo3DDataAxisSwap(&lay, 2, 2), 0);
    ASSERT_EQ(Mebo3DDataAxisSwap(&lay, 0, 1), 1);
    EXPECT_EQ(std::make_pair(lay.dim[0].stride, lay.dim[0].min), std::make_pair(2, 5));
    // Axes 1 and 2 of equal stride (one trace): matched lower with lower, and
    // re-viewing with the buffer's own (aliased) axis record keeps the view.
    Owned one;
    ASSERT_EQ(MeboDataPtrAllocate(&one.b, 2, 0, 511, 737, 737, 0, 0, 0), 1);
    ASSERT_EQ(one.b.axis.dim[1].stride, one.b.axis.dim[2].stride);
    req = one.b.axis;
    req.dim[0] = {req.dim[0].stride, 100, 199};
    ASSERT_EQ(MeboDataPtrSetView(&one.b, &req, 0), 1);
    EXPECT_EQ(one.b.axis.base, one.b.storage->data + 200);
    ASSERT_EQ(MeboDataPtrSetView(&one.b, &one.b.axis, 0), 1);
    EXPECT_EQ(one.b.axis.base, one.b.storage->data + 200);
}

TEST(DataBuffer, SetViewFailureRestoresBuffer) {
    Owned a, shared;
    ASSERT_EQ(MeboDataPtrAllocate(&a.b, 2, 0, 99, 10, 19, 0, 0, 1), 1);
    ASSERT_EQ(MeboDataPtrSeek(&a.b, 50, 15, 0), 1);
    ASSERT_EQ(MeboDataPtrShare(&shared.b, &a.b), 1);
    const MeboDataPtr before = a.b;
    const Mebo3DDataAxis whole = a.b.axis;
    // Beyond the storage, another element size, no base, an empty range, or a
    // doubled stride that would reach past the storage from inside corners.
    for (int k = 0; k < 6; ++k) {
        Mebo3DDataAxis r = whole;
        if (k == 0) r.dim[1].max = 20;
        if (k == 1) r.dim[0].min = -1;
        if (k == 2) r.elemSize = 4;
        if (k == 3) r.base = nullptr;
        if (k == 4) r.dim[2].max = -1;
        if (k == 5) r.dim[1].stride *= 2;
        EXPECT_EQ(MeboDataPtrSetView(&a.b, &r, 0), 0) << k;
    }
    EXPECT_EQ(MeboDataPtrSetView(&a.b, nullptr, 0), 0);
    EXPECT_TRUE(SameRecord(a.b, before));
    EXPECT_EQ(a.b.storage->refCount, 2u);
    Owned e;  // no storage: only an external view is possible
    EXPECT_EQ(MeboDataPtrSetView(&e.b, &whole, 0), 0);
    EXPECT_EQ(e.b.cur, nullptr);
    int16_t host[6] = {0, 1, 2, 3, 4, 5};
    Mebo3DDataAxis ext = {reinterpret_cast<uint8_t*>(host), 2, {{2, 0, 2}, {6, 7, 8}, {12, 0, 0}}};
    ASSERT_EQ(MeboDataPtrSetView(&e.b, &ext, 1), 1);
    EXPECT_EQ(e.b.storage, nullptr);
    EXPECT_EQ(At(&e.b, 1, 8, 0), 4);
    MeboDataPtrClear(&e.b);  // the host owns that memory
}

TEST(DataBuffer, Intersections) {
    Mebo3DDataAxis a = {nullptr, 2, {{2, 0, 9}, {20, 0, 9}, {200, 0, 0}}};
    Mebo3DDataAxis b = a, r = a;
    EXPECT_EQ(MeboIntersectRanges(&r, &a, &b, 0, 3), 0);
    b.dim[0].min = 2;  // b narrower than a on axis 0
    EXPECT_EQ(MeboIntersectRanges(&r, &a, &b, 0, 3), 1);
    b.dim[1].max = 12;  // and wider on axis 1
    EXPECT_EQ(MeboIntersectRanges(&r, &a, &b, 0, 3), 3);
    EXPECT_EQ(MeboIntersectRanges(&r, &a, &b, 1, 2), 2);
    EXPECT_EQ(r.dim[0].min, 2);  // left from the previous call
    EXPECT_EQ(std::make_pair(r.dim[1].max, r.dim[1].stride), std::make_pair(9, 20));
    b.dim[2].min = b.dim[2].max = 1;
    EXPECT_EQ(MeboIntersectRanges(&r, &a, &b, 0, 3), -1);  // stays -1
    EXPECT_EQ(MeboIntersectRanges(&r, &a, &b, 2, 2), -1);
    EXPECT_EQ(MeboIntersectRanges(nullptr, &a, &b, 0, 3), -1);
    Owned x, y, e;
    ASSERT_EQ(MeboDataPtrAllocate(&x.b, 2, 0, 511, 100, 199, 0, 0, 0), 1);
    ASSERT_EQ(MeboDataPtrAllocate(&y.b, 2, 0, 511, 150, 249, 0, 0, 0), 1);
    ASSERT_EQ(MeboDataPtrIntersect(&x.b, &y.b), 3);
    for (MeboDataPtr* p : {&x.b, &y.b})
        EXPECT_EQ(std::vector<int32_t>({p->axis.dim[1].min, p->axis.dim[1].max, p->axis.dim[0].max}),
                  (std::vector<int32_t>{150, 199, 511}));
    EXPECT_EQ(x.b.axis.base, x.b.storage->data + 50 * 1024);
    EXPECT_EQ(y.b.axis.base, y.b.storage->data);
    EXPECT_EQ(MeboDataPtrIntersect(&x.b, &y.b), 0);
    // Disjoint or empty: -1, both unchanged.
    ASSERT_EQ(MeboDataPtrAllocate(&y.b, 2, 0, 511, 220, 229, 0, 0, 0), 1);
    const MeboDataPtr x0 = x.b, y0 = y.b;
    EXPECT_EQ(MeboDataPtrIntersect(&x.b, &y.b), -1);
    EXPECT_EQ(MeboDataPtrIntersect(&x.b, &e.b) + MeboDataPtrIntersect(nullptr, &x.b), -2);
    EXPECT_TRUE(SameRecord(x.b, x0) && SameRecord(y.b, y0));
}

}  // namespace
