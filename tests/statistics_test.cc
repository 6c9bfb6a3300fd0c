#include "vantir3/numeric/statistics.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

namespace {

// A buffer cleared on construction and released on destruction.
struct Buffer {
    MeboDataPtr b;
    Buffer() { MeboDataPtrClear(&b); }
    ~Buffer() { MeboDataPtrRelease(&b); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
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

// Samples x traces x planes of 16-bit values from f(sample, trace, plane).
void Fill16(MeboDataPtr* b, int n0, int n1, int n2,
            const std::function<int16_t(int, int, int)>& f) {
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

// Straightforward per-value definition, for comparison with the gathering
// functions' results (min/max/sum/count only).
void RefAdd(SCDPPrc_DataStatsMode* s, double v) {
    ++s->count;
    if (v <= s->minValue) s->minValue = v;
    if (v >= s->maxValue) s->maxValue = v;
    s->sum += v;
}

void ExpectSameStats(const SCDPPrc_DataStatsMode& got, const SCDPPrc_DataStatsMode& want) {
    EXPECT_EQ(got.count, want.count);
    EXPECT_EQ(got.minValue, want.minValue);
    EXPECT_EQ(got.maxValue, want.maxValue);
    EXPECT_EQ(std::memcmp(&got.sum, &want.sum, sizeof got.sum), 0)
        << got.sum << " vs " << want.sum;
}

std::vector<SCDPPrc_DataStatsMode> Records(MeboDataPtr* index) {
    std::vector<SCDPPrc_DataStatsMode> out;
    const Mebo3DDataAxis& a = index->axis;
    EXPECT_EQ(a.elemSize, static_cast<int32_t>(sizeof(SCDPPrc_DataStatsMode)));
    for (int j = a.dim[0].min; j <= a.dim[0].max; ++j) {
        SCDPPrc_DataStatsMode r;
        std::memcpy(&r, At<uint8_t>(index, j, a.dim[1].min, a.dim[2].min), sizeof r);
        out.push_back(r);
    }
    return out;
}

TEST(StatisticsTest, InitAndAccumulate) {
    SCDPPrc_DataStatsMode s;
    std::memset(&s, 0x5a, sizeof s);
    SCDPPrc_InitStats(&s);
    EXPECT_EQ(s.mode, 0);
    EXPECT_EQ(s.numExtremes, 0);
    EXPECT_EQ(s.count, 0u);
    EXPECT_EQ(s.minValue, DBL_MAX);
    EXPECT_EQ(s.maxValue, -DBL_MAX);
    EXPECT_EQ(s.sum, 0.0);
    EXPECT_EQ(s.lowExtreme, DBL_MAX);
    EXPECT_EQ(s.highExtreme, -DBL_MAX);
    EXPECT_EQ(s.indexStats, nullptr);
    SCDPPrc_InitStats(nullptr);

    // Mode 0 accumulates nothing, not even the count.
    CDPPrc_accumulate_stat(4.0, &s);
    EXPECT_EQ(s.count, 0u);
    EXPECT_EQ(s.minValue, DBL_MAX);
    CDPPrc_accumulate_stat(4.0, nullptr);

    // Ties replace; bit 0x02 alone only counts.
    s.mode = STATS_MINMAX | STATS_SUM;
    for (double v : {3.0, -2.5, 3.0, -2.5}) CDPPrc_accumulate_stat(v, &s);
    EXPECT_EQ(s.count, 4u);
    EXPECT_EQ(s.minValue, -2.5);
    EXPECT_EQ(s.maxValue, 3.0);
    EXPECT_EQ(s.sum, 1.0);
    SCDPPrc_DataStatsMode c = Init(0x02);
    CDPPrc_accumulate_stat(7.0, &c);
    EXPECT_EQ(c.count, 1u);
    EXPECT_EQ(c.sum, 0.0);
    EXPECT_EQ(c.minValue, DBL_MAX);
}

TEST(StatisticsTest, ExtremesLists) {
    const SCDPPrc_DataStatsMode tmpl = Init(STATS_EXTREMES, 3);
    SCDPPrc_DataStatsMode* work = CDPPrc_create_work_stats(&tmpl, 2);
    ASSERT_NE(work, nullptr);
    for (int i = 0; i <= 2; ++i) {
        MeboDataPtr* list = work[i].indexStats;
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->axis.elemSize, 8);
        EXPECT_EQ(list->axis.dim[0].max - list->axis.dim[0].min + 1, 3);
        EXPECT_EQ(list->axis.dim[1].max - list->axis.dim[1].min + 1, 2);
        EXPECT_EQ(list->axis.dim[2].max - list->axis.dim[2].min + 1, 1);
        if (i > 0) {
            EXPECT_NE(list, work[i - 1].indexStats);
        }
    }
    MeboDataPtr* list = work[1].indexStats;
    auto row = [&](int r) {
        return std::vector<double>{*At<double>(list, 0, r, 0), *At<double>(list, 1, r, 0),
                                   *At<double>(list, 2, r, 0)};
    };
    EXPECT_EQ(row(0), std::vector<double>(3, DBL_MAX));
    EXPECT_EQ(row(1), std::vector<double>(3, -DBL_MAX));

    CDPPrc_accumulate_stat(5, &work[1]);
    CDPPrc_accumulate_stat(1, &work[1]);
    // Two values seen of three: the third extreme is not known yet.
    EXPECT_EQ(work[1].lowExtreme, DBL_MAX);
    EXPECT_EQ(work[1].highExtreme, -DBL_MAX);
    CDPPrc_accumulate_stat(9, &work[1]);
    CDPPrc_accumulate_stat(7, &work[1]);
    EXPECT_EQ(row(0), (std::vector<double>{7, 5, 1}));
    EXPECT_EQ(row(1), (std::vector<double>{5, 7, 9}));
    EXPECT_EQ(work[1].lowExtreme, 7);
    EXPECT_EQ(work[1].highExtreme, 5);
    EXPECT_EQ(work[1].count, 4u);
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
    EXPECT_EQ(recs[0].indexStats, nullptr);
    EXPECT_EQ(recs[1].indexStats, nullptr);
    CDPPrc_free_work_stats(work, 2);

    // numExtremes 0: no list; a slot holding something else is never used.
    const SCDPPrc_DataStatsMode plain = Init(STATS_EXTREMES | STATS_MINMAX);
    work = CDPPrc_create_work_stats(&plain, 0);
    ASSERT_NE(work, nullptr);
    EXPECT_EQ(work[0].indexStats, nullptr);
    CDPPrc_accumulate_stat(2, &work[0]);
    EXPECT_EQ(work[0].minValue, 2);
    CDPPrc_free_work_stats(work, 0);
    SCDPPrc_DataStatsMode bogus = Init(STATS_EXTREMES, 4, &index);  // records, not doubles
    CDPPrc_accumulate_stat(1, &bogus);
    EXPECT_EQ(bogus.count, 1u);
    EXPECT_EQ(bogus.lowExtreme, DBL_MAX);

    EXPECT_EQ(CDPPrc_create_work_stats(nullptr, 3), nullptr);
    EXPECT_EQ(CDPPrc_create_work_stats(&plain, -1), nullptr);
    CDPPrc_free_work_stats(nullptr, 3);
    CDPPrc_finish_stats(nullptr, nullptr, 1);
}

TEST(StatisticsTest, ComputeStatsPerTrace) {
    const int n0 = 37, n1 = 4, n2 = 2;
    Buffer data;
    Fill16(&data, n0, n1, n2, Noise);
    *At<int16_t>(&data, 5, 2, 1) = -32768;
    *At<int16_t>(&data, 6, 3, 0) = 32767;

    // Reference in the documented order: axis 0, axis 2, then traces.
    SCDPPrc_DataStatsMode all = Init(STATS_MINMAX | STATS_SUM);
    std::vector<SCDPPrc_DataStatsMode> per(n1, all);
    for (int i0 = 0; i0 < n0; ++i0)
        for (int i2 = 0; i2 < n2; ++i2)
            for (int j = 0; j < n1; ++j) {
                const double v = *At<int16_t>(&data, i0, j, i2);
                RefAdd(&all, v);
                RefAdd(&per[j], v);
            }

    Buffer index;
    SCDPPrc_DataStatsMode s = Init(STATS_MINMAX | STATS_SUM, 0, &index);
    EXPECT_EQ(CDPPrc_compute_stats(&data, nullptr, &s), 1);
    ExpectSameStats(s, all);
    EXPECT_EQ(s.minValue, -32768);
    EXPECT_EQ(s.maxValue, 32767);
    EXPECT_EQ(s.indexStats, &index);
    std::vector<SCDPPrc_DataStatsMode> recs = Records(&index);
    ASSERT_EQ(recs.size(), 4u);
    for (int j = 0; j < n1; ++j) {
        SCOPED_TRACE(j);
        EXPECT_EQ(recs[j].count, static_cast<uint32_t>(n0 * n2));
        EXPECT_EQ(recs[j].indexStats, nullptr);
        EXPECT_EQ(recs[j].mode, STATS_MINMAX | STATS_SUM);
        ExpectSameStats(recs[j], per[j]);
    }
    // The cursor ends on the last trace start sought.
    EXPECT_EQ(data->idx[0], n0 - 1);
    EXPECT_EQ(data->idx[1], 0);
    EXPECT_EQ(data->idx[2], n2 - 1);

    // A second walk without InitStats continues count/min/max/sum.
    SCDPPrc_DataStatsMode twice = Init(STATS_MINMAX | STATS_SUM);
    CDPPrc_compute_stats(&data, nullptr, &twice);
    CDPPrc_compute_stats(&data, nullptr, &twice);
    EXPECT_EQ(twice.count, 2 * all.count);
    EXPECT_EQ(twice.sum, 2 * all.sum);

    // Start sums where every addition rounds make the summation order
    // visible: the result must be the in-order sum.
    for (double start : {0.1, 9007199254740992.0 + 2.0}) {
        SCOPED_TRACE(start);
        SCDPPrc_DataStatsMode frac = Init(STATS_SUM);
        frac.sum = start;
        double want = start, traceMajor = start;
        for (int i0 = 0; i0 < n0; ++i0)
            for (int i2 = 0; i2 < n2; ++i2)
                for (int j = 0; j < n1; ++j) want += *At<int16_t>(&data, i0, j, i2);
        for (int i2 = 0; i2 < n2; ++i2)
            for (int j = 0; j < n1; ++j)
                for (int i0 = 0; i0 < n0; ++i0) traceMajor += *At<int16_t>(&data, i0, j, i2);
        ASSERT_NE(want, traceMajor);  // the data do tell the orders apart
        CDPPrc_compute_stats(&data, nullptr, &frac);
        EXPECT_EQ(std::memcmp(&frac.sum, &want, sizeof want), 0);
    }

    // Extremes agree with a sort of all values.
    std::vector<double> values;
    for (int i2 = 0; i2 < n2; ++i2)
        for (int j = 0; j < n1; ++j)
            for (int i0 = 0; i0 < n0; ++i0) values.push_back(*At<int16_t>(&data, i0, j, i2));
    std::sort(values.begin(), values.end());
    SCDPPrc_DataStatsMode ext = Init(STATS_EXTREMES | STATS_MINMAX, 10);
    CDPPrc_compute_stats(&data, nullptr, &ext);
    EXPECT_EQ(ext.lowExtreme, values[9]);
    EXPECT_EQ(ext.highExtreme, values[values.size() - 10]);
    EXPECT_EQ(ext.minValue, values.front());
    EXPECT_EQ(ext.indexStats, nullptr);

    // Mode 0 gathers nothing but still produces the per-trace records.
    SCDPPrc_DataStatsMode none = Init(0, 0, &index);
    CDPPrc_compute_stats(&data, nullptr, &none);
    EXPECT_EQ(none.count, 0u);
    recs = Records(&index);
    ASSERT_EQ(recs.size(), 4u);
    EXPECT_EQ(recs[3].count, 0u);
    EXPECT_EQ(recs[3].minValue, DBL_MAX);
}

TEST(StatisticsTest, ComputeStatsRanges) {
    Buffer data;
    ASSERT_EQ(MeboDataPtrAllocate(&data, 2, 100, 119, 10, 15, 0, 0, 0), 1);
    for (int j = 10; j <= 15; ++j)
        for (int i = 100; i <= 119; ++i) *At<int16_t>(&data, i, j, 0) = static_cast<int16_t>(j * 1000 + i);

    // A sub-range: traces 12..13, samples 105..109.
    Mebo3DDataAxis view = MeboDataPtrGetAxis(&data);
    MeboAxisDim r[3] = {view.dim[0], view.dim[1], view.dim[2]};
    r[0].min = 105; r[0].max = 109;
    r[1].min = 12; r[1].max = 13;
    Buffer index;
    SCDPPrc_DataStatsMode s = Init(STATS_MINMAX | STATS_SUM, 0, &index);
    CDPPrc_compute_stats(&data, r, &s);
    EXPECT_EQ(s.count, 10u);
    EXPECT_EQ(s.minValue, 12105);
    EXPECT_EQ(s.maxValue, 13109);
    EXPECT_EQ(s.sum, 5 * 12107 + 5 * 13107);
    std::vector<SCDPPrc_DataStatsMode> recs = Records(&index);
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[1].minValue, 13105);
    EXPECT_EQ(data->idx[0], 109);
    EXPECT_EQ(data->idx[1], 12);

    // Reaching outside the view is clipped to it; the range's strides are
    // not used to address samples.
    MeboAxisDim wide[3] = {{0, 90, 200}, {0, 14, 99}, {0, -5, 5}};
    s = Init(STATS_MINMAX | STATS_SUM, 0, &index);
    CDPPrc_compute_stats(&data, wide, &s);
    EXPECT_EQ(s.count, 40u);
    EXPECT_EQ(s.minValue, 14100);
    EXPECT_EQ(s.maxValue, 15119);
    EXPECT_EQ(Records(&index).size(), 2u);

    // An empty range leaves min/max at their start values, count 0, and the
    // per-index buffer untouched.
    MeboAxisDim empty[3] = {r[0], r[1], r[2]};
    empty[1].min = 13; empty[1].max = 12;
    SCDPPrc_DataStatsMode e = Init(STATS_MINMAX, 0, &index);
    CDPPrc_compute_stats(&data, empty, &e);
    EXPECT_EQ(e.count, 0u);
    EXPECT_EQ(e.minValue, DBL_MAX);
    EXPECT_EQ(e.maxValue, -DBL_MAX);
    EXPECT_EQ(Records(&index).size(), 2u);

    // Null record: nothing gathered, the cursor still moves.
    ASSERT_EQ(MeboDataPtrSeekCorner(&data, -1), 1);
    EXPECT_EQ(CDPPrc_compute_stats(&data, nullptr, nullptr), 1);
    EXPECT_EQ(data->idx[0], 119);
    EXPECT_EQ(data->idx[1], 10);
    EXPECT_EQ(CDPPrc_compute_stats(nullptr, nullptr, &e), 1);

    // Element size other than 2 or an empty buffer: nothing is gathered.
    Buffer wide32, cleared;
    ASSERT_EQ(MeboDataPtrAllocateCounts(&wide32, 4, 8, 2, 1, 1), 1);
    SCDPPrc_DataStatsMode w = Init(STATS_MINMAX, 0, &index);
    CDPPrc_compute_stats(&wide32, nullptr, &w);
    CDPPrc_compute_stats(&cleared, nullptr, &w);
    CDPPrc_sample_stats(&w, &wide32);
    CDPPrc_sample_stats(&w, &cleared);
    CDPPrc_sample_stats(&w, nullptr);
    CDPPrc_sample_stats(nullptr, &data);
    EXPECT_EQ(w.count, 0u);
    EXPECT_EQ(Records(&index).size(), 2u);
}

TEST(StatisticsTest, SampleStatsPerSample) {
    const int n0 = 50, n1 = 9, n2 = 3;
    Buffer data;
    Fill16(&data, n0, n1, n2, Noise);

    SCDPPrc_DataStatsMode all = Init(STATS_MINMAX | STATS_SUM);
    std::vector<SCDPPrc_DataStatsMode> per(n0, all);
    for (int i0 = 0; i0 < n0; ++i0)
        for (int i1 = 0; i1 < n1; ++i1)
            for (int i2 = 0; i2 < n2; ++i2) {
                const double v = *At<int16_t>(&data, i0, i1, i2);
                RefAdd(&all, v);
                RefAdd(&per[i0], v);
            }

    Buffer index;
    SCDPPrc_DataStatsMode s = Init(STATS_MINMAX | STATS_SUM, 0, &index);
    CDPPrc_sample_stats(&s, &data);
    ExpectSameStats(s, all);
    std::vector<SCDPPrc_DataStatsMode> recs = Records(&index);
    ASSERT_EQ(recs.size(), static_cast<size_t>(n0));
    EXPECT_EQ(index->axis.dim[1].max - index->axis.dim[1].min, 0);
    EXPECT_EQ(index->axis.dim[2].max - index->axis.dim[2].min, 0);
    for (int j = 0; j < n0; ++j) {
        SCOPED_TRACE(j);
        EXPECT_EQ(recs[j].count, static_cast<uint32_t>(n1 * n2));
        EXPECT_EQ(recs[j].indexStats, nullptr);
        ExpectSameStats(recs[j], per[j]);
    }

    // Whole-buffer only; and with extremes (one value per record walk).
    SCDPPrc_DataStatsMode whole = Init(STATS_MINMAX | STATS_SUM);
    CDPPrc_sample_stats(&whole, &data);
    ExpectSameStats(whole, all);
    SCDPPrc_DataStatsMode ext = Init(STATS_MINMAX | STATS_SUM | STATS_EXTREMES, 2, &index);
    CDPPrc_sample_stats(&ext, &data);
    ExpectSameStats(ext, all);
    recs = Records(&index);
    std::vector<double> col;
    for (int i1 = 0; i1 < n1; ++i1)
        for (int i2 = 0; i2 < n2; ++i2) col.push_back(*At<int16_t>(&data, 7, i1, i2));
    std::sort(col.begin(), col.end());
    EXPECT_EQ(recs[7].lowExtreme, col[1]);
    EXPECT_EQ(recs[7].highExtreme, col[col.size() - 2]);
    ExpectSameStats(recs[7], per[7]);
}

TEST(StatisticsTest, TransposedViewGivesSameResults) {
    // The same logical profile (sample, trace) stored traces-innermost and
    // viewed through a swap of axes 0 and 1.
    const int samples = 33, traces = 21;
    Buffer dense, stored;
    Fill16(&dense, samples, traces, 1, Noise);
    Fill16(&stored, traces, samples, 1, [](int t, int s, int p) { return Noise(s, t, p); });
    ASSERT_EQ(MeboDataPtrSwapAxes(&stored, 0, 1), 1);
    ASSERT_EQ(*At<int16_t>(&stored, 4, 7, 0), *At<int16_t>(&dense, 4, 7, 0));
    ASSERT_NE(stored->axis.dim[0].stride, 2);

    for (uint8_t mode : {uint8_t{STATS_MINMAX}, uint8_t{STATS_MINMAX | STATS_SUM},
                         uint8_t{STATS_SUM | STATS_EXTREMES}}) {
        SCOPED_TRACE(mode);
        Buffer ia, ib, sa, sb;
        SCDPPrc_DataStatsMode a = Init(mode, 3, &ia), b = Init(mode, 3, &ib);
        CDPPrc_compute_stats(&dense, nullptr, &a);
        CDPPrc_compute_stats(&stored, nullptr, &b);
        ExpectSameStats(b, a);
        EXPECT_EQ(b.lowExtreme, a.lowExtreme);
        std::vector<SCDPPrc_DataStatsMode> ra = Records(&ia), rb = Records(&ib);
        ASSERT_EQ(ra.size(), static_cast<size_t>(traces));
        ASSERT_EQ(rb.size(), ra.size());
        for (size_t j = 0; j < ra.size(); ++j) ExpectSameStats(rb[j], ra[j]);

        SCDPPrc_DataStatsMode c = Init(mode, 3, &sa), d = Init(mode, 3, &sb);
        CDPPrc_sample_stats(&c, &dense);
        CDPPrc_sample_stats(&d, &stored);
        ExpectSameStats(d, c);
        ExpectSameStats(c, a);
        ra = Records(&sa);
        rb = Records(&sb);
        ASSERT_EQ(ra.size(), static_cast<size_t>(samples));
        ASSERT_EQ(rb.size(), ra.size());
        for (size_t j = 0; j < ra.size(); ++j) {
            ExpectSameStats(rb[j], ra[j]);
            EXPECT_EQ(rb[j].highExtreme, ra[j].highExtreme);
        }
    }
}

TEST(StatisticsTest, NarrowedViews) {
    // Views narrowed inside larger storage: one sample per trace (no
    // contiguous axis left) and an interior block.
    const int n0 = 6, n1 = 10, n2 = 3;
    Buffer data;
    Fill16(&data, n0, n1, n2, Noise);
    struct Case { int lo0, hi0, lo1, hi1; };
    for (const Case c : {Case{2, 2, 0, 9}, Case{1, 4, 3, 7}}) {
        SCOPED_TRACE(c.lo0 * 100 + c.hi0);
        Buffer view;
        ASSERT_EQ(MeboDataPtrShare(&view, &data), 1);
        Mebo3DDataAxis req = MeboDataPtrGetAxis(&data);
        req.dim[0].min = c.lo0; req.dim[0].max = c.hi0;
        req.dim[1].min = c.lo1; req.dim[1].max = c.hi1;
        ASSERT_EQ(MeboDataPtrSetView(&view, &req, 0), 1);

        SCDPPrc_DataStatsMode all = Init(STATS_MINMAX | STATS_SUM);
        std::vector<SCDPPrc_DataStatsMode> perTrace(c.hi1 - c.lo1 + 1, all);
        std::vector<SCDPPrc_DataStatsMode> perSample(c.hi0 - c.lo0 + 1, all);
        for (int i2 = 0; i2 < n2; ++i2)
            for (int i1 = c.lo1; i1 <= c.hi1; ++i1)
                for (int i0 = c.lo0; i0 <= c.hi0; ++i0) {
                    const double v = *At<int16_t>(&data, i0, i1, i2);
                    RefAdd(&all, v);
                    RefAdd(&perTrace[i1 - c.lo1], v);
                    RefAdd(&perSample[i0 - c.lo0], v);
                }
        Buffer ia, ib;
        SCDPPrc_DataStatsMode a = Init(STATS_MINMAX | STATS_SUM, 0, &ia);
        SCDPPrc_DataStatsMode b = Init(STATS_MINMAX | STATS_SUM, 0, &ib);
        CDPPrc_compute_stats(&view, nullptr, &a);
        CDPPrc_sample_stats(&b, &view);
        ExpectSameStats(a, all);
        ExpectSameStats(b, all);
        std::vector<SCDPPrc_DataStatsMode> ra = Records(&ia), rb = Records(&ib);
        ASSERT_EQ(ra.size(), perTrace.size());
        ASSERT_EQ(rb.size(), perSample.size());
        for (size_t j = 0; j < ra.size(); ++j) ExpectSameStats(ra[j], perTrace[j]);
        for (size_t j = 0; j < rb.size(); ++j) ExpectSameStats(rb[j], perSample[j]);
    }
}

TEST(StatisticsTest, StoreIndexStats) {
    SCDPPrc_DataStatsMode recs[3];
    Buffer dummy;
    for (int j = 0; j < 3; ++j) {
        recs[j] = Init(STATS_SUM);
        recs[j].count = 10u + j;
        recs[j].indexStats = &dummy;
    }
    Buffer dest;
    ASSERT_EQ(MeboDataPtrAllocateCounts(&dest, 2, 5, 5, 1, 1), 1);  // replaced
    CDPPrc_store_index_stats(&dest, recs, 3);
    std::vector<SCDPPrc_DataStatsMode> out = Records(&dest);
    ASSERT_EQ(out.size(), 3u);
    for (int j = 0; j < 3; ++j) {
        EXPECT_EQ(out[j].count, 10u + j);
        EXPECT_EQ(out[j].indexStats, nullptr);
    }
    EXPECT_EQ(dest->idx[0], 2);
    CDPPrc_store_index_stats(nullptr, recs, 3);
    CDPPrc_store_index_stats(&dest, nullptr, 3);
    EXPECT_EQ(Records(&dest).size(), 3u);
}

TEST(StatisticsTest, AverageCdp) {
    // Data 4 samples x 3 traces; sums/counts 5 x 2: the walk covers 4 x 2.
    Buffer data, sums, counts;
    Fill16(&data, 4, 3, 1, [](int i, int t, int) { return static_cast<int16_t>(t * 10 + i - 3); });
    ASSERT_EQ(MeboDataPtrAllocate(&sums, 4, 20, 24, 7, 8, 0, 0, 1), 1);
    ASSERT_EQ(MeboDataPtrAllocate(&counts, 4, 0, 4, 0, 1, 0, 0, 1), 1);
    averageCDP(&data, &sums, &counts, false);
    averageCDP(&data, &sums, &counts, false);
    EXPECT_EQ(*At<int32_t>(&sums, 20, 7, 0), -6);
    EXPECT_EQ(*At<int32_t>(&sums, 23, 8, 0), 2 * 10);
    EXPECT_EQ(*At<int32_t>(&sums, 24, 8, 0), 0);  // beyond the common extent
    EXPECT_EQ(*At<int32_t>(&counts, 3, 1, 0), 2);
    EXPECT_EQ(*At<int32_t>(&counts, 4, 1, 0), 0);

    // Divide: truncation toward zero; count 0 keeps the sample; low 16 bits.
    *At<int32_t>(&sums, 20, 7, 0) = -3;
    *At<int32_t>(&sums, 21, 7, 0) = 3;
    *At<int32_t>(&counts, 2, 0, 0) = 0;
    *At<int32_t>(&sums, 23, 7, 0) = 70000;
    *At<int32_t>(&counts, 3, 0, 0) = 1;
    averageCDP(&data, &sums, &counts, true);
    EXPECT_EQ(*At<int16_t>(&data, 0, 0, 0), -1);
    EXPECT_EQ(*At<int16_t>(&data, 1, 0, 0), 1);
    EXPECT_EQ(*At<int16_t>(&data, 2, 0, 0), -1);  // unchanged (2 - 3)
    EXPECT_EQ(*At<int16_t>(&data, 3, 0, 0), static_cast<int16_t>(70000 - 65536));
    EXPECT_EQ(*At<int16_t>(&data, 1, 1, 0), 8);
    EXPECT_EQ(*At<int16_t>(&data, 1, 2, 0), 18);  // trace 2 outside the extent

    // Strided (transposed) sums give the same stacking.
    Buffer d2, s2, c2;
    Fill16(&d2, 3, 2, 1, [](int i, int t, int) { return static_cast<int16_t>(i - 5 * t); });
    ASSERT_EQ(MeboDataPtrAllocateCounts(&s2, 4, 2, 3, 1, 1), 1);
    ASSERT_EQ(MeboDataPtrAllocateCounts(&c2, 4, 3, 2, 1, 1), 1);
    ASSERT_EQ(MeboDataPtrSwapAxes(&s2, 0, 1), 1);
    averageCDP(&d2, &s2, &c2, false);
    EXPECT_EQ(*At<int32_t>(&s2, 2, 1, 0), -3);
    EXPECT_EQ(*At<int32_t>(&c2, 2, 1, 0), 1);

    // Refused inputs change nothing.
    Buffer bad;
    ASSERT_EQ(MeboDataPtrAllocateCounts(&bad, 2, 5, 2, 1, 1), 1);
    averageCDP(&data, &bad, &counts, false);
    averageCDP(nullptr, &sums, &counts, true);
    averageCDP(&data, &sums, nullptr, true);
    EXPECT_EQ(*At<int32_t>(&counts, 1, 1, 0), 2);
}

TEST(StatisticsTest, LinearFit) {
    double a = -1, b = -1;
    const int16_t line[5] = {3, 5, 7, 9, 11};
    EXPECT_EQ(CDPPrc_linear_fit(&a, &b, 5, line, nullptr), 1.0);
    EXPECT_EQ(a, 3.0);
    EXPECT_EQ(b, 2.0);

    const int16_t xs[4] = {10, 8, 6, 4};
    const int16_t down[4] = {1, 2, 3, 4};
    EXPECT_DOUBLE_EQ(CDPPrc_linear_fit(&a, &b, 4, down, xs), -1.0);
    EXPECT_DOUBLE_EQ(b, -0.5);
    EXPECT_DOUBLE_EQ(a, 6.0);

    // y = 1, 3, 2, 5 over x = 0..3: Sxx 5, Syy 8.75, Sxy 5.5.
    const int16_t noisy[4] = {1, 3, 2, 5};
    const double r = CDPPrc_linear_fit(&a, &b, 4, noisy, nullptr);
    EXPECT_DOUBLE_EQ(r, 5.5 / std::sqrt(5.0 * 8.75));
    EXPECT_DOUBLE_EQ(b, 1.1);
    EXPECT_DOUBLE_EQ(a, 2.75 - 1.1 * 1.5);

    const int16_t flat[3] = {-4, -4, -4};
    EXPECT_EQ(CDPPrc_linear_fit(&a, &b, 3, flat, nullptr), 1.0);
    EXPECT_EQ(b, 0.0);
    EXPECT_EQ(a, -4.0);

    EXPECT_EQ(CDPPrc_linear_fit(&a, &b, 1, flat, nullptr), 0.0);
    EXPECT_EQ(b, DBL_MAX);
    EXPECT_EQ(a, 0.0);
    const int16_t sameX[3] = {2, 2, 2};
    b = 0;
    EXPECT_EQ(CDPPrc_linear_fit(&a, &b, 3, noisy, sameX), 0.0);
    EXPECT_EQ(b, DBL_MAX);
    b = 0;
    EXPECT_EQ(CDPPrc_linear_fit(&a, &b, 0, nullptr, nullptr), 0.0);
    EXPECT_EQ(b, DBL_MAX);
    EXPECT_EQ(CDPPrc_linear_fit(nullptr, nullptr, 5, line, nullptr), 1.0);
}

}  // namespace
