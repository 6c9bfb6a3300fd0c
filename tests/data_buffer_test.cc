#include "vantir3/data/data_buffer.h"

#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

#include "tests/support/test_source.h"
#include "vantir3/data/sample_memory.h"

namespace {

using vantir3_test::IsEmpty;
using vantir3_test::Owned;
using Ints = std::vector<int32_t>;

bool SameRecord(const MeboDataPtr& x, const MeboDataPtr& y) { return std::memcmp(&x, &y, sizeof(x)) == 0; }
Ints Idx(const MeboDataPtr& b) { return Ints(b.idx, b.idx + 3); }

// The sample at (i0, i1, i2), found through the cursor.
int16_t At(MeboDataPtr* b, int32_t i0, int32_t i1, int32_t i2) {
    EXPECT_EQ(MeboDataPtrSeek(b, i0, i1, i2), 1);
    return b->cur ? *reinterpret_cast<const int16_t*>(b->cur) : -1;
}

TEST(DataBuffer, AllocateShareRelease) {
    Owned a, b;
    ASSERT_EQ(MeboDataPtrAllocate(&a.b, 2, 10, 13, 100, 102, 5, 6, 1), 1);
    MeboDataStorage* s = a.b.storage;
    ASSERT_TRUE(s != nullptr && a.b.axis.base == s->data && a.b.cur == s->data);
    const MeboAxisDim* d = a.b.axis.dim;
    EXPECT_EQ(Ints({s->byteSize, int32_t(s->refCount), d[0].stride, d[1].stride, d[2].stride}),
              Ints({2 * 4 * 3 * 2, 1, 2, 8, 24}));
    EXPECT_EQ(Idx(a.b), Ints({10, 100, 5}));
    for (int n = 0; n < s->byteSize; ++n) ASSERT_EQ(s->data[n], 0);
    ASSERT_EQ(MeboDataPtrShare(&b.b, &a.b), 1);
    EXPECT_EQ(MeboDataPtrShare(&b.b, &b.b), 1);  // self-share changes nothing
    EXPECT_EQ(s->refCount, 2u);
    // Reallocating a releases its reference; b keeps the storage alive and writable.
    ASSERT_EQ(MeboDataPtrAllocateCounts(&a.b, 8, 3, 1, 1, 0), 1);
    EXPECT_TRUE(a.b.storage != s && s->refCount == 1u);
    ASSERT_EQ(MeboDataPtrSeekCorner(&b.b, 1), 1);
    *reinterpret_cast<int16_t*>(b.b.cur) = 7;
    EXPECT_EQ(MeboDataPtrRelease(&b.b), 1);
    EXPECT_TRUE(IsEmpty(b.b));
    EXPECT_EQ(MeboDataPtrRelease(&b.b), 1);  // releasing empty does nothing
    ASSERT_EQ(MeboDataPtrShare(&a.b, &b.b), 1);  // an empty source empties the target
    EXPECT_EQ(a.b.storage, nullptr);
}

// Blocks of several MiB, as a host that releases its output and fetches it
// again on every call meets them: each new allocation is a whole writable
// block, a zero-filled one is zero even where the memory of a released block
// of the same size is used again, and a shared block outlives its first
// buffer.
TEST(DataBuffer, LargeBlocksReleasedAndAllocatedAgain) {
    constexpr int32_t kSamples = 1024, kTraces = 4099;  // 8 MiB and a little more
    const size_t bytes = size_t{2} * kSamples * kTraces;
    for (int round = 0; round < 3; ++round) {
        Owned a, b;
        ASSERT_EQ(MeboDataPtrAllocateCounts(&a.b, 2, kSamples, kTraces, 1, 1), 1);
        const uint8_t* p = a.b.storage->data;
        ASSERT_EQ(a.b.storage->byteSize, static_cast<int32_t>(bytes));
        for (size_t n = 0; n < bytes; ++n) ASSERT_EQ(p[n], 0) << "round " << round << " byte " << n;
        std::memset(a.b.storage->data, 0x5A, bytes);
        ASSERT_EQ(MeboDataPtrShare(&b.b, &a.b), 1);
        ASSERT_EQ(MeboDataPtrRelease(&a.b), 1);
        EXPECT_EQ(b.b.storage->data[bytes - 1], 0x5A);
        const uint8_t* released = b.b.storage->data;
        ASSERT_EQ(MeboDataPtrRelease(&b.b), 1);
#if defined(__SANITIZE_ADDRESS__)
        // Kept for reuse but poisoned: a use after release is still reported.
        EXPECT_TRUE(__asan_address_is_poisoned(released + bytes / 2));
#endif
        // Not zero-filled: any content, but every byte writable.
        ASSERT_EQ(MeboDataPtrAllocateCounts(&a.b, 2, kSamples, kTraces, 1, 0), 1);
        std::memset(a.b.storage->data, 0x33, bytes);
        EXPECT_EQ(a.b.storage->data, released);  // the kept block, usable again
    }
}

// A host's threads (a worker pool) that allocate and release large buffers
// and then end leave no large block behind: not the block each thread keeps
// for reuse, not a block that another thread allocated, and not one that the
// host's own thread_local object releases after this library's end-of-thread
// clean-up has run.
TEST(DataBuffer, EndedThreadsLeaveNoLargeBlock) {
#if defined(VANTIR3_TEST_UNDER_EMULATOR)
    GTEST_SKIP() << "the emulator cannot start threads";
#endif
    using vantir3::LargeBlocksHeld;
    constexpr int32_t kMiB = 1 << 20;  // 2 MiB of 16-bit samples per trace
    const int64_t before = LargeBlocksHeld();
    auto allocate = [](Owned& o, int32_t traces, int zeroFill) {
        ASSERT_EQ(MeboDataPtrAllocateCounts(&o.b, 2, kMiB, traces, 1, zeroFill), 1);
    };
    Owned fromMain;
    allocate(fromMain, 3, 0);
    std::thread([&] {
        // Made before this thread keeps any block, so destroyed after the
        // library's clean-up of the thread: its release comes after that.
        static thread_local Owned held;
        allocate(held, 5, 0);
        Owned a;
        allocate(a, 4, 0);
        uint8_t* first = a.b.storage->data;
        std::memset(first, 0x77, size_t{8} * kMiB);
        MeboDataPtrRelease(&a.b);
        // The kept block serves the next request of its size, zero-filled
        // when asked, without a block more.
        const int64_t count = LargeBlocksHeld();
        allocate(a, 4, 1);
        EXPECT_EQ(LargeBlocksHeld(), count);
        EXPECT_EQ(a.b.storage->data, first);
        for (size_t n = 0; n < size_t{8} * kMiB; n += 4093) ASSERT_EQ(a.b.storage->data[n], 0) << n;
        MeboDataPtrRelease(&fromMain.b);  // another thread's block, kept here in place of this one
    }).join();
    EXPECT_EQ(LargeBlocksHeld(), before);
    std::vector<std::thread> pool;
    for (int t = 0; t < 4; ++t) {
        pool.emplace_back([&allocate, t] {
            for (int round = 0; round < 6; ++round) {
                Owned a;
                allocate(a, 2 + (t + round) % 3, round & 1);
            }
        });
    }
    for (std::thread& t : pool) t.join();
    EXPECT_EQ(LargeBlocksHeld(), before);
}

TEST(DataBuffer, RefusalsOddRangesSeeksAndSteps) {
    Owned a = vantir3_test::Zeroed(2, 4, 4), e;
    const MeboDataPtr before = a.b;
    EXPECT_EQ(MeboDataPtrAllocateCounts(&a.b, -2, 1, 1, 1, 0) + MeboDataPtrAllocateCounts(&a.b, 2, 1, -1, 1, 0) +
                  MeboDataPtrAllocate(&a.b, 0, 0, 1, 0, 1, 0, 1, 0),
              0);
    EXPECT_TRUE(SameRecord(a.b, before));
    // 2 * 65536 * 16384 bytes = 2^31: too large; the buffer ends up empty.
    EXPECT_EQ(MeboDataPtrAllocateCounts(&a.b, 2, 65536, 16384, 1, 0), 0);
    EXPECT_EQ(a.b.storage, nullptr);
    EXPECT_EQ(MeboDataPtrAllocate(&a.b, 1, INT32_MIN, INT32_MAX, 0, 0, 0, 0, 0), 0);
    // Count 0: range 0..-1, two samples stored on that axis, none addressable.
    ASSERT_EQ(MeboDataPtrAllocateCounts(&a.b, 2, 3, 0, 2, 0), 1);
    EXPECT_EQ(Ints({a.b.axis.dim[1].min, a.b.axis.dim[1].max, a.b.axis.dim[2].stride}), Ints({0, -1, 2 * 3 * 2}));
    EXPECT_EQ(MeboDataPtrSeekCorner(&a.b, -1) + MeboDataPtrSeek(&a.b, 0, 0, 0), 0);
    // max < min: |max - min| + 1 samples stored, layout refused as a view.
    ASSERT_EQ(MeboDataPtrAllocate(&a.b, 2, 5, 3, 0, 0, 0, 0, 0), 1);
    EXPECT_EQ(a.b.storage->byteSize, 6);
    EXPECT_EQ(MeboDataPtrSeek(&a.b, 4, 0, 0) + MeboDataPtrSetView(&a.b, &a.b.axis, 0), 0);
    // Seeking and stepping in a view that does not contain index 0 on axis 1.
    ASSERT_EQ(MeboDataPtrAllocate(&a.b, 2, -2, 3, 10, 12, 0, 1, 0), 1);
    uint8_t* data = a.b.storage->data;
    ASSERT_EQ(MeboDataPtrSeek(&a.b, 1, 11, 1), 1);
    EXPECT_EQ(a.b.cur, data + 3 * 2 + 1 * 12 + 1 * 36);
    const MeboDataPtr at = a.b;
    // Seeks, steps and corners that leave the view (or name no axis or corner)
    // fail unchanged; index 0 is on axes 0 and 2 only.
    EXPECT_EQ(MeboDataPtrSeek(&a.b, 4, 11, 1) + MeboDataPtrSeek(&a.b, 1, 9, 1) + MeboDataPtrSeekCorner(&a.b, 0) +
                  MeboDataPtrSeekCorner(&a.b, 2),
              0);
    const int32_t steps[][2] = {{1, 2}, {0, -4}, {3, 0}, {-1, 0}, {0, INT32_MAX}};
    for (const auto& s : steps) EXPECT_EQ(MeboDataPtrStep(&a.b, s[0], s[1]), 0) << s[0] << " " << s[1];
    EXPECT_TRUE(SameRecord(a.b, at));
    ASSERT_EQ(MeboDataPtrStep(&a.b, 1, -1) + MeboDataPtrStep(&a.b, 0, -3), 2);
    EXPECT_EQ(a.b.cur, data + 1 * 36);
    EXPECT_EQ(Idx(a.b), Ints({-2, 10, 1}));
    EXPECT_TRUE(MeboDataPtrSeekCorner(&a.b, 1) && a.b.cur == data + a.b.storage->byteSize - 2);
    EXPECT_TRUE(MeboDataPtrSeekCorner(&a.b, -1) && a.b.cur == data);
    ASSERT_EQ(MeboDataPtrAllocate(&a.b, 2, -2, 3, -1, 1, 0, 0, 0), 1);
    ASSERT_EQ(MeboDataPtrSeekCorner(&a.b, 0), 1);
    EXPECT_EQ(a.b.cur, a.b.storage->data + 2 * 2 + 1 * 12);
    // An empty buffer has no addressable sample; null pointers are refused.
    EXPECT_EQ(MeboDataPtrSeek(&e.b, 0, 0, 0) + MeboDataPtrStep(&e.b, 0, 0) + MeboDataPtrSeek(nullptr, 0, 0, 0) +
                  MeboDataPtrSeekCorner(nullptr, -1) + Mebo3DDataAxisSwap(nullptr, 0, 1) + MeboDataPtrClear(nullptr) +
                  MeboDataPtrRelease(nullptr) + MeboDataPtrShare(nullptr, &a.b) + MeboDataPtrShare(&a.b, nullptr) +
                  MeboDataPtrAllocateCounts(nullptr, 2, 1, 1, 1, 0),
              0);
    EXPECT_EQ(MeboDataPtrGetAxis(nullptr).base, nullptr);
}

TEST(DataBuffer, SwapAxesAndViews) {
    Owned a = vantir3_test::MakeBuffer(0, 9, 20, 25, 0, 1, [](int32_t i, int32_t j, int32_t k) {
        return static_cast<int16_t>(10000 * k + 100 * j + i);
    }), shared, e;
    EXPECT_EQ(MeboDataPtrSwapAxes(&a.b, 1, 1) + MeboDataPtrSwapAxes(&a.b, 0, 3), 0);
    ASSERT_EQ(MeboDataPtrSeek(&a.b, 3, 21, 1), 1);
    ASSERT_EQ(MeboDataPtrSwapAxes(&a.b, 0, 1), 1);
    EXPECT_EQ(Idx(a.b), Ints({21, 3, 1}));
    EXPECT_EQ(a.b.storage->layout.dim[0].max, 9);  // storage layout untouched
    EXPECT_EQ(At(&a.b, 24, 7, 1), 10000 + 2400 + 7);
    // A narrowed transposed layout finds its samples by stride rank; the old
    // cursor (24, 7, 1) left the view, so the cursor goes to its minimum corner.
    Mebo3DDataAxis req = MeboDataPtrGetAxis(&a.b);
    req.dim[0] = {req.dim[0].stride, 22, 23};
    req.dim[1] = {req.dim[1].stride, 5, 8};
    ASSERT_EQ(MeboDataPtrSetView(&a.b, &req, 0), 1);
    EXPECT_EQ(*reinterpret_cast<int16_t*>(a.b.axis.base), 2200 + 5);
    EXPECT_EQ(Idx(a.b), Ints({22, 5, 0}));
    EXPECT_EQ(At(&a.b, 23, 8, 1), 10000 + 2300 + 8);
    // Refused views restore the buffer whole: beyond the storage, another
    // element size, no base, an empty range, or a doubled stride that would
    // reach past the storage from inside corners.
    ASSERT_EQ(MeboDataPtrShare(&shared.b, &a.b), 1);
    const MeboDataPtr before = a.b;
    Mebo3DDataAxis bad[6] = {req, req, req, req, req, req};
    bad[0].dim[0].max = 26;
    bad[1].dim[1].min = -1;
    bad[2].elemSize = 4;
    bad[3].base = nullptr;
    bad[4].dim[2].max = -1;
    bad[5].dim[1].stride *= 2;
    for (const Mebo3DDataAxis& r : bad) EXPECT_EQ(MeboDataPtrSetView(&a.b, &r, 0), 0) << &r - bad;
    EXPECT_EQ(MeboDataPtrSetView(&a.b, nullptr, 0) + MeboDataPtrSetView(&e.b, &req, 0), 0);  // e: no storage
    EXPECT_TRUE(SameRecord(a.b, before) && IsEmpty(e.b));
    EXPECT_EQ(a.b.storage->refCount, 2u);
    EXPECT_EQ(Mebo3DDataAxisSwap(&req, 2, 2), 0);
    ASSERT_EQ(Mebo3DDataAxisSwap(&req, 0, 1), 1);
    EXPECT_EQ(std::make_pair(req.dim[0].stride, req.dim[0].min), std::make_pair(2, 5));
    // An external view takes the host's memory as it is.
    int16_t host[6] = {0, 1, 2, 3, 4, 5};
    Mebo3DDataAxis ext = {reinterpret_cast<uint8_t*>(host), 2, {{2, 0, 2}, {6, 7, 8}, {12, 0, 0}}};
    ASSERT_EQ(MeboDataPtrSetView(&e.b, &ext, 1), 1);
    EXPECT_EQ(e.b.storage, nullptr);
    EXPECT_EQ(At(&e.b, 1, 8, 0), 4);
    MeboDataPtrClear(&e.b);  // the host owns that memory
    // Axes 1 and 2 of equal stride (one trace): matched lower with lower, and
    // re-viewing with the buffer's own (aliased) axis record keeps the view.
    Owned one;
    ASSERT_EQ(MeboDataPtrAllocate(&one.b, 2, 0, 511, 737, 737, 0, 0, 0), 1);
    ASSERT_EQ(one.b.axis.dim[1].stride, one.b.axis.dim[2].stride);
    req = one.b.axis;
    req.dim[0] = {req.dim[0].stride, 100, 199};
    for (const Mebo3DDataAxis* r : {&req, &one.b.axis}) {
        ASSERT_EQ(MeboDataPtrSetView(&one.b, r, 0), 1);
        EXPECT_EQ(one.b.axis.base, one.b.storage->data + 200);
    }
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
    EXPECT_EQ(Ints({r.dim[0].min, r.dim[1].max, r.dim[1].stride}), Ints({2, 9, 20}));  // axis 0 from the call before
    b.dim[2].min = b.dim[2].max = 1;
    EXPECT_EQ(MeboIntersectRanges(&r, &a, &b, 0, 3), -1);
    EXPECT_EQ(MeboIntersectRanges(&r, &a, &b, 2, 2) + MeboIntersectRanges(nullptr, &a, &b, 0, 3), -2);
    Owned x, y, e;
    ASSERT_EQ(MeboDataPtrAllocate(&x.b, 2, 0, 511, 100, 199, 0, 0, 0), 1);
    ASSERT_EQ(MeboDataPtrAllocate(&y.b, 2, 0, 511, 150, 249, 0, 0, 0), 1);
    ASSERT_EQ(MeboDataPtrIntersect(&x.b, &y.b), 3);
    for (MeboDataPtr* p : {&x.b, &y.b})
        EXPECT_EQ(Ints({p->axis.dim[1].min, p->axis.dim[1].max, p->axis.dim[0].max}), Ints({150, 199, 511}));
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
