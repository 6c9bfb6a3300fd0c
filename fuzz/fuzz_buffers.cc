// Fuzz target: random sequences of data-buffer operations over a small pool
// of MeboDataPtr records.
//
// Operations: allocations (small sizes, and sizes beyond the 32-bit limit
// that must be refused), shares, releases, views (layouts derived from
// existing views with swapped axes and random narrowing or widening, storage
// layouts with random ranges, and junk layouts), axis swaps, seeks, corner
// seeks, steps, buffer and range intersections. After every step the pool is
// checked:
//   - an empty record is all zero;
//   - a view with storage has the storage's element size and its strides in
//     some order, its cursor is the address of its index, and both corners
//     (each a whole element) lie inside [data, data + byteSize);
//   - the storage's own layout never changes;
//   - each live storage's refCount equals the number of pool entries that
//     refer to it.
// Freeing a storage twice or touching it after it was freed is left to ASan.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "vantir3/data/data_buffer.h"

namespace {

constexpr int kSlots = 6;
constexpr int64_t kMaxBytes = 1 << 16;  // larger (but representable) allocations are skipped

[[noreturn]] void Fail(const char* what, int slot, const char* op) {
    std::fprintf(stderr, "fuzz_buffers: %s (slot %d, after %s)\n", what, slot, op);
    std::abort();
}

#define FUZZ_REQUIRE(cond, slot) \
    do {                         \
        if (!(cond)) Fail(#cond, slot, lastOp); \
    } while (0)

const char* lastOp = "start";

struct Pool {
    MeboDataPtr b[kSlots];
    // The layout each live storage had when it was allocated.
    std::map<const MeboDataStorage*, Mebo3DDataAxis> layouts;
    Pool() {
        for (MeboDataPtr& p : b) MeboDataPtrClear(&p);
    }
    ~Pool() {
        for (MeboDataPtr& p : b) MeboDataPtrRelease(&p);
    }
};

int64_t Offset(const Mebo3DDataAxis& a, const int32_t idx[3]) {
    int64_t offset = 0;
    for (int k = 0; k < 3; ++k) offset += (int64_t{idx[k]} - a.dim[k].min) * a.dim[k].stride;
    return offset;
}

bool SameLayout(const Mebo3DDataAxis& x, const Mebo3DDataAxis& y) {
    return std::memcmp(&x, &y, sizeof x) == 0;
}

void CheckPool(Pool& pool) {
    std::map<const MeboDataStorage*, uint32_t> refs;
    for (int s = 0; s < kSlots; ++s) {
        const MeboDataPtr& b = pool.b[s];
        if (b.storage == nullptr) {
            MeboDataPtr zero;
            std::memset(&zero, 0, sizeof zero);
            FUZZ_REQUIRE(std::memcmp(&b, &zero, sizeof b) == 0, s);
            continue;
        }
        ++refs[b.storage];
        const MeboDataStorage& st = *b.storage;
        auto known = pool.layouts.find(b.storage);
        FUZZ_REQUIRE(known != pool.layouts.end(), s);
        FUZZ_REQUIRE(SameLayout(known->second, st.layout), s);
        FUZZ_REQUIRE(st.data != nullptr && st.byteSize > 0 && st.layout.base == st.data, s);

        const Mebo3DDataAxis& a = b.axis;
        FUZZ_REQUIRE(a.elemSize == st.layout.elemSize, s);
        int32_t mine[3], theirs[3];
        for (int k = 0; k < 3; ++k) mine[k] = a.dim[k].stride, theirs[k] = st.layout.dim[k].stride;
        std::sort(mine, mine + 3);
        std::sort(theirs, theirs + 3);
        FUZZ_REQUIRE(std::equal(mine, mine + 3, theirs), s);

        // The cursor is the address of its index. Addresses are compared as
        // integers: a broken view may point anywhere.
        const uintptr_t data = reinterpret_cast<uintptr_t>(st.data);
        const uintptr_t base = reinterpret_cast<uintptr_t>(a.base);
        FUZZ_REQUIRE(reinterpret_cast<uintptr_t>(b.cur) == base + static_cast<uintptr_t>(Offset(a, b.idx)), s);

        const bool addressable = a.dim[0].min <= a.dim[0].max && a.dim[1].min <= a.dim[1].max &&
                                 a.dim[2].min <= a.dim[2].max;
        const int64_t baseOffset = static_cast<int64_t>(base - data);
        if (!addressable) {
            // Only a fresh allocation with a reversed range looks like this.
            FUZZ_REQUIRE(baseOffset == 0, s);
            continue;
        }
        const int32_t hi[3] = {a.dim[0].max, a.dim[1].max, a.dim[2].max};
        const int64_t hiOffset = baseOffset + Offset(a, hi);
        const int64_t last = int64_t{st.byteSize} - a.elemSize;
        FUZZ_REQUIRE(baseOffset >= 0 && baseOffset <= last, s);
        FUZZ_REQUIRE(hiOffset >= 0 && hiOffset <= last, s);
        for (int k = 0; k < 3; ++k) FUZZ_REQUIRE(b.idx[k] >= a.dim[k].min && b.idx[k] <= a.dim[k].max, s);
        // Touch both corners and the cursor: ASan reports any byte outside.
        volatile uint8_t sink = 0;
        sink = sink + a.base[0] + a.base[a.elemSize - 1];
        sink = sink + st.data[hiOffset] + st.data[hiOffset + a.elemSize - 1];
        sink = sink + b.cur[0] + b.cur[a.elemSize - 1];
        (void)sink;
    }
    for (const auto& r : refs) FUZZ_REQUIRE(r.first->refCount == r.second, -1);
    // Storages no pool entry refers to are gone (or belong to no one).
    for (auto it = pool.layouts.begin(); it != pool.layouts.end();) {
        it = refs.count(it->first) ? std::next(it) : pool.layouts.erase(it);
    }
}

int32_t SmallIndex(FuzzedDataProvider& in) { return in.ConsumeIntegralInRange<int32_t>(-4, 6); }

// An index a few steps from `from`, kept within 32 bits.
int32_t Near(int32_t from, FuzzedDataProvider& in) {
    const int64_t v = int64_t{from} + SmallIndex(in);
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

int32_t AnyIndex(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0: return INT32_MIN;
        case 1: return INT32_MAX;
        case 2: return in.ConsumeIntegral<int32_t>();
        default: return SmallIndex(in);
    }
}

int32_t ElemSize(FuzzedDataProvider& in) {
    static const int32_t kSizes[] = {1, 2, 2, 4, 8, 3, 0, -1, INT32_MAX, INT32_MIN};
    return kSizes[in.ConsumeIntegralInRange<size_t>(0, sizeof kSizes / sizeof kSizes[0] - 1)];
}

// Byte size that the allocation would need, or -1 when it is refused anyway.
int64_t NeededBytes(int32_t elemSize, const int32_t mins[3], const int32_t maxs[3]) {
    if (elemSize <= 0) return -1;
    int64_t bytes = elemSize;
    for (int k = 0; k < 3; ++k) {
        const int64_t span = int64_t{maxs[k]} - mins[k];
        bytes *= (span < 0 ? -span : span) + 1;
        if (bytes > INT32_MAX) return -1;
    }
    return bytes;
}

void NoteAllocation(Pool& pool, const MeboDataPtr& b) {
    if (b.storage != nullptr) pool.layouts[b.storage] = b.storage->layout;
}

void Allocate(Pool& pool, FuzzedDataProvider& in, int s) {
    const int32_t elemSize = ElemSize(in);
    int32_t mins[3], maxs[3];
    const bool extreme = in.ConsumeIntegralInRange(0, 7) == 0;
    for (int k = 0; k < 3; ++k) {
        mins[k] = extreme ? AnyIndex(in) : SmallIndex(in);
        maxs[k] = extreme ? AnyIndex(in) : mins[k] + in.ConsumeIntegralInRange<int32_t>(-3, 5);
    }
    const int64_t bytes = NeededBytes(elemSize, mins, maxs);
    if (bytes > kMaxBytes) return;  // representable but too large for fuzzing
    const MeboDataPtr before = pool.b[s];
    const int r = MeboDataPtrAllocate(&pool.b[s], elemSize, mins[0], maxs[0], mins[1], maxs[1],
                                      mins[2], maxs[2], in.ConsumeBool());
    lastOp = "allocate";
    if (elemSize <= 0) {
        FUZZ_REQUIRE(r == 0 && std::memcmp(&before, &pool.b[s], sizeof before) == 0, s);
    } else if (bytes < 0) {
        FUZZ_REQUIRE(r == 0 && pool.b[s].storage == nullptr, s);
    } else {
        FUZZ_REQUIRE(r == 1 && pool.b[s].storage != nullptr, s);
        FUZZ_REQUIRE(pool.b[s].storage->byteSize == bytes, s);
        // Write every byte: ASan reports storage shorter than its byteSize.
        std::memset(pool.b[s].storage->data, 0x5a, static_cast<size_t>(bytes));
    }
    NoteAllocation(pool, pool.b[s]);
}

void AllocateCounts(Pool& pool, FuzzedDataProvider& in, int s) {
    const int32_t elemSize = ElemSize(in);
    int32_t n[3];
    for (int k = 0; k < 3; ++k) n[k] = in.ConsumeBool() ? in.ConsumeIntegralInRange<int32_t>(-1, 5) : AnyIndex(in);
    const bool refused = elemSize < 0 || n[0] < 0 || n[1] < 0 || n[2] < 0;
    const int32_t mins[3] = {0, 0, 0};
    int32_t maxs[3] = {0, 0, 0};
    if (!refused) {
        for (int k = 0; k < 3; ++k) maxs[k] = n[k] - 1;
    }
    const int64_t bytes = refused ? -1 : NeededBytes(elemSize, mins, maxs);
    if (bytes > kMaxBytes) return;
    const int r = MeboDataPtrAllocateCounts(&pool.b[s], elemSize, n[0], n[1], n[2], in.ConsumeBool());
    lastOp = "allocate counts";
    if (bytes > 0) {
        FUZZ_REQUIRE(r == 1 && pool.b[s].storage->byteSize == bytes, s);
    } else {
        FUZZ_REQUIRE(r == 0, s);
    }
    NoteAllocation(pool, pool.b[s]);
}

// A requested layout for SetView.
Mebo3DDataAxis Request(Pool& pool, FuzzedDataProvider& in, int s) {
    const MeboDataPtr& from = pool.b[in.ConsumeIntegralInRange(0, kSlots - 1)];
    Mebo3DDataAxis req = from.axis;
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0:  // an existing view, narrowed or widened
        case 1:
            for (int k = 0; k < 3; ++k) {
                req.dim[k].min = Near(req.dim[k].min, in);
                req.dim[k].max = Near(req.dim[k].max, in);
            }
            break;
        case 2:  // a storage layout with random ranges
            if (from.storage != nullptr) req = from.storage->layout;
            for (int k = 0; k < 3; ++k) {
                req.dim[k].min = SmallIndex(in);
                req.dim[k].max = req.dim[k].min + in.ConsumeIntegralInRange<int32_t>(-1, 4);
            }
            break;
        default: {  // junk
            req.base = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(in.ConsumeIntegral<uint32_t>()));
            req.elemSize = in.ConsumeBool() ? ElemSize(in) : req.elemSize;
            for (int k = 0; k < 3; ++k) {
                if (in.ConsumeBool()) req.dim[k].stride = in.ConsumeIntegral<int32_t>();
                req.dim[k].min = AnyIndex(in);
                req.dim[k].max = AnyIndex(in);
            }
            break;
        }
    }
    const int swaps = in.ConsumeIntegralInRange(0, 2);
    for (int i = 0; i < swaps; ++i) {
        Mebo3DDataAxisSwap(&req, in.ConsumeIntegralInRange(-1, 3), in.ConsumeIntegralInRange(-1, 3));
    }
    (void)s;
    return req;
}

void SetView(Pool& pool, FuzzedDataProvider& in, int s) {
    MeboDataPtr& b = pool.b[s];
    const MeboDataPtr before = b;
    if (in.ConsumeIntegralInRange(0, 7) == 0) {
        // An external view is taken as given; only its own layout is safe.
        const Mebo3DDataAxis own = b.axis;
        const int r = MeboDataPtrSetView(&b, &own, 1);
        lastOp = "set external view";
        if (r == 0) FUZZ_REQUIRE(std::memcmp(&before, &b, sizeof b) == 0, s);
        return;
    }
    const Mebo3DDataAxis req = Request(pool, in, s);
    const int r = MeboDataPtrSetView(&b, &req, 0);
    lastOp = "set view";
    if (r == 0) {
        FUZZ_REQUIRE(std::memcmp(&before, &b, sizeof b) == 0, s);
    } else {
        FUZZ_REQUIRE(r == 1 && b.storage == before.storage, s);
        for (int k = 0; k < 3; ++k) {
            FUZZ_REQUIRE(b.axis.dim[k].min == req.dim[k].min && b.axis.dim[k].max == req.dim[k].max &&
                             b.axis.dim[k].stride == req.dim[k].stride, s);
        }
    }
}

void WriteAtCursor(MeboDataPtr& b, uint8_t value) {
    if (b.storage != nullptr && b.cur != nullptr && b.axis.elemSize > 0) {
        std::memset(b.cur, value, static_cast<size_t>(b.axis.elemSize));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    Pool pool;
    lastOp = "start";
    int steps = 0;
    while (in.remaining_bytes() > 0 && ++steps < 128) {
        const int s = in.ConsumeIntegralInRange(0, kSlots - 1);
        MeboDataPtr& b = pool.b[s];
        switch (in.ConsumeIntegralInRange(0, 13)) {
            case 0:
            case 1:
                Allocate(pool, in, s);
                break;
            case 2:
                AllocateCounts(pool, in, s);
                break;
            case 3:
            case 4: {
                const int from = in.ConsumeIntegralInRange(0, kSlots - 1);
                MeboDataPtrShare(&b, &pool.b[from]);
                lastOp = "share";
                FUZZ_REQUIRE(b.storage == pool.b[from].storage, s);
                break;
            }
            case 5:
                MeboDataPtrRelease(&b);
                lastOp = "release";
                break;
            case 6:
            case 7:
                SetView(pool, in, s);
                break;
            case 8: {
                const int x = in.ConsumeIntegralInRange(-1, 3), y = in.ConsumeIntegralInRange(-1, 3);
                const int r = MeboDataPtrSwapAxes(&b, x, y);
                lastOp = "swap axes";
                FUZZ_REQUIRE(r == (x >= 0 && x < 3 && y >= 0 && y < 3 && x != y ? 1 : 0), s);
                break;
            }
            case 9: {
                const int32_t i0 = in.ConsumeBool() ? AnyIndex(in) : Near(b.axis.dim[0].min, in);
                const int32_t i1 = in.ConsumeBool() ? AnyIndex(in) : Near(b.axis.dim[1].min, in);
                const int32_t i2 = in.ConsumeBool() ? AnyIndex(in) : Near(b.axis.dim[2].min, in);
                const MeboDataPtr before = b;
                const int r = MeboDataPtrSeek(&b, i0, i1, i2);
                lastOp = "seek";
                if (r) {
                    FUZZ_REQUIRE(b.idx[0] == i0 && b.idx[1] == i1 && b.idx[2] == i2, s);
                    WriteAtCursor(b, 0x11);
                } else {
                    FUZZ_REQUIRE(std::memcmp(&before, &b, sizeof b) == 0, s);
                }
                break;
            }
            case 10: {
                const int corner = in.ConsumeIntegralInRange(-2, 2);
                const MeboDataPtr before = b;
                const int r = MeboDataPtrSeekCorner(&b, corner);
                lastOp = "seek corner";
                if (r) {
                    FUZZ_REQUIRE(corner >= -1 && corner <= 1, s);
                    WriteAtCursor(b, 0x22);
                } else {
                    FUZZ_REQUIRE(std::memcmp(&before, &b, sizeof b) == 0, s);
                }
                break;
            }
            case 11: {
                const int axis = in.ConsumeIntegralInRange(-1, 3);
                const int32_t count = in.ConsumeBool() ? in.ConsumeIntegralInRange(-4, 4) : AnyIndex(in);
                const MeboDataPtr before = b;
                const int r = MeboDataPtrStep(&b, axis, count);
                lastOp = "step";
                if (r) {
                    FUZZ_REQUIRE(axis >= 0 && axis < 3, s);
                    FUZZ_REQUIRE(int64_t{b.idx[axis]} == int64_t{before.idx[axis]} + count, s);
                    WriteAtCursor(b, 0x33);
                } else {
                    FUZZ_REQUIRE(std::memcmp(&before, &b, sizeof b) == 0, s);
                }
                break;
            }
            case 12: {
                MeboDataPtr& other = pool.b[in.ConsumeIntegralInRange(0, kSlots - 1)];
                const MeboDataPtr beforeA = b, beforeB = other;
                const int r = MeboDataPtrIntersect(&b, &other);
                lastOp = "intersect";
                FUZZ_REQUIRE(r >= -2 && r <= 3, s);
                if (r <= 0) {
                    FUZZ_REQUIRE(std::memcmp(&beforeA, &b, sizeof b) == 0, s);
                    FUZZ_REQUIRE(std::memcmp(&beforeB, &other, sizeof other) == 0, s);
                } else {
                    for (int k = 0; k < 3; ++k) {
                        FUZZ_REQUIRE(b.axis.dim[k].min == other.axis.dim[k].min &&
                                         b.axis.dim[k].max == other.axis.dim[k].max, s);
                    }
                }
                break;
            }
            case 13: {
                Mebo3DDataAxis result = pool.b[in.ConsumeIntegralInRange(0, kSlots - 1)].axis;
                const Mebo3DDataAxis a = Request(pool, in, s);
                const Mebo3DDataAxis c = b.axis;
                const int first = in.ConsumeIntegralInRange(-1, 3);
                const int count = in.ConsumeIntegralInRange(-1, 4);
                const int r = MeboIntersectRanges(&result, &a, in.ConsumeBool() ? &result : &c, first, count);
                lastOp = "intersect ranges";
                FUZZ_REQUIRE(r >= -1 && r <= 3, s);
                break;
            }
        }
        CheckPool(pool);
    }
    return 0;
}
