#include "vantir3/numeric/statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

namespace {

struct Buffer {  // cleared on construction, released on destruction
    MeboDataPtr b;
    Buffer() { MeboDataPtrClear(&b); }
    ~Buffer() { MeboDataPtrRelease(&b); }
    MeboDataPtr* operator&() { return &b; }
    MeboDataPtr* operator->() { return &b; }
};

template <typename T>
T* At(MeboDataPtr* b, int i0, int i1, int i2) {
    const Mebo3DDataAxis& a = b->axis;
    return reinterpret_cast<T*>(a.base + (i0 - a.dim[0].min) * a.dim[0].stride +
                                (i1 - a.dim[1].min) * a.dim[1].stride +
                                (i2 - a.dim[2].min) * a.dim[2].stride);
}

void Fill16(MeboDataPtr* b, int n0, int n1, int n2, const std::function<int16_t(int, int, int)>& f) {
    ASSERT_EQ(MeboDataPtrAllocateCounts(b, 2, n0, n1, n2, 0), 1);
    for (int i2 = 0; i2 < n2; ++i2)
        for (int i1 = 0; i1 < n1; ++i1)
            for (int i0 = 0; i0 < n0; ++i0) *At<int16_t>(b, i0, i1, i2) = f(i0, i1, i2);
}

int16_t Noise(int i0, int i1, int i2) {
    uint32_t h = static_cast<uint32_t>(i0) * 73856093u ^ static_cast<uint32_t>(i1) * 19349663u ^
                 static_cast<uint32_t>(i2) * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return static_cast<int16_t>(h & 0xFFFF);
}

SCDPPrc_DataStatsMode Init(uint8_t mode, uint8_t numExtremes = 0, MeboDataPtr* index = nullptr) {
    SCDPPrc_DataStatsMode s;
    SCDPPrc_InitStats(&s);
    s.mode = mode;
    s.numExtremes = numExtremes;
    s.indexStats = index;
    return s;
}

std::vector<SCDPPrc_DataStatsMode> Records(MeboDataPtr* index) {
    std::vector<SCDPPrc_DataStatsMode> out;
    const Mebo3DDataAxis& a = index->axis;
    if (a.elemSize != static_cast<int32_t>(sizeof(SCDPPrc_DataStatsMode)) || a.base == nullptr) {
        ADD_FAILURE() << "not a buffer of statistics records";
        return out;
    }
    for (int j = a.dim[0].min; j <= a.dim[0].max; ++j) {
        out.emplace_back();
        std::memcpy(&out.back(), At<uint8_t>(index, j, a.dim[1].min, a.dim[2].min), sizeof out[0]);
        EXPECT_EQ(out.back().indexStats, nullptr);
    }
    return out;
}

void ExpectSameStats(const SCDPPrc_DataStatsMode& got, const SCDPPrc_DataStatsMode& want) {
    EXPECT_EQ(got.count, want.count);
    EXPECT_EQ(got.minValue, want.minValue);
    EXPECT_EQ(got.maxValue, want.maxValue);
    EXPECT_EQ(std::memcmp(&got.sum, &want.sum, sizeof got.sum), 0) << got.sum << " vs " << want.sum;
}

const int kTraceWalk[3] = {0, 2, 1};   // compute_stats: samples, planes, traces innermost
const int kSampleWalk[3] = {0, 1, 2};  // sample_stats: samples, traces, planes innermost

// The per-value definition of count/min/max/sum, walked over the view in
// `order` (outermost first), whole and per index along `axis`.
struct Reference {
    SCDPPrc_DataStatsMode all;
    std::vector<SCDPPrc_DataStatsMode> per;
    Reference(MeboDataPtr* b, int axis, const int order[3], double startSum = 0) {
        all = Init(STATS_MINMAX | STATS_SUM);
        all.sum = startSum;
        const MeboAxisDim* d = b->axis.dim;
        per.assign(d[axis].max - d[axis].min + 1, all);
        int i[3];
        for (i[order[0]] = d[order[0]].min; i[order[0]] <= d[order[0]].max; ++i[order[0]])
            for (i[order[1]] = d[order[1]].min; i[order[1]] <= d[order[1]].max; ++i[order[1]])
                for (i[order[2]] = d[order[2]].min; i[order[2]] <= d[order[2]].max; ++i[order[2]]) {
                    const double v = *At<int16_t>(b, i[0], i[1], i[2]);
                    for (SCDPPrc_DataStatsMode* s : {&all, &per[i[axis] - d[axis].min]}) {
                        ++s->count;
                        if (v <= s->minValue) s->minValue = v;
                        if (v >= s->maxValue) s->maxValue = v;
                        s->sum += v;
                    }
                }
    }
};

// Per-trace (compute_stats) and per-sample (sample_stats) results against
// the definition.
void ExpectMatchesDefinition(MeboDataPtr* data) {
    for (bool perSample : {false, true}) {
        SCOPED_TRACE(perSample ? "sample_stats" : "compute_stats");
        Buffer index;
        SCDPPrc_DataStatsMode s = Init(STATS_MINMAX | STATS_SUM, 0, &index);
        if (perSample)
            CDPPrc_sample_stats(&s, data);
        else
            EXPECT_EQ(CDPPrc_compute_stats(data, nullptr, &s), 1);
        const Reference ref(data, perSample ? 0 : 1, perSample ? kSampleWalk : kTraceWalk);
        ExpectSameStats(s, ref.all);
        EXPECT_EQ(s.indexStats, &index);
        const std::vector<SCDPPrc_DataStatsMode> recs = Records(&index);
        ASSERT_EQ(recs.size(), ref.per.size());
        for (size_t j = 0; j < recs.size(); ++j) ExpectSameStats(recs[j], ref.per[j]);
    }
}

TEST(StatisticsTest, InitAndAccumulate) {
    SCDPPrc_DataStatsMode s;
    std::memset(&s, 0x5a, sizeof s);
    SCDPPrc_InitStats(&s);
    EXPECT_EQ(s.mode + s.numExtremes + s.count + s.sum, 0);
    EXPECT_EQ(s.minValue, DBL_MAX);
    EXPECT_EQ(s.maxValue, -DBL_MAX);
    EXPECT_EQ(s.lowExtreme, DBL_MAX);
    EXPECT_EQ(s.highExtreme, -DBL_MAX);
    EXPECT_EQ(s.indexStats, nullptr);
    SCDPPrc_InitStats(nullptr);

    CDPPrc_accumulate_stat(4.0, &s);  // mode 0: not even the count
    EXPECT_EQ(s.count, 0u);
    CDPPrc_accumulate_stat(4.0, nullptr);
    s.mode = 0x02;  // no meaning: counts only
    CDPPrc_accumulate_stat(7.0, &s);
    EXPECT_EQ(s.count, 1u);
    EXPECT_EQ(s.sum, 0.0);
    EXPECT_EQ(s.minValue, DBL_MAX);
}

TEST(StatisticsTest, ExtremesLists) {
    const SCDPPrc_DataStatsMode tmpl = Init(STATS_EXTREMES, 3);
    SCDPPrc_DataStatsMode* work = CDPPrc_create_work_stats(&tmpl, 2);
    ASSERT_NE(work, nullptr);
    MeboDataPtr* list = work[1].indexStats;
    ASSERT_NE(list, nullptr);
    EXPECT_NE(list, work[0].indexStats);
    EXPECT_EQ(list->axis.elemSize, 8);
    EXPECT_EQ(list->axis.dim[0].max - list->axis.dim[0].min + 1, 3);
    EXPECT_EQ(list->axis.dim[1].max - list->axis.dim[1].min + 1, 2);
    EXPECT_EQ(list->axis.dim[2].max - list->axis.dim[2].min + 1, 1);
    auto row = [&](int r) {
        return std::vector<double>{*At<double>(list, 0, r, 0), *At<double>(list, 1, r, 0),
                                   *At<double>(list, 2, r, 0)};
    };
    EXPECT_EQ(row(0), std::vector<double>(3, DBL_MAX));
    EXPECT_EQ(row(1), std::vector<double>(3, -DBL_MAX));

    CDPPrc_accumulate_stat(5, &work[1]);
    CDPPrc_accumulate_stat(1, &work[1]);
    EXPECT_EQ(work[1].lowExtreme, DBL_MAX);  // two values seen of three
    EXPECT_EQ(work[1].highExtreme, -DBL_MAX);
    CDPPrc_accumulate_stat(9, &work[1]);
    CDPPrc_accumulate_stat(7, &work[1]);
    EXPECT_EQ(row(0), (std::vector<double>{7, 5, 1}));
    EXPECT_EQ(row(1), (std::vector<double>{5, 7, 9}));
    EXPECT_EQ(work[1].lowExtreme, 7);
    EXPECT_EQ(work[1].highExtreme, 5);
    EXPECT_EQ(work[1].minValue, DBL_MAX);  // no STATS_MINMAX
    EXPECT_EQ(work[0].count, 0u);          // copies are independent

    // Finishing copies record 0 back and stores records 1..n with null slots.
    Buffer index;
    SCDPPrc_DataStatsMode result = Init(STATS_EXTREMES, 3, &index);
    CDPPrc_finish_stats(&result, work, 2);
    EXPECT_EQ(result.indexStats, &index);
    std::vector<SCDPPrc_DataStatsMode> recs = Records(&index);
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].count, 4u);
    EXPECT_EQ(recs[0].lowExtreme, 7);
    EXPECT_EQ(index->idx[0], 1);
    CDPPrc_free_work_stats(work, 2);

    // numExtremes 0: no list. A slot holding something that is not a list
    // of doubles is never written through.
    const SCDPPrc_DataStatsMode plain = Init(STATS_EXTREMES | STATS_MINMAX);
    work = CDPPrc_create_work_stats(&plain, 0);
    ASSERT_NE(work, nullptr);
    EXPECT_EQ(work[0].indexStats, nullptr);
    CDPPrc_accumulate_stat(2, &work[0]);
    EXPECT_EQ(work[0].minValue, 2);
    CDPPrc_free_work_stats(work, 0);
    SCDPPrc_DataStatsMode bogus = Init(STATS_EXTREMES, 4, &index);
    CDPPrc_accumulate_stat(1, &bogus);
    EXPECT_EQ(bogus.lowExtreme, DBL_MAX);
    EXPECT_EQ(Records(&index).size(), 2u);

    EXPECT_EQ(CDPPrc_create_work_stats(nullptr, 3), nullptr);
    EXPECT_EQ(CDPPrc_create_work_stats(&plain, -1), nullptr);
    CDPPrc_free_work_stats(nullptr, 3);
    CDPPrc_finish_stats(nullptr, nullptr, 1);
    CDPPrc_store_index_stats(nullptr, recs.data(), 2);
    CDPPrc_store_index_stats(&index, nullptr, 2);
    EXPECT_EQ(Records(&index).size(), 2u);
}

TEST(StatisticsTest, GatheringMatchesDefinition) {
    Buffer data;
    Fill16(&data, 37, 4, 2, Noise);
    *At<int16_t>(&data, 5, 2, 1) = -32768;
    *At<int16_t>(&data, 6, 3, 0) = 32767;
    ExpectMatchesDefinition(&data);

    // Four traces: four records of (samples per trace) x planes values.
    Buffer index;
    SCDPPrc_DataStatsMode s = Init(STATS_MINMAX, 0, &index);
    CDPPrc_compute_stats(&data, nullptr, &s);
    EXPECT_EQ(s.minValue, -32768);
    EXPECT_EQ(s.maxValue, 32767);
    std::vector<SCDPPrc_DataStatsMode> recs = Records(&index);
    ASSERT_EQ(recs.size(), 4u);
    for (const SCDPPrc_DataStatsMode& r : recs) EXPECT_EQ(r.count, 37u * 2u);
    EXPECT_EQ(data->idx[0], 36);  // cursor on the last trace start sought
    EXPECT_EQ(data->idx[1], 0);
    EXPECT_EQ(data->idx[2], 1);

    // A second walk without InitStats continues count and sum.
    CDPPrc_compute_stats(&data, nullptr, &s);
    EXPECT_EQ(s.count, 2u * 37u * 4u * 2u);

    // Mode 0 gathers nothing but still produces the records.
    SCDPPrc_DataStatsMode none = Init(0, 0, &index);
    CDPPrc_compute_stats(&data, nullptr, &none);
    EXPECT_EQ(none.count, 0u);
    ASSERT_EQ(Records(&index).size(), 4u);
    EXPECT_EQ(Records(&index)[3].minValue, DBL_MAX);
}

TEST(StatisticsTest, StridedAndNarrowedViews) {
    // The same (sample, trace) profile stored traces-innermost, seen through
    // a swap of axes 0 and 1, gives bit-identical results.
    const int samples = 33, traces = 21;
    Buffer dense, stored;
    Fill16(&dense, samples, traces, 1, Noise);
    Fill16(&stored, traces, samples, 1, [](int t, int s, int p) { return Noise(s, t, p); });
    ASSERT_EQ(MeboDataPtrSwapAxes(&stored, 0, 1), 1);
    ExpectMatchesDefinition(&stored);
    for (bool perSample : {false, true}) {
        Buffer ia, ib;
        const uint8_t mode = STATS_MINMAX | STATS_SUM | STATS_EXTREMES;
        SCDPPrc_DataStatsMode a = Init(mode, 3, &ia), b = Init(mode, 3, &ib);
        if (perSample) {
            CDPPrc_sample_stats(&a, &dense);
            CDPPrc_sample_stats(&b, &stored);
        } else {
            CDPPrc_compute_stats(&dense, nullptr, &a);
            CDPPrc_compute_stats(&stored, nullptr, &b);
        }
        const std::vector<SCDPPrc_DataStatsMode> ra = Records(&ia), rb = Records(&ib);
        ASSERT_EQ(ra.size(), perSample ? samples : traces);
        ASSERT_EQ(rb.size(), ra.size());
        for (size_t j = 0; j < ra.size(); ++j)
            EXPECT_EQ(std::memcmp(&ra[j], &rb[j], sizeof ra[j]), 0) << j;
    }

    // Views narrowed inside larger storage: one sample per trace (no
    // contiguous axis left), and an interior block.
    Buffer data;
    Fill16(&data, 6, 10, 3, Noise);
    const int ranges[2][4] = {{2, 2, 0, 9}, {1, 4, 3, 7}};  // samples, traces
    for (const auto& c : ranges) {
        Buffer view;
        ASSERT_EQ(MeboDataPtrShare(&view, &data), 1);
        Mebo3DDataAxis req = MeboDataPtrGetAxis(&data);
        req.dim[0].min = c[0];
        req.dim[0].max = c[1];
        req.dim[1].min = c[2];
        req.dim[1].max = c[3];
        ASSERT_EQ(MeboDataPtrSetView(&view, &req, 0), 1);
        ExpectMatchesDefinition(&view);
    }
}

TEST(StatisticsTest, SummationAndExtremesOrder) {
    // With a start sum where every addition rounds, only the documented
    // walk order gives the documented sum.
    Buffer data;
    Fill16(&data, 37, 4, 2, Noise);
    const int reversed[3] = {2, 1, 0};
    for (bool perSample : {false, true}) {
        SCDPPrc_DataStatsMode s = Init(STATS_SUM);
        s.sum = 1e17;
        const Reference want(&data, 0, perSample ? kSampleWalk : kTraceWalk, 1e17);
        ASSERT_NE(want.all.sum, Reference(&data, 0, reversed, 1e17).all.sum);
        if (perSample)
            CDPPrc_sample_stats(&s, &data);
        else
            CDPPrc_compute_stats(&data, nullptr, &s);
        EXPECT_EQ(s.sum, want.all.sum) << perSample;
    }

    // Extremes from fresh InitStats are the N-th smallest / largest values.
    std::vector<double> values;
    for (int i = 0; i < 37 * 4 * 2; ++i) values.push_back(*At<int16_t>(&data, i % 37, i / 37 % 4, i / 148));
    std::sort(values.begin(), values.end());
    SCDPPrc_DataStatsMode ext = Init(STATS_EXTREMES, 10);
    CDPPrc_compute_stats(&data, nullptr, &ext);
    EXPECT_EQ(ext.lowExtreme, values[9]);
    EXPECT_EQ(ext.highExtreme, values[values.size() - 10]);
    Buffer index;
    SCDPPrc_DataStatsMode perSample = Init(STATS_EXTREMES, 2, &index);
    CDPPrc_sample_stats(&perSample, &data);
    std::vector<double> col;
    for (int t = 0; t < 4; ++t)
        for (int p = 0; p < 2; ++p) col.push_back(*At<int16_t>(&data, 7, t, p));
    std::sort(col.begin(), col.end());
    EXPECT_EQ(Records(&index)[7].lowExtreme, col[1]);
    EXPECT_EQ(Records(&index)[7].highExtreme, col[6]);

    // A lowExtreme already set by the caller (lists start fresh) makes the
    // outcome order-dependent: samples outermost, traces innermost visits
    // 5 (rejected), -1, 4, 10 (rejected) -> 4; trace-major would accept 10.
    Buffer small;
    const int16_t vals[2][2] = {{5, 4}, {-1, 10}};  // [trace][sample]
    Fill16(&small, 2, 2, 1, [&](int i, int t, int) { return vals[t][i]; });
    SCDPPrc_DataStatsMode cont = Init(STATS_EXTREMES | STATS_MINMAX, 2);
    cont.lowExtreme = 0;
    CDPPrc_compute_stats(&small, nullptr, &cont);
    EXPECT_EQ(cont.lowExtreme, 4);
    EXPECT_EQ(cont.minValue, -1);
}

TEST(StatisticsTest, ComputeStatsRanges) {
    Buffer data;
    ASSERT_EQ(MeboDataPtrAllocate(&data, 2, 100, 119, 10, 15, 0, 0, 0), 1);
    for (int j = 10; j <= 15; ++j)
        for (int i = 100; i <= 119; ++i) *At<int16_t>(&data, i, j, 0) = static_cast<int16_t>(j * 1000 + i);

    Mebo3DDataAxis view = MeboDataPtrGetAxis(&data);
    MeboAxisDim r[3] = {{view.dim[0].stride, 105, 109}, {view.dim[1].stride, 12, 13}, view.dim[2]};
    Buffer index;
    SCDPPrc_DataStatsMode s = Init(STATS_MINMAX | STATS_SUM, 0, &index);
    CDPPrc_compute_stats(&data, r, &s);
    EXPECT_EQ(s.count, 10u);
    EXPECT_EQ(s.minValue, 12105);
    EXPECT_EQ(s.maxValue, 13109);
    EXPECT_EQ(s.sum, 5 * 12107 + 5 * 13107);
    ASSERT_EQ(Records(&index).size(), 2u);
    EXPECT_EQ(Records(&index)[1].minValue, 13105);
    EXPECT_EQ(data->idx[0], 109);
    EXPECT_EQ(data->idx[1], 12);

    // Outside the view: clipped; the range's strides are not used.
    MeboAxisDim wide[3] = {{0, 90, 200}, {0, 14, 99}, {0, -5, 5}};
    s = Init(STATS_MINMAX, 0, &index);
    CDPPrc_compute_stats(&data, wide, &s);
    EXPECT_EQ(s.count, 40u);
    EXPECT_EQ(s.minValue, 14100);
    EXPECT_EQ(s.maxValue, 15119);
    EXPECT_EQ(Records(&index).size(), 2u);

    // Empty range: start values stay, count 0, records untouched.
    r[1].min = 13;
    r[1].max = 12;
    s = Init(STATS_MINMAX, 0, &index);
    CDPPrc_compute_stats(&data, r, &s);
    EXPECT_EQ(s.count, 0u);
    EXPECT_EQ(s.minValue, DBL_MAX);
    EXPECT_EQ(s.maxValue, -DBL_MAX);
    EXPECT_EQ(Records(&index).size(), 2u);

    // Null record: nothing gathered, the cursor still moves.
    ASSERT_EQ(MeboDataPtrSeekCorner(&data, -1), 1);
    EXPECT_EQ(CDPPrc_compute_stats(&data, nullptr, nullptr), 1);
    EXPECT_EQ(data->idx[0], 119);
    EXPECT_EQ(CDPPrc_compute_stats(nullptr, nullptr, &s), 1);

    // Element size other than 2, or an empty buffer: nothing gathered.
    Buffer wide32, cleared;
    ASSERT_EQ(MeboDataPtrAllocateCounts(&wide32, 4, 8, 2, 1, 1), 1);
    for (MeboDataPtr* b : {&wide32, &cleared}) {
        CDPPrc_compute_stats(b, nullptr, &s);
        CDPPrc_sample_stats(&s, b);
    }
    CDPPrc_sample_stats(&s, nullptr);
    CDPPrc_sample_stats(nullptr, &data);
    EXPECT_EQ(s.count, 0u);
    EXPECT_EQ(Records(&index).size(), 2u);
}

TEST(StatisticsTest, AverageCdp) {
    // Data 4 samples x 3 traces; sums 5 x 2 and counts 5 x 2: walk 4 x 2.
    Buffer data, sums, counts;
    Fill16(&data, 4, 3, 1, [](int i, int t, int) { return static_cast<int16_t>(t * 10 + i - 3); });
    ASSERT_EQ(MeboDataPtrAllocate(&sums, 4, 20, 24, 7, 8, 0, 0, 1), 1);
    ASSERT_EQ(MeboDataPtrAllocateCounts(&counts, 4, 5, 2, 1, 1), 1);
    averageCDP(&data, &sums, &counts, false);
    averageCDP(&data, &sums, &counts, false);
    EXPECT_EQ(*At<int32_t>(&sums, 20, 7, 0), -6);
    EXPECT_EQ(*At<int32_t>(&sums, 23, 8, 0), 20);
    EXPECT_EQ(*At<int32_t>(&sums, 24, 8, 0), 0);  // beyond the common extent
    EXPECT_EQ(*At<int32_t>(&counts, 3, 1, 0), 2);
    EXPECT_EQ(*At<int32_t>(&counts, 4, 1, 0), 0);

    *At<int32_t>(&sums, 20, 7, 0) = -3;
    *At<int32_t>(&sums, 21, 7, 0) = 3;
    *At<int32_t>(&counts, 2, 0, 0) = 0;
    *At<int32_t>(&sums, 23, 7, 0) = 70000;
    *At<int32_t>(&counts, 3, 0, 0) = 1;
    averageCDP(&data, &sums, &counts, true);
    EXPECT_EQ(*At<int16_t>(&data, 0, 0, 0), -1);  // -3 / 2 toward zero
    EXPECT_EQ(*At<int16_t>(&data, 1, 0, 0), 1);
    EXPECT_EQ(*At<int16_t>(&data, 2, 0, 0), -1);  // count 0: unchanged
    EXPECT_EQ(*At<int16_t>(&data, 3, 0, 0), 70000 - 65536);  // low 16 bits
    EXPECT_EQ(*At<int16_t>(&data, 1, 1, 0), 8);
    EXPECT_EQ(*At<int16_t>(&data, 1, 2, 0), 18);  // trace outside the extent

    // Strided (transposed) sums; refused element sizes change nothing.
    Buffer d2, s2, bad;
    Fill16(&d2, 3, 2, 1, [](int i, int t, int) { return static_cast<int16_t>(i - 5 * t); });
    ASSERT_EQ(MeboDataPtrAllocateCounts(&s2, 4, 2, 3, 1, 1), 1);
    ASSERT_EQ(MeboDataPtrSwapAxes(&s2, 0, 1), 1);
    averageCDP(&d2, &s2, &counts, false);
    EXPECT_EQ(*At<int32_t>(&s2, 2, 1, 0), -3);
    EXPECT_EQ(*At<int32_t>(&counts, 2, 1, 0), 3);
    ASSERT_EQ(MeboDataPtrAllocateCounts(&bad, 2, 5, 2, 1, 1), 1);
    averageCDP(&data, &bad, &counts, false);
    averageCDP(nullptr, &sums, &counts, true);
    averageCDP(&data, &sums, nullptr, true);
    EXPECT_EQ(*At<int32_t>(&counts, 2, 1, 0), 3);
}

TEST(StatisticsTest, LinearFit) {
    double a = -1, b = -1;
    const int16_t line[5] = {3, 5, 7, 9, 11};
    EXPECT_EQ(CDPPrc_linear_fit(&a, &b, 5, line, nullptr), 1.0);
    EXPECT_EQ(a, 3.0);
    EXPECT_EQ(b, 2.0);
    const int16_t xs[4] = {10, 8, 6, 4}, down[4] = {1, 2, 3, 4};
    EXPECT_DOUBLE_EQ(CDPPrc_linear_fit(&a, &b, 4, down, xs), -1.0);
    EXPECT_DOUBLE_EQ(b, -0.5);
    EXPECT_DOUBLE_EQ(a, 6.0);
    const int16_t noisy[4] = {1, 3, 2, 5};  // Sxx 5, Syy 8.75, Sxy 5.5
    EXPECT_DOUBLE_EQ(CDPPrc_linear_fit(&a, &b, 4, noisy, nullptr), 5.5 / std::sqrt(5.0 * 8.75));
    EXPECT_DOUBLE_EQ(b, 1.1);
    EXPECT_DOUBLE_EQ(a, 2.75 - 1.1 * 1.5);

    const int16_t flat[3] = {-4, -4, -4};
    EXPECT_EQ(CDPPrc_linear_fit(&a, &b, 3, flat, nullptr), 1.0);
    EXPECT_EQ(b, 0.0);
    EXPECT_EQ(a, -4.0);
    EXPECT_EQ(CDPPrc_linear_fit(&a, &b, 1, flat, nullptr), 0.0);
    EXPECT_EQ(b, DBL_MAX);
    EXPECT_EQ(a, 0.0);
    b = 0;
    EXPECT_EQ(CDPPrc_linear_fit(&a, &b, 3, noisy, flat), 0.0);  // x constant
    EXPECT_EQ(b, DBL_MAX);
    b = 0;
    EXPECT_EQ(CDPPrc_linear_fit(&a, &b, 0, nullptr, nullptr), 0.0);
    EXPECT_EQ(b, DBL_MAX);
    EXPECT_EQ(CDPPrc_linear_fit(nullptr, nullptr, 5, line, nullptr), 1.0);
}

}  // namespace
