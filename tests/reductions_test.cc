#include "vantir3/processes/reductions.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/support/test_source.h"
#include "vantir3/framework/toolbox.h"

namespace {

using vantir3::SimdPath;
using vantir3_test::MakeBuffer;
using vantir3_test::SampleAt;
using Line = std::vector<int16_t>;

MeboDataPtr Row(const Line& v) {
    return MakeBuffer(0, static_cast<int32_t>(v.size()) - 1, 0, 0, 0, 0,
                      [&](int32_t i, int32_t, int32_t) { return v[i]; });
}

MeboDataPtr Filled(int32_t n0, int32_t n1, int16_t value) {
    return MakeBuffer(0, n0 - 1, 0, n1 - 1, 0, 0, [=](int32_t, int32_t, int32_t) { return value; });
}

Line Samples(const MeboDataPtr& b, int32_t trace = 0) {
    Line v;
    for (int32_t i = b.axis.dim[0].min; i <= b.axis.dim[0].max; ++i) v.push_back(SampleAt(b, i, trace));
    return v;
}

void Put(MeboDataPtr& b, int32_t i0, int32_t i1, int32_t i2, int16_t v) {
    const Mebo3DDataAxis& a = b.axis;
    uint8_t* p = a.base + static_cast<ptrdiff_t>(i0 - a.dim[0].min) * a.dim[0].stride +
                 static_cast<ptrdiff_t>(i1 - a.dim[1].min) * a.dim[1].stride +
                 static_cast<ptrdiff_t>(i2 - a.dim[2].min) * a.dim[2].stride;
    std::memcpy(p, &v, sizeof v);
}

// Every instruction-set path this processor can run.
std::vector<SimdPath> Paths() {
    std::vector<SimdPath> paths;
    for (SimdPath p : {SimdPath::kPlain, SimdPath::kAvx2, SimdPath::kAvx512})
        if (vantir3::ChooseSimdPath(p) == p) paths.push_back(p);
    return paths;
}

void Release(std::initializer_list<MeboDataPtr*> buffers) {
    for (MeboDataPtr* b : buffers) MeboDataPtrRelease(b);
}

// ---- Literal per-line references --------------------------------------------

Line RefMinMax(const Line& x, int32_t no) {
    const double r = static_cast<double>(x.size()) / no;
    Line out;
    int lo = 32767, hi = -32767, mode = no >= 2 ? 0 : 1;  // 0 pair, 1 single, 2 finished
    bool low = false;
    int64_t next = no >= 2 ? 2 : 1;
    for (size_t j = 0; j < x.size(); ++j) {
        if (x[j] < lo) lo = x[j], low = true;
        if (x[j] > hi) hi = x[j], low = false;
        if (!(static_cast<double>(j + 1) >= next * r || j + 1 == x.size())) continue;
        if (mode == 0) {
            out.push_back(static_cast<int16_t>(low ? hi : lo));
            out.push_back(static_cast<int16_t>(low ? lo : hi));
            next += 2;
            if (next > no) mode = next == no + 1 ? (next = no, 1) : 2;
        } else if (mode == 1) {
            out.push_back(static_cast<int16_t>(std::abs(lo) > std::abs(hi) ? lo : hi));
            mode = 2;
        }
        lo = 32767;
        hi = -32767;
    }
    return out;
}

Line RefDecimation(const Line& x, int32_t no) {
    const int32_t ni = static_cast<int32_t>(x.size());
    const double r = static_cast<double>(ni) / no;
    Line out;
    for (int32_t j = 0, w = 0; j < ni; ++j)
        if (j >= w * r || (j + 1 == ni && w + 1 == no)) out.push_back(x[j]), ++w;
    return out;
}

Line RefAverage(const Line& x, int32_t no) {
    const double r = static_cast<double>(x.size()) / no;
    const unsigned rf = static_cast<unsigned>(r);
    unsigned target = rf;
    double f = r - rf;
    int64_t sum = 0, n = 0;
    Line out;
    for (int16_t v : x) {
        sum += v;
        if (++n < target) continue;
        out.push_back(static_cast<int16_t>(sum >= 0 ? (sum + n / 2) / n : (sum - n / 2) / n));
        sum = n = 0;
        if (f > 0 && static_cast<unsigned>(r + f + 0.5) > rf) {
            target = static_cast<unsigned>(r + f + 0.5);
            f = r + f - target;
        } else {
            target = rf;
            f = f + (r - rf);
        }
    }
    return out;
}

// A buffer viewed as (samples, traces, planes) over storage in one of three
// orders, so that the reductions meet contiguous samples, contiguous traces,
// or neither.
enum class Order { kSamplesInner, kTracesInner, kPlanesInner };

MeboDataPtr MakeView(int32_t s, int32_t t, int32_t p, Order order) {
    MeboDataPtr b;
    MeboDataPtrClear(&b);
    switch (order) {
        case Order::kSamplesInner:
            MeboDataPtrAllocateCounts(&b, 2, s, t, p, 1);
            break;
        case Order::kTracesInner:
            MeboDataPtrAllocateCounts(&b, 2, t, s, p, 1);
            MeboDataPtrSwapAxes(&b, 0, 1);
            break;
        case Order::kPlanesInner:
            MeboDataPtrAllocateCounts(&b, 2, p, s, t, 1);
            MeboDataPtrSwapAxes(&b, 0, 1);  // samples, planes, traces
            MeboDataPtrSwapAxes(&b, 1, 2);  // samples, traces, planes
            break;
    }
    return b;
}

int16_t Noise(uint32_t& h) {
    h = h * 1664525u + 1013904223u;
    const uint32_t k = h >> 16;
    if (k % 16 == 0) return -32768;
    if (k % 16 == 1) return 32767;
    return static_cast<int16_t>(k);
}

// ---- Worked examples ----------------------------------------------------------

TEST(Reductions, MinMaxKeepsExtremesInTimeOrder) {
    MeboDataPtr in = Row({0, 5, -3, 2, 9, -7});
    MeboDataPtr two = Filled(2, 1, 0), three = Filled(3, 1, 0);
    EXPECT_EQ(CCdpProcessToolbox::CdpMinMaxReduction(two, in), 0);
    EXPECT_EQ(Samples(two), (Line{9, -7}));
    EXPECT_EQ(CCdpProcessToolbox::CdpMinMaxReduction(three, in), 0);
    EXPECT_EQ(Samples(three), (Line{5, -3, 9}));

    MeboDataPtr floor = Row({-32768, -32768, -32768, -32768});
    EXPECT_EQ(CCdpProcessToolbox::CdpMinMaxReduction(two, floor), 0);
    EXPECT_EQ(Samples(two), (Line{-32767, -32768}));

    Line x(21);
    for (int i = 0; i < 21; ++i) x[i] = static_cast<int16_t>((i * 37) % 19 - 9);
    MeboDataPtr in21 = Row(x), out19 = Filled(19, 1, 12345);
    EXPECT_EQ(CCdpProcessToolbox::CdpMinMaxReduction(out19, in21), 0);
    EXPECT_EQ(Samples(out19), RefMinMax(x, 19));
    for (int16_t v : Samples(out19)) EXPECT_NE(v, 12345);

    // Nothing to reduce: R <= 1.
    MeboDataPtr same = Filled(6, 1, 7);
    EXPECT_EQ(CCdpProcessToolbox::CdpMinMaxReduction(same, in), -1);
    EXPECT_EQ(Samples(same), Line(6, 7));
    Release({&in, &two, &three, &floor, &in21, &out19, &same});
}

TEST(Reductions, DecimationPicksSamples) {
    Line x;
    for (int i = 0; i < 10; ++i) x.push_back(static_cast<int16_t>(10 * i));
    MeboDataPtr in = Row(x), out = Filled(4, 1, 0), same = Filled(10, 1, -1);
    CCdpProcessToolbox toolbox;
    EXPECT_EQ(toolbox.CdpDecimation(out, in), 0);
    EXPECT_EQ(Samples(out), (Line{0, 30, 50, 80}));
    EXPECT_EQ(toolbox.CdpDecimation(same, in), -1);
    EXPECT_EQ(Samples(same), Line(10, -1));
    int32_t index[8];
    ASSERT_EQ(vantir3::DecimationIndices(10, 4, 2.5, index, 8), 4);
    EXPECT_EQ(Line(index, index + 4), (Line{0, 3, 5, 8}));
    Release({&in, &out, &same});
}

TEST(Reductions, AverageRoundsHalvesAwayFromZeroAndCarriesTheFraction) {
    MeboDataPtr in = Row({1, 2, 3, 4, 5, 6}), two = Filled(2, 1, 0);
    EXPECT_EQ(CCdpProcessToolbox::CdpAverageReduction(two, in, 0), 0);
    EXPECT_EQ(Samples(two), (Line{2, 5}));
    MeboDataPtr neg = Row({-1, -2}), one = Filled(1, 1, 0);
    EXPECT_EQ(CCdpProcessToolbox::CdpAverageReduction(one, neg, 0), 0);
    EXPECT_EQ(Samples(one), (Line{-2}));

    auto sizes = [](int32_t ni, int32_t no) {
        std::vector<int32_t> end(no);
        end.resize(vantir3::AverageGroupEnds(ni, no, static_cast<double>(ni) / no, end.data(), no));
        Line size;
        for (size_t g = 0; g < end.size(); ++g)
            size.push_back(static_cast<int16_t>(end[g] - (g ? end[g - 1] : 0)));
        return size;
    };
    EXPECT_EQ(sizes(10, 4), (Line{2, 3, 2, 3}));
    EXPECT_EQ(sizes(32, 10), (Line{3, 3, 4, 3, 3, 3, 3, 4, 3, 3}));

    // Ni < No: groups of one or two samples, the rest of the output untouched.
    MeboDataPtr five = Row({10, 20, 30, 40, 50}), nine = Filled(9, 1, 777);
    EXPECT_EQ(CCdpProcessToolbox::CdpAverageReduction(nine, five, 0), 0);
    const Line got = Samples(nine), want = RefAverage({10, 20, 30, 40, 50}, 9);
    ASSERT_LE(want.size(), 5u);
    EXPECT_EQ(Line(got.begin(), got.begin() + want.size()), want);
    EXPECT_EQ(Line(got.begin() + want.size(), got.end()), Line(9 - want.size(), 777));

    // Group sums that would not fit 32 bits are refused: R * 32767 > 2^31 - 1.
    MeboDataPtr longIn = Filled(70000, 1, 1), single = Filled(1, 1, 5);
    EXPECT_EQ(CCdpProcessToolbox::CdpAverageReduction(single, longIn, 0), -6);
    EXPECT_EQ(Samples(single), (Line{5}));
    // At the limit a group of -32768 samples still averages exactly.
    MeboDataPtr deep = Filled(65538, 1, -32768);
    EXPECT_EQ(CCdpProcessToolbox::CdpAverageReduction(single, deep, 0), 0);
    EXPECT_EQ(Samples(single), (Line{-32768}));

    // Groups of 65535 samples (the longest that vector lanes sum) at the ends
    // of the sample range, on every path.
    const int32_t n = 65535, traces = 40;
    auto extreme = [](int32_t i, int32_t t, int32_t) -> int16_t {
        switch (t % 4) {
            case 0:
                return -32768;
            case 1:
                return 32767;
            case 2:
                return i % 2 ? 32767 : -32768;
            default:
                return static_cast<int16_t>((i * 7919) % 65536 - 32768);
        }
    };
    MeboDataPtr wide = MakeBuffer(0, 2 * n - 1, 0, traces - 1, 0, 0, extreme), halves = Filled(2, traces, 0);
    for (SimdPath path : Paths()) {
        ASSERT_EQ(vantir3::AverageReduction(halves, wide, 0, path), 0);
        for (int32_t t = 0; t < traces; ++t) {
            Line x(2 * n);
            for (int32_t i = 0; i < 2 * n; ++i) x[i] = extreme(i, t, 0);
            ASSERT_EQ(Samples(halves, t), RefAverage(x, 2)) << "trace " << t << " path " << int(path);
        }
    }
    // Groups whose rounded mean is an exact quotient: (|sum| + n / 2) = k * n,
    // for means k just below powers of two, where a reciprocal of n rounded
    // down would lose one.
    const int16_t means[] = {32767, 16383, 8191, 4095, 2047, 1023, 511, 255};
    for (int32_t size = 2; size <= 70; ++size) {
        auto value = [&](int32_t i, int32_t t, int32_t) {
            const int32_t sign = (t / 8) % 2 ? -1 : 1;
            return static_cast<int16_t>(sign * (means[t % 8] - (i % size < size / 2 ? 1 : 0)));
        };
        MeboDataPtr groups = MakeBuffer(0, 2 * size - 1, 0, 47, 0, 0, value), pair = Filled(2, 48, 0);
        for (SimdPath path : Paths()) {
            ASSERT_EQ(vantir3::AverageReduction(pair, groups, 0, path), 0);
            for (int32_t t = 0; t < 48; ++t) {
                const int16_t k = static_cast<int16_t>(((t / 8) % 2 ? -1 : 1) * means[t % 8]);
                ASSERT_EQ(Samples(pair, t), (Line{k, k})) << "size " << size << " trace " << t;
            }
        }
        Release({&groups, &pair});
    }
    Release({&in, &two, &neg, &one, &five, &nine, &longIn, &single, &deep, &wide, &halves});
}

TEST(Reductions, NarrowsMatchedAxesAndReportsFailures) {
    auto value = [](int32_t i, int32_t t, int32_t) { return static_cast<int16_t>(i + 100 * t); };
    MeboDataPtr in = MakeBuffer(0, 39, 50, 149, 0, 0, value);
    MeboDataPtr out = MakeBuffer(0, 9, 0, 99, 0, 0, [](int32_t, int32_t, int32_t) { return -1; });
    MeboDataPtr keep;
    MeboDataPtrClear(&keep);
    MeboDataPtrShare(&keep, &out);
    EXPECT_EQ(vantir3::Decimation(out, in), 1);
    EXPECT_EQ(out.axis.dim[1].min, 50);
    EXPECT_EQ(out.axis.dim[1].max, 99);
    EXPECT_EQ(SampleAt(out, 1, 60), 4 + 6000);
    EXPECT_EQ(SampleAt(keep, 1, 49), -1);  // outside the input: untouched

    // Along traces the matched axes are samples and planes.
    MeboDataPtr across = MakeBuffer(30, 49, 0, 9, 0, 0, [](int32_t, int32_t, int32_t) { return 0; });
    EXPECT_EQ(vantir3::AverageReduction(across, in, 1), 1);
    EXPECT_EQ(across.axis.dim[0].min, 30);
    EXPECT_EQ(across.axis.dim[0].max, 39);
    EXPECT_EQ(across.axis.dim[1].min, 0);
    EXPECT_EQ(across.axis.dim[1].max, 9);
    EXPECT_EQ(SampleAt(across, 32, 0), 32 + 5450);  // mean of traces 50 .. 59
    EXPECT_EQ(vantir3::AverageReduction(across, in, 2), -1);

    MeboDataPtr far = MakeBuffer(0, 9, 500, 509, 0, 0, [](int32_t, int32_t, int32_t) { return 0; });
    EXPECT_EQ(vantir3::MinMaxReduction(far, in), -2);
    MeboDataPtr empty;
    MeboDataPtrClear(&empty);
    EXPECT_EQ(vantir3::MinMaxReduction(empty, in), -3);
    MeboDataPtr wide, wideOut;
    MeboDataPtrClear(&wide);
    MeboDataPtrClear(&wideOut);
    MeboDataPtrAllocate(&wide, 4, 0, 39, 50, 149, 0, 0, 1);
    MeboDataPtrAllocate(&wideOut, 4, 0, 9, 50, 149, 0, 0, 1);
    EXPECT_EQ(vantir3::AverageReduction(wideOut, in, 0), -3);
    EXPECT_EQ(vantir3::AverageReduction(wideOut, wide, 0), -3);  // equal, but not 16-bit
    Release({&in, &out, &keep, &across, &far, &wide, &wideOut});
}

// Every reduction, on contiguous and strided layouts (which take different
// paths through the code) and with every instruction-set variant, gives
// exactly the literal per-line rule.
TEST(Reductions, AllLayoutsMatchTheLineRule) {
    struct Case {
        int32_t ni, no;
    };
    const Case cases[] = {{1024, 256}, {21, 19}, {100, 7}, {37, 3}, {50, 1}, {9, 8}, {1000, 333}, {17, 16}};
    const Case averageOnly[] = {{5, 9}, {10, 4}, {3, 3}, {1, 4}};
    const int32_t traces = 77, planes = 2;
    const Order orders[] = {Order::kSamplesInner, Order::kTracesInner, Order::kPlanesInner};
    const std::vector<SimdPath> paths = Paths();
    uint32_t h = 99;
    auto check = [&](int32_t ni, int32_t no, int kind, int axis) {
        // axis 0: traces of ni samples; axis 1: 1100 sample positions across ni traces
        const int32_t lines = axis == 0 ? traces : 1100;
        for (Order inOrder : orders) {
            for (Order outOrder : orders) {
                MeboDataPtr in =
                    axis == 0 ? MakeView(ni, lines, planes, inOrder) : MakeView(lines, ni, planes, inOrder);
                MeboDataPtr out =
                    axis == 0 ? MakeView(no, lines, planes, outOrder) : MakeView(lines, no, planes, outOrder);
                std::vector<Line> x(lines * planes, Line(ni));
                for (int32_t p = 0; p < planes; ++p)
                    for (int32_t l = 0; l < lines; ++l)
                        for (int32_t j = 0; j < ni; ++j) {
                            const int16_t v = Noise(h);
                            x[p * lines + l][j] = v;
                            axis == 0 ? Put(in, j, l, p, v) : Put(in, l, j, p, v);
                        }
                std::vector<Line> want(lines * planes);
                for (size_t k = 0; k < want.size(); ++k) {
                    want[k] = kind == 0   ? RefMinMax(x[k], no)
                              : kind == 1 ? RefDecimation(x[k], no)
                                          : RefAverage(x[k], no);
                    want[k].resize(no, 4242);
                }
                for (SimdPath path : paths) {
                    for (int32_t p = 0; p < planes; ++p)
                        for (int32_t l = 0; l < lines; ++l)
                            for (int32_t o = 0; o < no; ++o)
                                axis == 0 ? Put(out, o, l, p, 4242) : Put(out, l, o, p, 4242);
                    const int code = kind == 0   ? vantir3::MinMaxReduction(out, in, path)
                                     : kind == 1 ? vantir3::Decimation(out, in)
                                                 : vantir3::AverageReduction(out, in, axis, path);
                    ASSERT_EQ(code, 0);
                    for (int32_t p = 0; p < planes; ++p) {
                        for (int32_t l = 0; l < lines; ++l) {
                            Line got;
                            for (int32_t o = 0; o < no; ++o)
                                got.push_back(axis == 0 ? SampleAt(out, o, l, p) : SampleAt(out, l, o, p));
                            ASSERT_EQ(got, want[p * lines + l])
                                << "kind " << kind << " axis " << axis << " ni " << ni << " no " << no
                                << " line " << l << " plane " << p << " orders " << int(inOrder)
                                << int(outOrder) << " path " << int(path);
                        }
                    }
                }
                Release({&in, &out});
            }
        }
    };
    for (const Case& c : cases) {
        check(c.ni, c.no, 0, 0);
        check(c.ni, c.no, 1, 0);
        check(c.ni, c.no, 2, 0);
        check(c.ni, c.no, 2, 1);
    }
    for (const Case& c : averageOnly) {
        check(c.ni, c.no, 2, 0);
        check(c.ni, c.no, 2, 1);
    }
}

}  // namespace
