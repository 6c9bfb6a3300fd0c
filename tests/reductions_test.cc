#include "vantir3/processes/reductions.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/simd_targets.h"
#include "tests/support/trace_checks.h"
#include "vantir3/framework/toolbox.h"

namespace {

using namespace vantir3_test;
using Line = std::vector<int16_t>;
enum Kind { kMinMax, kDecimation, kAverage, kAverageAcross };

// One line reduced to no samples through the entry points; places the
// reduction leaves unwritten keep 4242.
Line Reduce(Kind kind, const Line& x, int32_t no, int status = 0) {
    Owned in = Row(x), out = Row(Line(no, 4242));
    CCdpProcessToolbox toolbox;
    EXPECT_EQ(kind == kMinMax       ? CCdpProcessToolbox::CdpMinMaxReduction(out.b, in.b)
              : kind == kDecimation ? toolbox.CdpDecimation(out.b, in.b)
                                    : CCdpProcessToolbox::CdpAverageReduction(out.b, in.b, 0),
              status);
    return Samples(out.b);
}

// The rounded mean of a group, halves away from zero.
int16_t RoundedMean(int64_t sum, int64_t n) {
    return static_cast<int16_t>(sum >= 0 ? (sum + n / 2) / n : (sum - n / 2) / n);
}

// Traces of two groups of n samples each, reduced to their two rounded means
// on every instruction set.
void ExpectPairMeans(int32_t n, int32_t traces, const TraceValue& value) {
    Owned in = MakeBuffer(0, 2 * n - 1, 0, traces - 1, 0, 0, value), out = Filled(2, traces, 1, 0);
    ForEachSimdTarget([&] {
        ASSERT_EQ(vantir3::AverageReduction(out.b, in.b, 0), 0);
        for (int32_t t = 0; t < traces; ++t) {
            int64_t sum[2] = {0, 0};
            for (int32_t i = 0; i < 2 * n; ++i) sum[i / n] += value(i, t, 0);
            ASSERT_EQ(Samples(out.b, t), (Line{RoundedMean(sum[0], n), RoundedMean(sum[1], n)}))
                << "group " << n << " trace " << t;
        }
    });
}

TEST(Reductions, MinMaxKeepsExtremesInTimeOrderAndDecimationPicksSamples) {
    EXPECT_EQ(Reduce(kMinMax, {0, 5, -3, 2, 9, -7}, 2), (Line{9, -7}));
    EXPECT_EQ(Reduce(kMinMax, {0, 5, -3, 2, 9, -7}, 3), (Line{5, -3, 9}));
    EXPECT_EQ(Reduce(kMinMax, Line(4, -32768), 2), (Line{-32767, -32768}));
    const Line x = {3, -8, 7, 1, -2, 9, -5, 4, 0};
    EXPECT_EQ(Reduce(kMinMax, x, 5), (Line{-8, 7, 9, -5, 0}));  // the odd last segment keeps one sample
    EXPECT_EQ(Reduce(kMinMax, x, 8), (Line{-8, 7, 1, -2, 9, -5, 4, 0}));
    EXPECT_EQ(Reduce(kMinMax, Line(6, 7), 6, -1), Line(6, 4242));  // R <= 1: nothing to reduce
    const Line ten = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90};
    EXPECT_EQ(Reduce(kDecimation, ten, 4), (Line{0, 30, 50, 80}));
    EXPECT_EQ(Reduce(kDecimation, x, 8), (Line{3, 7, 1, -2, 9, -5, 4, 0}));
    EXPECT_EQ(Reduce(kDecimation, ten, 10, -1), Line(10, 4242));
    // The per-call tables: segment ends (pairs, and a single for odd counts),
    // picked indices and group ends.
    vantir3::MinMaxSegment seg[10];
    ASSERT_EQ(vantir3::MinMaxSegments(21, 19, 21.0 / 19, seg, 10), 10);
    EXPECT_EQ(std::make_pair(seg[4].end, seg[9].end), std::make_pair(12, 21));
    EXPECT_TRUE(seg[8].pair && !seg[9].pair);
    using Ints = std::vector<int32_t>;
    int32_t t[10];
    ASSERT_EQ(vantir3::DecimationIndices(100, 7, 100.0 / 7, t, 7), 7);
    EXPECT_EQ(Ints(t, t + 7), (Ints{0, 15, 29, 43, 58, 72, 86}));
    ASSERT_EQ(vantir3::AverageGroupEnds(10, 4, 2.5, t, 4), 4);  // groups of 2, 3, 2, 3
    EXPECT_EQ(Ints(t, t + 4), (Ints{2, 5, 7, 10}));
    ASSERT_EQ(vantir3::AverageGroupEnds(32, 10, 3.2, t, 10), 10);
    EXPECT_EQ(Ints(t, t + 10), (Ints{3, 6, 10, 13, 16, 19, 22, 26, 29, 32}));
}

TEST(Reductions, AverageRoundsHalvesAwayFromZeroAndCarriesTheFraction) {
    EXPECT_EQ(Reduce(kAverage, {1, 2, 3, 4, 5, 6}, 2), (Line{2, 5}));
    EXPECT_EQ(Reduce(kAverage, {-1, -2}, 1), (Line{-2}));
    // Groups of 2, 3, 2, 2 samples; for more outputs than inputs, groups of
    // 1, 2, 1, 1, 1, 2, 1 and the rest left alone.
    const Line x = {3, -8, 7, 1, -2, 9, -5, 4, 0};
    EXPECT_EQ(Reduce(kAverage, x, 4), (Line{-3, 2, 2, 2}));
    EXPECT_EQ(Reduce(kAverage, x, 12), (Line{3, -1, 1, -2, 9, -1, 0, 4242, 4242, 4242, 4242, 4242}));
    // Group sums that would not fit 32 bits are refused: R * 32767 > 2^31 - 1.
    // At the limit a group of -32768 samples still averages exactly.
    Owned longIn = Filled(70000, 1, 1, 1), deep = Filled(65538, 1, 1, -32768), single = Row({5});
    EXPECT_EQ(CCdpProcessToolbox::CdpAverageReduction(single.b, longIn.b, 0), -6);
    EXPECT_EQ(Samples(single.b), (Line{5}));
    EXPECT_EQ(CCdpProcessToolbox::CdpAverageReduction(single.b, deep.b, 0), 0);
    EXPECT_EQ(Samples(single.b), (Line{-32768}));
    // Groups of 65535 samples (the longest that vector lanes sum) at the ends
    // of the sample range; 40 traces fill a vector of lines and leave a tail.
    ExpectPairMeans(65535, 40, [](int32_t i, int32_t t, int32_t) -> int16_t {
        const int16_t v[] = {-32768, 32767, static_cast<int16_t>(i % 2 ? 32767 : -32768),
                             static_cast<int16_t>((i * 7919) % 65536 - 32768)};
        return v[t % 4];
    });
    // Groups whose rounded mean is an exact quotient, (|sum| + n / 2) = k * n,
    // for means k just below powers of two, where a reciprocal of n rounded
    // down would lose one.
    const int16_t means[] = {32767, 16383, 8191, 4095, 2047, 1023, 511, 255};
    for (int32_t size = 2; size <= 70; ++size)
        ExpectPairMeans(size, 48, [&](int32_t i, int32_t t, int32_t) {
            return static_cast<int16_t>(((t / 8) % 2 ? -1 : 1) * (means[t % 8] - (i % size < size / 2 ? 1 : 0)));
        });
}

TEST(Reductions, NarrowsMatchedAxesAndReportsFailures) {
    Owned in = MakeBuffer(0, 39, 50, 149, 0, 0, [](int32_t i, int32_t t, int32_t) { return int16_t(i + 100 * t); });
    Owned out = Filled(10, 100, 1, -1), keep;
    MeboDataPtrShare(&keep.b, &out.b);
    EXPECT_EQ(vantir3::Decimation(out.b, in.b), 1);
    EXPECT_EQ(std::make_pair(out.b.axis.dim[1].min, out.b.axis.dim[1].max), std::make_pair(50, 99));
    EXPECT_EQ(SampleAt(out.b, 1, 60), 4 + 6000);
    EXPECT_EQ(SampleAt(keep.b, 1, 49), -1);  // outside the input: untouched
    // Along traces the matched axes are samples and planes.
    Owned across = MakeBuffer(30, 49, 0, 9, 0, 0, [](int32_t, int32_t, int32_t) { return 0; });
    EXPECT_EQ(vantir3::AverageReduction(across.b, in.b, 1), 1);
    const MeboAxisDim* d = across.b.axis.dim;
    EXPECT_EQ(std::vector<int32_t>({d[0].min, d[0].max, d[1].min, d[1].max}), (std::vector<int32_t>{30, 39, 0, 9}));
    EXPECT_EQ(SampleAt(across.b, 32, 0), 32 + 5450);  // mean of traces 50 .. 59
    // A third axis; no common traces; element sizes that differ, or are
    // equal but not 16-bit.
    Owned far = MakeBuffer(0, 9, 500, 509, 0, 0, [](int32_t, int32_t, int32_t) { return 0; }), empty;
    Owned wide = Zeroed(4, 40, 100), wideOut = Zeroed(4, 10, 100);
    EXPECT_EQ(std::vector<int>({vantir3::AverageReduction(across.b, in.b, 2), vantir3::MinMaxReduction(far.b, in.b),
                                vantir3::MinMaxReduction(empty.b, in.b), vantir3::AverageReduction(wideOut.b, in.b, 0),
                                vantir3::AverageReduction(wideOut.b, wide.b, 0)}),
              (std::vector<int>{-1, -2, -3, -3, -3}));
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

// Every reduction gives the same samples on contiguous and strided layouts
// and on every instruction set, those of the rule applied to each line alone
// (a single line takes no vector kernel); places it leaves unwritten keep
// theirs. The cases include groups and picks of 2, 3, 4, 8, 16 and 32
// samples, segments of several 8-sample tiles, lines that fill no whole
// block of lines, and lengths shorter than a vector.
TEST(Reductions, EveryLayoutAndPathGivesTheSameSamples) {
    struct Case { int32_t ni, no; bool averageOnly; };
    const Case cases[] = {{1024, 256, false}, {21, 19, false}, {100, 7, false}, {50, 1, false}, {9, 8, false},
                          {1000, 333, false}, {17, 16, false}, {5, 9, true},   {10, 4, true},  {3, 3, true},
                          {1, 4, true},       {1024, 512, false}, {96, 32, false}, {1000, 125, true}, {97, 6, true},
                          {96, 3, true}, {64, 4, false}, {48, 3, true}, {1024, 64, false}, {200, 49, false}};
    const int32_t planes = 2;
    for (const Case& c : cases) {
        for (int kind = c.averageOnly ? kAverage : kMinMax; kind <= kAverageAcross; ++kind) {
            const int axis = kind == kAverageAcross ? 1 : 0;
            const int32_t lines = axis == 0 ? 77 : 1100;
            // Sample j of line k, along the reduced axis.
            auto put = [&](MeboDataPtr& b, int32_t j, int32_t k, int16_t v) {
                axis == 0 ? PutSample(b, j, k % lines, k / lines, v) : PutSample(b, k % lines, j, k / lines, v);
            };
            auto get = [&](const MeboDataPtr& b, int32_t j, int32_t k) {
                return axis == 0 ? SampleAt(b, j, k % lines, k / lines) : SampleAt(b, k % lines, j, k / lines);
            };
            std::vector<Line> want;
            for (int inOrder = 0; inOrder < 3; ++inOrder) {
                Owned in = axis ? MakeView(lines, c.ni, planes, inOrder) : MakeView(c.ni, lines, planes, inOrder);
                uint32_t h = 99;  // full-range noise, one sample in eight at an end of the range
                for (int32_t k = 0; k < lines * planes; ++k)
                    for (int32_t j = 0; j < c.ni; ++j) {
                        h = h * 1664525u + 1013904223u;
                        put(in.b, j, k, h % 16 == 0 ? -32768 : h % 16 == 1 ? 32767 : static_cast<int16_t>(h >> 16));
                    }
                for (int outOrder = 0; outOrder < 3; ++outOrder) {
                    Owned out =
                        axis ? MakeView(lines, c.no, planes, outOrder) : MakeView(c.no, lines, planes, outOrder);
                    if (want.empty()) {
                        for (int32_t k = 0; k < lines * planes; ++k) {
                            Line x;
                            for (int32_t j = 0; j < c.ni; ++j) x.push_back(get(in.b, j, k));
                            want.push_back(Reduce(kind == kAverageAcross ? kAverage : Kind(kind), x, c.no));
                        }
                    }
                    ForEachSimdTarget([&] {
                        for (int32_t k = 0; k < lines * planes; ++k)
                            for (int32_t o = 0; o < c.no; ++o) put(out.b, o, k, 4242);
                        ASSERT_EQ(kind == kMinMax       ? vantir3::MinMaxReduction(out.b, in.b)
                                  : kind == kDecimation ? vantir3::Decimation(out.b, in.b)
                                                        : vantir3::AverageReduction(out.b, in.b, axis),
                                  0);
                        std::vector<Line> got(lines * planes);
                        for (int32_t k = 0; k < lines * planes; ++k)
                            for (int32_t o = 0; o < c.no; ++o) got[k].push_back(get(out.b, o, k));
                        for (int32_t k = 0; k < lines * planes; ++k)
                            ASSERT_EQ(got[k], want[k]) << "kind " << kind << " ni " << c.ni << " no " << c.no
                                                       << " line " << k << " orders " << inOrder << outOrder;
                    });
                }
            }
        }
    }
}

}  // namespace
