#include "vantir3/numeric/statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "tests/support/test_source.h"

namespace {

using vantir3_test::Owned;
using vantir3_test::ProfileSample;
using Stats = SCDPPrc_DataStatsMode;

template <typename T>
T* At(const MeboDataPtr& b, int i0, int i1, int i2) {
    const Mebo3DDataAxis& a = b.axis;
    return reinterpret_cast<T*>(a.base + (i0 - a.dim[0].min) * a.dim[0].stride +
                                (i1 - a.dim[1].min) * a.dim[1].stride + (i2 - a.dim[2].min) * a.dim[2].stride);
}

// n0 x n1 x n2 samples from f, indices from 0.
MeboDataPtr Fill16(int n0, int n1, int n2, const std::function<int16_t(int32_t, int32_t, int32_t)>& f) {
    return vantir3_test::MakeBuffer(0, n0 - 1, 0, n1 - 1, 0, n2 - 1, f);
}

Stats Init(uint8_t mode, uint8_t numExtremes = 0, MeboDataPtr* index = nullptr) {
    Stats s;
    SCDPPrc_InitStats(&s);
    s.mode = mode;
    s.numExtremes = numExtremes;
    s.indexStats = index;
    return s;
}

// The records of an index-statistics buffer; each has a null pointer slot.
std::vector<Stats> Records(const MeboDataPtr& index) {
    std::vector<Stats> out;
    const Mebo3DDataAxis& a = index.axis;
    EXPECT_EQ(a.elemSize, static_cast<int32_t>(sizeof(Stats)));
    if (a.elemSize != static_cast<int32_t>(sizeof(Stats)) || a.base == nullptr) return out;
    for (int j = a.dim[0].min; j <= a.dim[0].max; ++j) {
        out.emplace_back();
        std::memcpy(&out.back(), At<uint8_t>(index, j, a.dim[1].min, a.dim[2].min), sizeof(Stats));
        EXPECT_EQ(out.back().indexStats, nullptr);
    }
    return out;
}

// count, minimum, maximum and sum.
std::vector<double> Fields(const Stats& s) { return {double(s.count), s.minValue, s.maxValue, s.sum}; }

const int kTraceWalk[3] = {0, 2, 1};   // compute_stats: samples, planes, traces innermost
const int kSampleWalk[3] = {0, 1, 2};  // sample_stats: samples, traces, planes innermost

// The per-value definition of count/min/max/sum, walked over the view in
// `order` (outermost first), whole and per index along `axis`.
struct Reference {
    Stats all;
    std::vector<Stats> per;
    Reference(const MeboDataPtr& b, int axis, const int order[3], double startSum = 0) {
        all = Init(STATS_MINMAX | STATS_SUM);
        all.sum = startSum;
        const MeboAxisDim* d = b.axis.dim;
        per.assign(d[axis].max - d[axis].min + 1, all);
        int i[3];
        for (i[order[0]] = d[order[0]].min; i[order[0]] <= d[order[0]].max; ++i[order[0]])
            for (i[order[1]] = d[order[1]].min; i[order[1]] <= d[order[1]].max; ++i[order[1]])
                for (i[order[2]] = d[order[2]].min; i[order[2]] <= d[order[2]].max; ++i[order[2]]) {
                    const double v = *At<int16_t>(b, i[0], i[1], i[2]);
                    for (Stats* s : {&all, &per[i[axis] - d[axis].min]}) {
                        ++s->count;
                        if (v <= s->minValue) s->minValue = v;
                        if (v >= s->maxValue) s->maxValue = v;
                        s->sum += v;
                    }
                }
    }
};

// Gathers per trace (compute_stats) or per sample (sample_stats).
void Gather(bool perSample, MeboDataPtr& data, Stats& s) {
    if (perSample) return CDPPrc_sample_stats(&s, &data);
    EXPECT_EQ(CDPPrc_compute_stats(&data, nullptr, &s), 1);
}

// Both gatherings, whole and per index, against the definition.
void ExpectMatchesDefinition(MeboDataPtr& data) {
    for (bool perSample : {false, true}) {
        SCOPED_TRACE(perSample ? "sample_stats" : "compute_stats");
        Owned index;
        Stats s = Init(STATS_MINMAX | STATS_SUM, 0, &index.b);
        Gather(perSample, data, s);
        const Reference ref(data, perSample ? 0 : 1, perSample ? kSampleWalk : kTraceWalk);
        EXPECT_EQ(Fields(s), Fields(ref.all));
        EXPECT_EQ(s.indexStats, &index.b);
        const std::vector<Stats> recs = Records(index.b);
        ASSERT_EQ(recs.size(), ref.per.size());
        for (size_t j = 0; j < recs.size(); ++j) EXPECT_EQ(Fields(recs[j]), Fields(ref.per[j])) << j;
    }
}

TEST(StatisticsTest, InitAccumulateAndExtremesLists) {
    Stats s;
    std::memset(&s, 0x5a, sizeof s);
    SCDPPrc_InitStats(&s);
    EXPECT_EQ(s.mode + s.numExtremes + s.count + s.sum, 0);
    EXPECT_EQ(std::vector<double>({s.minValue, s.maxValue, s.lowExtreme, s.highExtreme}),
              std::vector<double>({DBL_MAX, -DBL_MAX, DBL_MAX, -DBL_MAX}));
    CDPPrc_accumulate_stat(4.0, &s);  // mode 0: not even the count
    EXPECT_EQ(s.count, 0u);
    s.mode = 0x02;  // no meaning: counts only
    CDPPrc_accumulate_stat(7.0, &s);
    EXPECT_EQ(s.count, 1u);
    EXPECT_EQ(s.sum + s.minValue, DBL_MAX);
    // Finishing copies working record 0 back and stores records 1..n with
    // null slots; the extremes lists themselves are checked through the
    // gathering walks below.
    const Stats tmpl = Init(STATS_EXTREMES, 3);
    Stats* work = CDPPrc_create_work_stats(&tmpl, 2);
    ASSERT_NE(work, nullptr);
    ASSERT_TRUE(work[1].indexStats != nullptr && work[1].indexStats != work[0].indexStats);
    for (double v : {5, 1, 9, 7}) CDPPrc_accumulate_stat(v, &work[1]);
    EXPECT_EQ(std::make_pair(work[1].lowExtreme, work[1].highExtreme), std::make_pair(7.0, 5.0));
    EXPECT_EQ(work[0].count, 0u);  // copies are independent
    Owned index;
    Stats result = Init(STATS_EXTREMES, 3, &index.b);
    CDPPrc_finish_stats(&result, work, 2);
    EXPECT_EQ(result.indexStats, &index.b);
    std::vector<Stats> recs = Records(index.b);
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(std::make_pair(recs[0].count, recs[0].lowExtreme), std::make_pair(4u, 7.0));
    CDPPrc_free_work_stats(work, 2);
    // A slot holding something that is not a list of doubles is never
    // written through; null and negative arguments are refused.
    Stats bogus = Init(STATS_EXTREMES, 4, &index.b);
    CDPPrc_accumulate_stat(1, &bogus);
    EXPECT_EQ(bogus.lowExtreme, DBL_MAX);
    EXPECT_EQ(CDPPrc_create_work_stats(nullptr, 3), nullptr);
    EXPECT_EQ(CDPPrc_create_work_stats(&tmpl, -1), nullptr);
    CDPPrc_store_index_stats(&index.b, nullptr, 2);
    EXPECT_EQ(Records(index.b).size(), 2u);
}

// Dense, transposed (strided) and narrowed views, with both ends of the
// sample range, against the definition.
TEST(StatisticsTest, GatheringMatchesDefinitionInEveryView) {
    Owned data = Fill16(37, 4, 2, ProfileSample);
    *At<int16_t>(data.b, 5, 2, 1) = -32768;
    *At<int16_t>(data.b, 6, 3, 0) = 32767;
    ExpectMatchesDefinition(data.b);
    // A second walk without InitStats continues count and sum; mode 0 gathers
    // nothing but still produces the per-trace records.
    Owned index;
    Stats s = Init(STATS_MINMAX, 0, &index.b), none = Init(0, 0, &index.b);
    CDPPrc_compute_stats(&data.b, nullptr, &s);
    CDPPrc_compute_stats(&data.b, nullptr, &s);
    EXPECT_EQ(s.count, 2u * 37u * 4u * 2u);
    EXPECT_EQ(std::vector<int>(data.b.idx, data.b.idx + 3), (std::vector<int>{36, 0, 1}));  // last trace start
    CDPPrc_compute_stats(&data.b, nullptr, &none);
    EXPECT_EQ(none.count, 0u);
    ASSERT_EQ(Records(index.b).size(), 4u);
    EXPECT_EQ(Records(index.b)[3].minValue, DBL_MAX);
    Owned stored = Fill16(21, 33, 1, [](int32_t t, int32_t i, int32_t p) { return ProfileSample(i, t, p); });
    ASSERT_EQ(MeboDataPtrSwapAxes(&stored.b, 0, 1), 1);
    ExpectMatchesDefinition(stored.b);
    // Views narrowed inside larger storage: one sample per trace (no
    // contiguous axis left), and an interior block.
    Owned big = Fill16(6, 10, 3, ProfileSample);
    for (const auto& c : {std::vector<int>{2, 2, 0, 9}, std::vector<int>{1, 4, 3, 7}}) {
        Owned view;
        ASSERT_EQ(MeboDataPtrShare(&view.b, &big.b), 1);
        Mebo3DDataAxis req = MeboDataPtrGetAxis(&big.b);
        req.dim[0] = {req.dim[0].stride, c[0], c[1]};
        req.dim[1] = {req.dim[1].stride, c[2], c[3]};
        ASSERT_EQ(MeboDataPtrSetView(&view.b, &req, 0), 1);
        ExpectMatchesDefinition(view.b);
    }
}

TEST(StatisticsTest, SummationAndExtremesOrder) {
    // With a start sum where every addition rounds, only the documented walk
    // order gives the documented sum.
    Owned data = Fill16(37, 4, 2, ProfileSample);
    const int reversed[3] = {2, 1, 0};
    for (bool perSample : {false, true}) {
        Stats s = Init(STATS_SUM);
        s.sum = 1e16;
        const Reference want(data.b, 0, perSample ? kSampleWalk : kTraceWalk, 1e16);
        ASSERT_NE(want.all.sum, Reference(data.b, 0, reversed, 1e16).all.sum);
        Gather(perSample, data.b, s);
        EXPECT_EQ(s.sum, want.all.sum) << perSample;
    }
    // Extremes from fresh InitStats are the N-th smallest / largest values,
    // of the whole buffer and of each sample index.
    std::vector<double> values, col;
    for (int i = 0; i < 37 * 4 * 2; ++i) values.push_back(*At<int16_t>(data.b, i % 37, i / 37 % 4, i / 148));
    for (int i = 0; i < 8; ++i) col.push_back(*At<int16_t>(data.b, 7, i / 2, i % 2));
    std::sort(values.begin(), values.end());
    std::sort(col.begin(), col.end());
    Owned index;
    Stats ext = Init(STATS_EXTREMES, 10), perSample = Init(STATS_EXTREMES, 2, &index.b);
    CDPPrc_compute_stats(&data.b, nullptr, &ext);
    CDPPrc_sample_stats(&perSample, &data.b);
    EXPECT_EQ(std::vector<double>({ext.lowExtreme, ext.highExtreme, Records(index.b)[7].lowExtreme,
                                   Records(index.b)[7].highExtreme}),
              std::vector<double>({values[9], values[values.size() - 10], col[1], col[6]}));
    // A lowExtreme already set by the caller (lists start fresh) makes the
    // outcome order-dependent: samples outermost, traces innermost visits
    // 5 (rejected), -1, 4, 10 (rejected) -> 4; trace-major would accept 10.
    const int16_t vals[2][2] = {{5, 4}, {-1, 10}};  // [trace][sample]
    Owned small = Fill16(2, 2, 1, [&](int32_t i, int32_t t, int32_t) { return vals[t][i]; });
    Stats cont = Init(STATS_EXTREMES | STATS_MINMAX, 2);
    cont.lowExtreme = 0;
    CDPPrc_compute_stats(&small.b, nullptr, &cont);
    EXPECT_EQ(cont.lowExtreme, 4);
    EXPECT_EQ(cont.minValue, -1);
}

TEST(StatisticsTest, ComputeStatsRangesAndRefusals) {
    Owned data = vantir3_test::MakeBuffer(100, 119, 10, 15, 0, 0, [](int32_t i, int32_t j, int32_t) {
        return static_cast<int16_t>(j * 1000 + i);
    });
    const Mebo3DDataAxis view = MeboDataPtrGetAxis(&data.b);
    MeboAxisDim r[3] = {{view.dim[0].stride, 105, 109}, {view.dim[1].stride, 12, 13}, view.dim[2]};
    Owned index;
    Stats s = Init(STATS_MINMAX | STATS_SUM, 0, &index.b);
    CDPPrc_compute_stats(&data.b, r, &s);
    EXPECT_EQ(Fields(s), (std::vector<double>{10, 12105, 13109, 5 * 12107 + 5 * 13107}));
    ASSERT_EQ(Records(index.b).size(), 2u);
    EXPECT_EQ(Records(index.b)[1].minValue, 13105);
    EXPECT_EQ(std::vector<int>(data.b.idx, data.b.idx + 2), (std::vector<int>{109, 12}));
    // Outside the view: clipped; the range's strides are not used.
    MeboAxisDim wide[3] = {{0, 90, 200}, {0, 14, 99}, {0, -5, 5}};
    s = Init(STATS_MINMAX, 0, &index.b);
    CDPPrc_compute_stats(&data.b, wide, &s);
    EXPECT_EQ(Fields(s), (std::vector<double>{40, 14100, 15119, 0}));
    // Empty range: start values stay, count 0, records untouched.
    r[1].min = 13;
    r[1].max = 12;
    s = Init(STATS_MINMAX, 0, &index.b);
    CDPPrc_compute_stats(&data.b, r, &s);
    EXPECT_EQ(Fields(s), (std::vector<double>{0, DBL_MAX, -DBL_MAX, 0}));
    EXPECT_EQ(Records(index.b).size(), 2u);
    // Null record: nothing gathered, the cursor still moves.
    ASSERT_EQ(MeboDataPtrSeekCorner(&data.b, -1), 1);
    EXPECT_EQ(CDPPrc_compute_stats(&data.b, nullptr, nullptr), 1);
    EXPECT_EQ(data.b.idx[0], 119);
    EXPECT_EQ(CDPPrc_compute_stats(nullptr, nullptr, &s), 1);
    // Element size other than 2, or an empty buffer: nothing gathered.
    Owned wide32 = vantir3_test::Zeroed(4, 8, 2), cleared;
    for (MeboDataPtr* b : {&wide32.b, &cleared.b}) {
        CDPPrc_compute_stats(b, nullptr, &s);
        CDPPrc_sample_stats(&s, b);
    }
    CDPPrc_sample_stats(&s, nullptr);
    CDPPrc_sample_stats(nullptr, &data.b);
    EXPECT_EQ(s.count, 0u);
    EXPECT_EQ(Records(index.b).size(), 2u);
}

TEST(StatisticsTest, AverageCdp) {
    // Data 4 samples x 3 traces; sums 5 x 2 and counts 5 x 2: walk 4 x 2.
    Owned data = Fill16(4, 3, 1, [](int32_t i, int32_t t, int32_t) { return static_cast<int16_t>(t * 10 + i - 3); });
    Owned sums, counts = vantir3_test::Zeroed(4, 5, 2);
    ASSERT_EQ(MeboDataPtrAllocate(&sums.b, 4, 20, 24, 7, 8, 0, 0, 1), 1);
    averageCDP(&data.b, &sums.b, &counts.b, false);
    averageCDP(&data.b, &sums.b, &counts.b, false);
    // The last two: beyond the common extent.
    EXPECT_EQ(std::vector<int32_t>({*At<int32_t>(sums.b, 20, 7, 0), *At<int32_t>(sums.b, 23, 8, 0),
                                    *At<int32_t>(counts.b, 3, 1, 0), *At<int32_t>(sums.b, 24, 8, 0),
                                    *At<int32_t>(counts.b, 4, 1, 0)}),
              (std::vector<int32_t>{-6, 20, 2, 0, 0}));
    *At<int32_t>(sums.b, 20, 7, 0) = -3;
    *At<int32_t>(sums.b, 21, 7, 0) = 3;
    *At<int32_t>(counts.b, 2, 0, 0) = 0;
    *At<int32_t>(sums.b, 23, 7, 0) = 70000;
    *At<int32_t>(counts.b, 3, 0, 0) = 1;
    averageCDP(&data.b, &sums.b, &counts.b, true);
    // -3 / 2 toward zero, 3 / 2, count 0: unchanged, the low 16 bits of 70000;
    // trace 2 lies outside the extent.
    EXPECT_EQ(vantir3_test::Samples(data.b, 0), (std::vector<int16_t>{-1, 1, -1, 70000 - 65536}));
    EXPECT_EQ(*At<int16_t>(data.b, 1, 1, 0), 8);
    EXPECT_EQ(*At<int16_t>(data.b, 1, 2, 0), 18);
    // Strided (transposed) sums; refused element sizes change nothing.
    Owned d2 = Fill16(3, 2, 1, [](int32_t i, int32_t t, int32_t) { return static_cast<int16_t>(i - 5 * t); });
    Owned s2 = vantir3_test::Zeroed(4, 2, 3), bad = vantir3_test::Zeroed(2, 5, 2);
    ASSERT_EQ(MeboDataPtrSwapAxes(&s2.b, 0, 1), 1);
    averageCDP(&d2.b, &s2.b, &counts.b, false);
    EXPECT_EQ(*At<int32_t>(s2.b, 2, 1, 0), -3);
    EXPECT_EQ(*At<int32_t>(counts.b, 2, 1, 0), 3);
    averageCDP(&data.b, &bad.b, &counts.b, false);
    averageCDP(nullptr, &sums.b, &counts.b, true);
    averageCDP(&data.b, &sums.b, nullptr, true);
    EXPECT_EQ(*At<int32_t>(counts.b, 2, 1, 0), 3);
}

TEST(StatisticsTest, LinearFit) {
    double a = -1, b = -1;
    const int16_t line[5] = {3, 5, 7, 9, 11};
    EXPECT_EQ(CDPPrc_linear_fit(&a, &b, 5, line, nullptr), 1.0);
    EXPECT_EQ(std::make_pair(a, b), std::make_pair(3.0, 2.0));
    const int16_t xs[4] = {10, 8, 6, 4}, down[4] = {1, 2, 3, 4};
    EXPECT_DOUBLE_EQ(CDPPrc_linear_fit(&a, &b, 4, down, xs), -1.0);
    EXPECT_DOUBLE_EQ(b, -0.5);
    EXPECT_DOUBLE_EQ(a, 6.0);
    const int16_t noisy[4] = {1, 3, 2, 5};  // Sxx 5, Syy 8.75, Sxy 5.5
    EXPECT_DOUBLE_EQ(CDPPrc_linear_fit(&a, &b, 4, noisy, nullptr), 5.5 / std::sqrt(5.0 * 8.75));
    EXPECT_DOUBLE_EQ(b, 1.1);
    EXPECT_DOUBLE_EQ(a, 2.75 - 1.1 * 1.5);
    const int16_t flat[3] = {-4, -4, -4};
    EXPECT_EQ(CDPPrc_linear_fit(&a, &b, 3, flat, nullptr), 1.0);  // y constant: slope 0
    EXPECT_EQ(std::make_pair(a, b), std::make_pair(-4.0, 0.0));
    // x constant (one point, constant x values, no points): no line.
    for (int n : {1, 3, 0}) {
        a = b = 5;
        EXPECT_EQ(CDPPrc_linear_fit(&a, &b, n, n ? noisy : nullptr, n == 3 ? flat : nullptr), 0.0) << n;
        EXPECT_EQ(std::make_pair(a, b), std::make_pair(0.0, DBL_MAX));
    }
    EXPECT_EQ(CDPPrc_linear_fit(nullptr, nullptr, 5, line, nullptr), 1.0);
}

}  // namespace
