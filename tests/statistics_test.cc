#include "vantir3/numeric/statistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "tests/support/simd_targets.h"
#include "tests/support/trace_checks.h"
#include "vantir3/numeric/statistics_kernels.h"

namespace {

using vantir3_test::MakeBuffer;
using vantir3_test::Owned;
using vantir3_test::ProfileSample;
using Stats = SCDPPrc_DataStatsMode;

template <typename T>
T* At(const MeboDataPtr& b, int i0, int i1, int i2) {
    const Mebo3DDataAxis& a = b.axis;
    return reinterpret_cast<T*>(a.base + (i0 - a.dim[0].min) * a.dim[0].stride +
                                (i1 - a.dim[1].min) * a.dim[1].stride + (i2 - a.dim[2].min) * a.dim[2].stride);
}

// A record as SCDPPrc_InitStats leaves it, then set up by the caller.
Stats Init(uint8_t mode, uint8_t numExtremes = 0, MeboDataPtr* index = nullptr, double sum = 0) {
    return {mode, numExtremes, 0, DBL_MAX, -DBL_MAX, sum, DBL_MAX, -DBL_MAX, index};
}

// The records of an index-statistics buffer; each has a null pointer slot.
std::vector<Stats> Records(const MeboDataPtr& index) {
    const Mebo3DDataAxis& a = index.axis;
    EXPECT_EQ(a.elemSize, static_cast<int32_t>(sizeof(Stats)));
    if (a.elemSize != static_cast<int32_t>(sizeof(Stats)) || a.base == nullptr) return {};
    std::vector<Stats> out;
    for (int j = a.dim[0].min; j <= a.dim[0].max; ++j) {
        out.emplace_back();
        std::memcpy(&out.back(), At<uint8_t>(index, j, a.dim[1].min, a.dim[2].min), sizeof(Stats));
        EXPECT_EQ(out.back().indexStats, nullptr);
    }
    return out;
}

// count, minimum, maximum, sum and the two extremes.
std::vector<double> Got(const Stats& s) {
    return {double(s.count), s.minValue, s.maxValue, s.sum, s.lowExtreme, s.highExtreme};
}

const int kTraceWalk[3] = {0, 2, 1};   // compute_stats: samples, planes, traces innermost
const int kSampleWalk[3] = {0, 1, 2};  // sample_stats: samples, traces, planes innermost
const uint8_t kN = 3;                  // extremes kept by the definition checks

// The values of the view in walk `order` (outermost first): all of them
// (entry 0) and those of each index j along `axis` (entry 1 + j).
std::vector<std::vector<double>> Walk(const MeboDataPtr& b, int axis, const int order[3]) {
    const MeboAxisDim* d = b.axis.dim;
    std::vector<std::vector<double>> values(d[axis].max - d[axis].min + 2);
    int i[3];
    for (i[order[0]] = d[order[0]].min; i[order[0]] <= d[order[0]].max; ++i[order[0]])
        for (i[order[1]] = d[order[1]].min; i[order[1]] <= d[order[1]].max; ++i[order[1]])
            for (i[order[2]] = d[order[2]].min; i[order[2]] <= d[order[2]].max; ++i[order[2]]) {
                const double v = *At<int16_t>(b, i[0], i[1], i[2]);
                values[0].push_back(v);
                values[1 + i[axis] - d[axis].min].push_back(v);
            }
    return values;
}

// The definition over values added one by one to a start sum: count, minimum,
// maximum, sum, N-th smallest and N-th largest (+-DBL_MAX while unset).
std::vector<double> Want(std::vector<double> v, double startSum) {
    const double sum = std::accumulate(v.begin(), v.end(), startSum);
    std::sort(v.begin(), v.end());
    const bool few = v.size() < kN;
    return {double(v.size()), v.front(), v.back(), sum, few ? DBL_MAX : v[kN - 1], few ? -DBL_MAX : v[v.size() - kN]};
}

// Both gatherings, whole (with and without per-index records) and per index,
// against the definition: from a start sum of 0, and of 1e16, where every
// addition rounds so that only the documented walk order gives its sums.
void ExpectMatchesDefinition(MeboDataPtr& data) {
    for (double start : {0.0, 1e16})
        for (bool perSample : {false, true}) {
            SCOPED_TRACE(std::string(perSample ? "sample_stats from " : "compute_stats from ") + std::to_string(start));
            const auto values = Walk(data, perSample ? 0 : 1, perSample ? kSampleWalk : kTraceWalk);
            Owned index;
            for (MeboDataPtr* slot : {static_cast<MeboDataPtr*>(nullptr), &index.b}) {
                Stats s = Init(STATS_MINMAX | STATS_SUM | STATS_EXTREMES, kN, slot, start);
                if (perSample) CDPPrc_sample_stats(&s, &data);
                EXPECT_TRUE(perSample || CDPPrc_compute_stats(&data, nullptr, &s) == 1);
                EXPECT_EQ(Got(s), Want(values[0], start));
                EXPECT_EQ(s.indexStats, slot);
            }
            const std::vector<Stats> recs = Records(index.b);
            ASSERT_EQ(recs.size() + 1, values.size());
            for (size_t j = 0; j < recs.size(); ++j) EXPECT_EQ(Got(recs[j]), Want(values[1 + j], start)) << j;
        }
}

// The vector reductions on every target against the one-by-one loop: every
// part, runs shorter than a vector, odd lengths, longer than a 32-bit
// partial sum's chunk, the extreme samples (sums of 32768 x -32768), and
// accumulators that already hold values.
TEST(StatisticsTest, VectorReductionsMatchTheLoopOnEveryTarget) {
    using vantir3::RunParts;
    std::vector<int16_t> x(70001);
    uint32_t h = 5;
    for (int16_t& v : x) {
        h = h * 1664525u + 1013904223u;
        v = (h >> 29) == 0 ? int16_t(-32768) : (h >> 29) == 1 ? int16_t(32767) : int16_t(h >> 16);
    }
    std::vector<int16_t> low(40000, -32768), high(40000, 32767);
    const int64_t lengths[] = {0, 1, 3, 7, 8, 15, 16, 17, 31, 33, 64, 65, 1023, 32768, 32769, 70001};
    const int vectors = vantir3_test::ForEachSimdTarget([&] {
        for (RunParts parts : {RunParts::kMinMax, RunParts::kSum, RunParts::kBoth}) {
            const bool mm = parts != RunParts::kSum, sums = parts != RunParts::kMinMax;
            for (const std::vector<int16_t>* src : {&x, &low, &high}) {
                for (int64_t n : lengths) {
                    if (n > static_cast<int64_t>(src->size())) continue;
                    const int16_t* p = src->data() + (n % 2);  // odd addresses too
                    n -= n % 2;
                    int16_t lo = 100, hi = -100, wantLo = 100, wantHi = -100;
                    int64_t sum = 7, wantSum = 7;
                    std::vector<int16_t> los(n, 5), his(n, -5), wantLos(los), wantHis(his);
                    std::vector<int64_t> sumsAt(n, -3), wantSums(sumsAt);
                    for (int64_t i = 0; i < n; ++i) {
                        if (mm) wantLo = std::min(wantLo, p[i]), wantHi = std::max(wantHi, p[i]);
                        if (sums) wantSum += p[i];
                        if (mm) wantLos[i] = std::min(wantLos[i], p[i]), wantHis[i] = std::max(wantHis[i], p[i]);
                        if (sums) wantSums[i] += p[i];
                    }
                    vantir3::ReduceSamples(p, n, parts, &lo, &hi, &sum);
                    vantir3::ReduceSamplesIndexed(p, n, parts, los.data(), his.data(), sumsAt.data());
                    ASSERT_EQ(std::vector<int64_t>({lo, hi, sum}), std::vector<int64_t>({wantLo, wantHi, wantSum}))
                        << n << " parts " << int(parts);
                    ASSERT_EQ(los, wantLos) << n;
                    ASSERT_EQ(his, wantHis) << n;
                    ASSERT_EQ(sumsAt, wantSums) << n;
                }
            }
        }
    });
    EXPECT_GE(vectors, 1);
}

TEST(StatisticsTest, InitAccumulateAndExtremesLists) {
    Stats s;
    std::memset(&s, 0x5a, sizeof s);
    SCDPPrc_InitStats(&s);
    EXPECT_TRUE(s.mode + s.numExtremes == 0 && s.indexStats == nullptr);
    CDPPrc_accumulate_stat(4.0, &s);  // mode 0: not even the count
    s.mode = 0x02;                    // no meaning: counts only
    CDPPrc_accumulate_stat(7.0, &s);
    EXPECT_EQ(Got(s), (std::vector<double>{1, DBL_MAX, -DBL_MAX, 0, DBL_MAX, -DBL_MAX}));
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
    CDPPrc_free_work_stats(work, 2);
    EXPECT_EQ(result.indexStats, &index.b);
    ASSERT_EQ(Records(index.b).size(), 2u);
    EXPECT_EQ(std::make_pair(Records(index.b)[0].count, Records(index.b)[0].lowExtreme), std::make_pair(4u, 7.0));
    // A slot that is not a list of doubles is never written through; null and
    // negative arguments are refused.
    Stats bogus = Init(STATS_EXTREMES, 4, &index.b);
    CDPPrc_accumulate_stat(1, &bogus);
    EXPECT_EQ(bogus.lowExtreme, DBL_MAX);
    EXPECT_TRUE(CDPPrc_create_work_stats(nullptr, 3) == nullptr && CDPPrc_create_work_stats(&tmpl, -1) == nullptr);
    CDPPrc_store_index_stats(&index.b, nullptr, 2);
    EXPECT_EQ(Records(index.b).size(), 2u);
}

// Dense, transposed (strided) and narrowed views, with both ends of the
// sample range, against the definition.
TEST(StatisticsTest, GatheringMatchesDefinitionInEveryView) {
    Owned data = MakeBuffer(0, 36, 0, 3, 0, 1, ProfileSample);
    *At<int16_t>(data.b, 5, 2, 1) = -32768;
    *At<int16_t>(data.b, 6, 3, 0) = 32767;
    // The start sum of 1e16 tells the two walk orders apart.
    ASSERT_NE(Want(Walk(data.b, 0, kTraceWalk)[0], 1e16), Want(Walk(data.b, 0, kSampleWalk)[0], 1e16));
    ExpectMatchesDefinition(data.b);
    // A second walk without InitStats continues count and sum; mode 0 gathers
    // nothing but still produces the per-trace records.
    Owned index;
    Stats s = Init(STATS_MINMAX, 0, &index.b), none = Init(0, 0, &index.b);
    for (int walk = 0; walk < 2; ++walk) CDPPrc_compute_stats(&data.b, nullptr, &s);
    EXPECT_EQ(s.count, 2u * 37u * 4u * 2u);
    EXPECT_EQ(std::vector<int>(data.b.idx, data.b.idx + 3), (std::vector<int>{36, 0, 1}));  // last trace start
    CDPPrc_compute_stats(&data.b, nullptr, &none);
    EXPECT_EQ(none.count, 0u);
    ASSERT_EQ(Records(index.b).size(), 4u);
    EXPECT_EQ(Records(index.b)[3].minValue, DBL_MAX);
    Owned samples = MakeBuffer(0, 32, 0, 20, 0, 0, ProfileSample), stored = vantir3_test::Transposed(samples.b);
    ExpectMatchesDefinition(stored.b);
    // Views narrowed inside larger storage: one sample per trace (no
    // contiguous axis left), and an interior block.
    Owned big = MakeBuffer(0, 5, 0, 9, 0, 2, ProfileSample);
    for (const auto& c : {std::vector<int>{2, 2, 0, 9}, std::vector<int>{1, 4, 3, 7}}) {
        Owned view;
        ASSERT_EQ(MeboDataPtrShare(&view.b, &big.b), 1);
        Mebo3DDataAxis req = big.b.axis;
        req.dim[0] = {req.dim[0].stride, c[0], c[1]};
        req.dim[1] = {req.dim[1].stride, c[2], c[3]};
        ASSERT_EQ(MeboDataPtrSetView(&view.b, &req, 0), 1);
        ExpectMatchesDefinition(view.b);
    }
    // A lowExtreme already set by the caller (lists start fresh) makes the
    // outcome order-dependent: samples outermost, traces innermost visits
    // 5 (rejected), -1, 4, 10 (rejected) -> 4; trace-major would accept 10.
    const int16_t vals[2][2] = {{5, 4}, {-1, 10}};  // [trace][sample]
    Owned small = MakeBuffer(0, 1, 0, 1, 0, 0, [&](int32_t i, int32_t t, int32_t) { return vals[t][i]; });
    Stats cont = Init(STATS_EXTREMES | STATS_MINMAX, 2);
    cont.lowExtreme = 0;
    CDPPrc_compute_stats(&small.b, nullptr, &cont);
    EXPECT_EQ(std::make_pair(cont.lowExtreme, cont.minValue), std::make_pair(4.0, -1.0));
}

TEST(StatisticsTest, ComputeStatsRangesAndRefusals) {
    Owned data = MakeBuffer(100, 119, 10, 15, 0, 0, [](int32_t i, int32_t j, int) { return int16_t(j * 1000 + i); });
    const MeboAxisDim* v = data.b.axis.dim;
    const MeboAxisDim r[3] = {{v[0].stride, 105, 109}, {v[1].stride, 12, 13}, v[2]};
    Owned index;
    Stats s = Init(STATS_MINMAX | STATS_SUM, 0, &index.b);
    CDPPrc_compute_stats(&data.b, r, &s);
    EXPECT_EQ(Got(s), (std::vector<double>{10, 12105, 13109, 5 * 12107 + 5 * 13107, DBL_MAX, -DBL_MAX}));
    ASSERT_EQ(Records(index.b).size(), 2u);
    EXPECT_EQ(Records(index.b)[1].minValue, 13105);
    EXPECT_EQ(std::vector<int>(data.b.idx, data.b.idx + 2), (std::vector<int>{109, 12}));
    // Outside the view: clipped (records of the clipped traces 14 and 15),
    // the range's strides unused. Empty range: start values stay, count 0,
    // records untouched.
    const MeboAxisDim wide[3] = {{0, 90, 200}, {0, 14, 99}, {0, -5, 5}}, empty[3] = {r[0], {0, 13, 12}, r[2]};
    for (const auto& c : {std::make_pair(wide, std::vector<double>{40, 14100, 15119, 0, DBL_MAX, -DBL_MAX}),
                          std::make_pair(empty, std::vector<double>{0, DBL_MAX, -DBL_MAX, 0, DBL_MAX, -DBL_MAX})}) {
        s = Init(STATS_MINMAX, 0, &index.b);
        CDPPrc_compute_stats(&data.b, c.first, &s);
        EXPECT_EQ(Got(s), c.second);
        EXPECT_EQ(Records(index.b).size(), 2u);
    }
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
    Owned data = MakeBuffer(0, 3, 0, 2, 0, 0, [](int32_t i, int32_t t, int32_t) { return int16_t(t * 10 + i - 3); });
    Owned sums, counts = vantir3_test::Zeroed(4, 5, 2);
    ASSERT_EQ(MeboDataPtrAllocate(&sums.b, 4, 20, 24, 7, 8, 0, 0, 1), 1);
    auto sum = [&](int i, int j) -> int32_t& { return *At<int32_t>(sums.b, i, j, 0); };
    auto count = [&](int i, int j) -> int32_t& { return *At<int32_t>(counts.b, i, j, 0); };
    for (int pass = 0; pass < 2; ++pass) averageCDP(&data.b, &sums.b, &counts.b, false);
    // The last two: beyond the common extent.
    EXPECT_EQ(std::vector<int32_t>({sum(20, 7), sum(23, 8), count(3, 1), sum(24, 8), count(4, 1)}),
              (std::vector<int32_t>{-6, 20, 2, 0, 0}));
    sum(20, 7) = -3, sum(21, 7) = 3, count(2, 0) = 0, sum(23, 7) = 70000, count(3, 0) = 1;
    averageCDP(&data.b, &sums.b, &counts.b, true);
    // -3 / 2 toward zero, 3 / 2, count 0: unchanged, the low 16 bits of 70000;
    // trace 2 lies outside the extent.
    const std::vector<int16_t> want[3] = {{-1, 1, -1, 70000 - 65536}, {7, 8, 9, 10}, {17, 18, 19, 20}};
    for (int t = 0; t < 3; ++t) EXPECT_EQ(vantir3_test::Samples(data.b, t), want[t]) << t;
    // Strided (transposed) sums; refused element sizes and null buffers change nothing.
    Owned d2 = MakeBuffer(0, 2, 0, 1, 0, 0, [](int32_t i, int32_t t, int32_t) { return int16_t(i - 5 * t); });
    Owned s2 = vantir3_test::Zeroed(4, 2, 3), bad = vantir3_test::Zeroed(2, 5, 2);
    ASSERT_EQ(MeboDataPtrSwapAxes(&s2.b, 0, 1), 1);
    averageCDP(&d2.b, &s2.b, &counts.b, false);
    EXPECT_EQ(std::make_pair(*At<int32_t>(s2.b, 2, 1, 0), count(2, 1)), std::make_pair(-3, 3));
    averageCDP(&data.b, &bad.b, &counts.b, false);
    averageCDP(nullptr, &sums.b, &counts.b, true);
    averageCDP(&data.b, &sums.b, nullptr, true);
    EXPECT_EQ(count(2, 1), 3);
}

TEST(StatisticsTest, LinearFit) {
    const int16_t line[5] = {3, 5, 7, 9, 11}, xs[4] = {10, 8, 6, 4}, down[4] = {1, 2, 3, 4};
    const int16_t noisy[4] = {1, 3, 2, 5}, flat[3] = {-4, -4, -4};  // noisy: Sxx 5, Syy 8.75, Sxy 5.5
    struct Case { int n; const int16_t *y, *x; double r, intercept, slope; };
    // y constant: slope 0, r 1; x constant (one point, constant x values, no
    // points): no line.
    for (const Case& c : {Case{5, line, nullptr, 1, 3, 2}, Case{4, down, xs, -1, 6, -0.5},
                          Case{4, noisy, nullptr, 5.5 / std::sqrt(5.0 * 8.75), 2.75 - 1.1 * 1.5, 1.1},
                          Case{3, flat, nullptr, 1, -4, 0}, Case{1, noisy, nullptr, 0, 0, DBL_MAX},
                          Case{3, noisy, flat, 0, 0, DBL_MAX}, Case{0, nullptr, nullptr, 0, 0, DBL_MAX}}) {
        double a = 5, b = 5;
        EXPECT_EQ(CDPPrc_linear_fit(&a, &b, c.n, c.y, c.x), c.r) << c.n;
        EXPECT_EQ(std::make_pair(a, b), std::make_pair(c.intercept, c.slope)) << c.n;
    }
    EXPECT_EQ(CDPPrc_linear_fit(nullptr, nullptr, 5, line, nullptr), 1.0);
}

}  // namespace
