// Amplitude statistics over the 16-bit samples of data buffers: count,
// minimum, maximum, sum and the N-th smallest and largest values, over the
// whole buffer or per index along one axis.
//
// Every gathering walk runs
//   CDPPrc_create_work_stats -> CDPPrc_accumulate_stat per value
//   -> CDPPrc_finish_stats -> CDPPrc_free_work_stats
// on working copies of the caller's record; the caller's record only receives
// the result. Working copies start from the caller's count, minValue,
// maxValue and sum, so two walks without SCDPPrc_InitStats in between
// continue those; the extremes lists start fresh on every walk.
//
// Robustness rules shared by the gathering functions:
//  - a null statistics record gathers nothing; a null data buffer, a buffer
//    whose element size is not 2 or whose view has no base address gathers
//    nothing and leaves the record (and its indexStats buffer) untouched;
//  - when the working copies or their extremes lists cannot be allocated,
//    nothing is gathered and the record is left untouched (no report);
//  - samples are only ever read inside the data buffer's view.
#ifndef VANTIR3_NUMERIC_STATISTICS_H_
#define VANTIR3_NUMERIC_STATISTICS_H_

#include <cstddef>
#include <cstdint>

#include "vantir3/data/data_buffer.h"
#include "vantir3/export.h"

extern "C" {
enum { STATS_MINMAX = 0x01, STATS_SUM = 0x04, STATS_EXTREMES = 0x08 };

struct SCDPPrc_DataStatsMode {
    uint8_t      mode;
    uint8_t      numExtremes;
    uint32_t     count;
    double       minValue;
    double       maxValue;
    double       sum;
    double       lowExtreme;
    double       highExtreme;
    MeboDataPtr* indexStats;
};

// Zeroes the record, then sets minValue and lowExtreme to +DBL_MAX and
// maxValue and highExtreme to -DBL_MAX. The caller sets mode, numExtremes
// and indexStats afterwards. A null record is ignored.
VANTIR3_API void SCDPPrc_InitStats(SCDPPrc_DataStatsMode* stats);

// Statistics over the samples of `data` inside `range` (three MeboAxisDim
// records for axes 0, 1, 2; null = the buffer's own view). With a non-null
// stats->indexStats, that buffer receives one record per trace (axis-1 index
// of the range), each with a null pointer slot. Samples are walked axis 0
// outermost, then axis 2, then axis 1, and the data cursor is left on the
// last trace start visited, (range max0, range min1, range max2).
// Deviations chosen for safety: a range reaching outside the view is clipped
// to the view (per-trace records are then those of the clipped traces), and
// the view's own strides address the samples (the range's strides are not
// used). Always returns 1.
VANTIR3_API int  CDPPrc_compute_stats(MeboDataPtr* data, const MeboAxisDim* range /* [3] or null */,
                                      SCDPPrc_DataStatsMode* stats);

// Trace stacking. The extent walked on each axis is the smallest of the
// three buffers' extents; all three cursors are moved to their minimum
// corners. divide false: sums += data sample, counts += 1 (32-bit wrap-around
// on overflow). divide true: data sample = sums / counts truncated toward
// zero, stored as its low 16 bits; an element whose count is 0 leaves its
// data sample unchanged. Null buffers, element sizes other than 2 (data) and
// 4 (sums, counts), or a view without a base address: nothing happens.
VANTIR3_API void averageCDP(MeboDataPtr* data, MeboDataPtr* sums, MeboDataPtr* counts, bool divide);
}

// ---- Internal helpers (not exported) -----------------------------------
//
// Working copy: a byte copy of the caller's record whose pointer slot
// (indexStats) holds the copy's own extremes list instead, or null when
// numExtremes is 0. Extremes list: a buffer of doubles, numExtremes along
// axis 0, 2 along axis 1, 1 along axis 2. Row 0 holds the N smallest values
// seen in descending order (element 0 is the N-th smallest, mirrored in
// lowExtreme), row 1 the N largest in ascending order (element 0 is the
// N-th largest, mirrored in highExtreme); unfilled places hold +DBL_MAX in
// row 0 and -DBL_MAX in row 1.

// Adds one value to one working copy. Nothing happens for a null record or
// mode 0. Extremes are only kept when the pointer slot holds a list of at
// least numExtremes doubles per row.
void CDPPrc_accumulate_stat(double value, SCDPPrc_DataStatsMode* stats);

// Returns an array of n + 1 working copies of `tmpl` (index 0 for the whole
// set, 1 + j for index j), each with a fresh extremes list when
// numExtremes != 0. Returns null for a null template, n < 0 or when any
// allocation fails (nothing is left allocated then).
SCDPPrc_DataStatsMode* CDPPrc_create_work_stats(const SCDPPrc_DataStatsMode* tmpl, int n);

// Copies working copy 0 into `stats` (keeping stats->indexStats) and, when
// stats->indexStats is non-null and n > 0, stores copies 1 .. n into it with
// CDPPrc_store_index_stats. Null arguments are ignored.
void CDPPrc_finish_stats(SCDPPrc_DataStatsMode* stats, SCDPPrc_DataStatsMode* work, int n);

// Releases the n + 1 working copies made by CDPPrc_create_work_stats (same
// n), their extremes lists and the array. A null array is ignored.
void CDPPrc_free_work_stats(SCDPPrc_DataStatsMode* work, int n);

// Gathers runs of 16-bit values into the working copies made by
// CDPPrc_create_work_stats(tmpl, n): every value into work[0] and, when
// n > 0, value j of each run (runs are then n values long) into work[1 + j],
// with the results of CDPPrc_accumulate_stat value by value in run order.
// Where the order cannot show (no extremes lists, and sums that stay exact
// whole numbers over up to `values` values), runs are reduced to integer
// minimum, maximum and sum, folded into the copies by Finish; otherwise
// (and when the scratch memory cannot be had) the values go in one by one.
namespace vantir3 {
class RunStats {
public:
    RunStats(SCDPPrc_DataStatsMode* work, int n, int64_t values);
    ~RunStats();
    RunStats(const RunStats&) = delete;
    RunStats& operator=(const RunStats&) = delete;
    // Adds `count` values, `step` elements apart (count == n when n > 0).
    void Add(const int16_t* values, int32_t count, ptrdiff_t step);
    // Folds the integer reductions in; call once, after the last run.
    void Finish();

private:
    SCDPPrc_DataStatsMode* work_;
    int n_;
    uint64_t added_ = 0;  // values reduced in integers
    int16_t* lo_ = nullptr;
    int16_t* hi_ = nullptr;
    int64_t* sum_ = nullptr;
};
}  // namespace vantir3

// Releases `dest` and reallocates it as n whole records along axis 0 (1 along
// axes 1 and 2, element size sizeof(SCDPPrc_DataStatsMode)); element j is
// records[j] with its pointer slot set to null. The cursor ends on the last
// record. A null dest, or null records with n > 0, is ignored; when the
// allocation fails dest is left empty.
void CDPPrc_store_index_stats(MeboDataPtr* dest, const SCDPPrc_DataStatsMode* records, int n);

// Whole-buffer statistics over the view of `data`; with a non-null
// stats->indexStats also one record per sample index (axis 0), stored along
// axis 0 of that buffer. Samples are walked axis 0 outermost, then axis 1,
// then axis 2. A null record or buffer does nothing.
void CDPPrc_sample_stats(SCDPPrc_DataStatsMode* stats, const MeboDataPtr* data);

// Least-squares line y = intercept + slope * x over n points; x null means
// x = 0, 1, ..., n - 1. Returns Pearson's correlation coefficient. When the x
// values do not vary (n = 1, or n <= 0 or y null): slope = +DBL_MAX,
// intercept = 0, returns 0. When y does not vary: returns 1.0 (slope 0).
// Null intercept or slope pointers are not written.
double CDPPrc_linear_fit(double* intercept, double* slope, int n, const int16_t* y, const int16_t* x);

#endif  // VANTIR3_NUMERIC_STATISTICS_H_
