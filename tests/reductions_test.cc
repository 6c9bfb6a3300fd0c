#include "vantir3/processes/reductions.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "tests/support/trace_checks.h"
#include "vantir3/framework/toolbox.h"

namespace {

using namespace vantir3_test;
using vantir3::SimdPath;
using Line = std::vector<int16_t>;

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

// A buffer viewed as (samples, traces, planes) over storage with samples,
// traces or planes innermost, so that the reductions meet contiguous
// samples, contiguous traces, or neither.
MeboDataPtr MakeView(int32_t s, int32_t t, int32_t p, int order) {
    if (order == 0) return Zeroed(2, s, t, p);
    MeboDataPtr b = order == 1 ? Zeroed(2, t, s, p) : Zeroed(2, p, s, t);
    MeboDataPtrSwapAxes(&b, 0, 1);
    if (order == 2) MeboDataPtrSwapAxes(&b, 1, 2);  // samples, planes, traces -> samples, traces, planes
    return b;
}

int16_t Noise(uint32_t& h) {
    h = h * 1664525u + 1013904223u;
    const uint32_t k = h >> 16;
    return k % 16 == 0 ? -32768 : k % 16 == 1 ? 32767 : static_cast<int16_t>(k);
}

// ---- Worked examples ----------------------------------------------------------

TEST(Reductions, MinMaxKeepsExtremesInTimeOrderAndDecimationPicksSamples) {
    Owned in = Row({0, 5, -3, 2, 9, -7}), two = Row({0, 0}), three = Row({0, 0, 0});
    EXPECT_EQ(CCdpProcessToolbox::CdpMinMaxReduction(two.b, in.b), 0);
    EXPECT_EQ(Samples(two.b), (Line{9, -7}));
    EXPECT_EQ(CCdpProcessToolbox::CdpMinMaxReduction(three.b, in.b), 0);
    EXPECT_EQ(Samples(three.b), (Line{5, -3, 9}));
    Owned floor = Row(Line(4, -32768));
    EXPECT_EQ(CCdpProcessToolbox::CdpMinMaxReduction(two.b, floor.b), 0);
    EXPECT_EQ(Samples(two.b), (Line{-32767, -32768}));
    // Nothing to reduce: R <= 1, output untouched.
    Owned same = Row(Line(6, 7));
    EXPECT_EQ(CCdpProcessToolbox::CdpMinMaxReduction(same.b, in.b), -1);
    EXPECT_EQ(Samples(same.b), Line(6, 7));

    Line x;
    for (int i = 0; i < 10; ++i) x.push_back(static_cast<int16_t>(10 * i));
    Owned ten = Row(x), four = Row(Line(4, 0)), notLess = Row(Line(10, -1));
    CCdpProcessToolbox toolbox;
    EXPECT_EQ(toolbox.CdpDecimation(four.b, ten.b), 0);
    EXPECT_EQ(Samples(four.b), (Line{0, 30, 50, 80}));
    EXPECT_EQ(toolbox.CdpDecimation(notLess.b, ten.b), -1);
    EXPECT_EQ(Samples(notLess.b), Line(10, -1));
}

TEST(Reductions, AverageRoundsHalvesAwayFromZeroAndCarriesTheFraction) {
    Owned in = Row({1, 2, 3, 4, 5, 6}), two = Row({0, 0}), neg = Row({-1, -2}), one = Row({0});
    EXPECT_EQ(CCdpProcessToolbox::CdpAverageReduction(two.b, in.b, 0), 0);
    EXPECT_EQ(Samples(two.b), (Line{2, 5}));
    EXPECT_EQ(CCdpProcessToolbox::CdpAverageReduction(one.b, neg.b, 0), 0);
    EXPECT_EQ(Samples(one.b), (Line{-2}));
    auto sizes = [](int32_t ni, int32_t no) {
        std::vector<int32_t> end(no);
        end.resize(vantir3::AverageGroupEnds(ni, no, static_cast<double>(ni) / no, end.data(), no));
        Line size;
        for (size_t g = 0; g < end.size(); ++g) size.push_back(static_cast<int16_t>(end[g] - (g ? end[g - 1] : 0)));
        return size;
    };
    EXPECT_EQ(sizes(10, 4), (Line{2, 3, 2, 3}));
    EXPECT_EQ(sizes(32, 10), (Line{3, 3, 4, 3, 3, 3, 3, 4, 3, 3}));

    // Group sums that would not fit 32 bits are refused: R * 32767 > 2^31 - 1.
    // At the limit a group of -32768 samples still averages exactly.
    Owned longIn = Filled(70000, 1, 1, 1), deep = Filled(65538, 1, 1, -32768), single = Row({5});
    EXPECT_EQ(CCdpProcessToolbox::CdpAverageReduction(single.b, longIn.b, 0), -6);
    EXPECT_EQ(Samples(single.b), (Line{5}));
    EXPECT_EQ(CCdpProcessToolbox::CdpAverageReduction(single.b, deep.b, 0), 0);
    EXPECT_EQ(Samples(single.b), (Line{-32768}));

    // Groups of 65535 samples (the longest that vector lanes sum) at the ends
    // of the sample range, on every path; 40 traces fill a vector of lines
    // and leave a tail.
    const int32_t n = 65535, traces = 40;
    auto extreme = [](int32_t i, int32_t t, int32_t) -> int16_t {
        const int16_t v[] = {-32768, 32767, static_cast<int16_t>(i % 2 ? 32767 : -32768),
                             static_cast<int16_t>((i * 7919) % 65536 - 32768)};
        return v[t % 4];
    };
    Owned wide = MakeBuffer(0, 2 * n - 1, 0, traces - 1, 0, 0, extreme), halves = Filled(2, traces, 1, 0);
    for (SimdPath path : Paths()) {
        ASSERT_EQ(vantir3::AverageReduction(halves.b, wide.b, 0, path), 0);
        for (int32_t t = 0; t < traces; ++t)
            ASSERT_EQ(Samples(halves.b, t), RefAverage(Samples(wide.b, t), 2)) << "trace " << t << " " << int(path);
    }
    // Groups whose rounded mean is an exact quotient, (|sum| + n / 2) = k * n,
    // for means k just below powers of two, where a reciprocal of n rounded
    // down would lose one.
    const int16_t means[] = {32767, 16383, 8191, 4095, 2047, 1023, 511, 255};
    for (int32_t size = 2; size <= 70; ++size) {
        auto value = [&](int32_t i, int32_t t, int32_t) {
            return static_cast<int16_t>(((t / 8) % 2 ? -1 : 1) * (means[t % 8] - (i % size < size / 2 ? 1 : 0)));
        };
        Owned groups = MakeBuffer(0, 2 * size - 1, 0, 47, 0, 0, value), pair = Filled(2, 48, 1, 0);
        for (SimdPath path : Paths()) {
            ASSERT_EQ(vantir3::AverageReduction(pair.b, groups.b, 0, path), 0);
            for (int32_t t = 0; t < 48; ++t) {
                const int16_t k = static_cast<int16_t>(((t / 8) % 2 ? -1 : 1) * means[t % 8]);
                ASSERT_EQ(Samples(pair.b, t), (Line{k, k})) << "size " << size << " trace " << t;
            }
        }
    }
}

TEST(Reductions, NarrowsMatchedAxesAndReportsFailures) {
    auto value = [](int32_t i, int32_t t, int32_t) { return static_cast<int16_t>(i + 100 * t); };
    Owned in = MakeBuffer(0, 39, 50, 149, 0, 0, value);
    Owned out = MakeBuffer(0, 9, 0, 99, 0, 0, [](int32_t, int32_t, int32_t) { return -1; }), keep;
    MeboDataPtrShare(&keep.b, &out.b);
    EXPECT_EQ(vantir3::Decimation(out.b, in.b), 1);
    EXPECT_EQ(out.b.axis.dim[1].min, 50);
    EXPECT_EQ(out.b.axis.dim[1].max, 99);
    EXPECT_EQ(SampleAt(out.b, 1, 60), 4 + 6000);
    EXPECT_EQ(SampleAt(keep.b, 1, 49), -1);  // outside the input: untouched
    // Along traces the matched axes are samples and planes.
    Owned across = MakeBuffer(30, 49, 0, 9, 0, 0, [](int32_t, int32_t, int32_t) { return 0; });
    EXPECT_EQ(vantir3::AverageReduction(across.b, in.b, 1), 1);
    EXPECT_EQ(across.b.axis.dim[0].min, 30);
    EXPECT_EQ(across.b.axis.dim[0].max, 39);
    EXPECT_EQ(across.b.axis.dim[1].max, 9);
    EXPECT_EQ(SampleAt(across.b, 32, 0), 32 + 5450);  // mean of traces 50 .. 59
    EXPECT_EQ(vantir3::AverageReduction(across.b, in.b, 2), -1);

    Owned far = MakeBuffer(0, 9, 500, 509, 0, 0, [](int32_t, int32_t, int32_t) { return 0; }), empty;
    EXPECT_EQ(vantir3::MinMaxReduction(far.b, in.b), -2);
    EXPECT_EQ(vantir3::MinMaxReduction(empty.b, in.b), -3);
    Owned wide, wideOut;
    MeboDataPtrAllocate(&wide.b, 4, 0, 39, 50, 149, 0, 0, 1);
    MeboDataPtrAllocate(&wideOut.b, 4, 0, 9, 50, 149, 0, 0, 1);
    EXPECT_EQ(vantir3::AverageReduction(wideOut.b, in.b, 0), -3);
    EXPECT_EQ(vantir3::AverageReduction(wideOut.b, wide.b, 0), -3);  // equal, but not 16-bit
}

// Every reduction, on contiguous and strided layouts (which take different
// paths through the code) and with every instruction-set variant, gives
// exactly the literal per-line rule; output places the rule leaves unwritten
// keep their value.
TEST(Reductions, AllLayoutsMatchTheLineRule) {
    struct Case {
        int32_t ni, no;
        bool averageOnly;
    };
    const Case cases[] = {{1024, 256, false}, {21, 19, false}, {100, 7, false}, {50, 1, false}, {9, 8, false},
                          {1000, 333, false}, {17, 16, false}, {5, 9, true},   {10, 4, true},
                          {3, 3, true},       {1, 4, true}};
    const int32_t traces = 77, planes = 2;
    uint32_t h = 99;
    for (const Case& c : cases) {
        for (int kind = c.averageOnly ? 2 : 0; kind < 4; ++kind) {  // min/max, decimation, average per trace, across
            const int axis = kind == 3 ? 1 : 0;
            const int32_t lines = axis == 0 ? traces : 1100, ni = c.ni, no = c.no;
            for (int inOrder = 0; inOrder < 3; ++inOrder) {
                for (int outOrder = 0; outOrder < 3; ++outOrder) {
                    Owned in = axis ? MakeView(lines, ni, planes, inOrder) : MakeView(ni, lines, planes, inOrder);
                    Owned out = axis ? MakeView(lines, no, planes, outOrder) : MakeView(no, lines, planes, outOrder);
                    std::vector<Line> want(lines * planes, Line(ni));
                    for (int32_t k = 0; k < lines * planes; ++k) {
                        for (int32_t j = 0; j < ni; ++j) {
                            want[k][j] = Noise(h);
                            axis == 0 ? PutSample(in.b, j, k % lines, k / lines, want[k][j])
                                      : PutSample(in.b, k % lines, j, k / lines, want[k][j]);
                        }
                        want[k] = kind == 0 ? RefMinMax(want[k], no)
                                  : kind == 1 ? RefDecimation(want[k], no) : RefAverage(want[k], no);
                        want[k].resize(no, 4242);
                    }
                    for (SimdPath path : Paths()) {
                        for (int32_t k = 0; k < lines * planes; ++k)
                            for (int32_t o = 0; o < no; ++o)
                                axis == 0 ? PutSample(out.b, o, k % lines, k / lines, 4242)
                                          : PutSample(out.b, k % lines, o, k / lines, 4242);
                        ASSERT_EQ(kind == 0   ? vantir3::MinMaxReduction(out.b, in.b, path)
                                  : kind == 1 ? vantir3::Decimation(out.b, in.b)
                                              : vantir3::AverageReduction(out.b, in.b, axis, path),
                                  0);
                        for (int32_t k = 0; k < lines * planes; ++k) {
                            Line got;
                            for (int32_t o = 0; o < no; ++o)
                                got.push_back(axis == 0 ? SampleAt(out.b, o, k % lines, k / lines)
                                                        : SampleAt(out.b, k % lines, o, k / lines));
                            ASSERT_EQ(got, want[k]) << "kind " << kind << " ni " << ni << " no " << no << " line "
                                                    << k << " orders " << inOrder << outOrder << " path " << int(path);
                        }
                    }
                }
            }
        }
    }
}

}  // namespace
