// Sample reductions for display: shrink a buffer of signed 16-bit samples to
// the number of positions that the caller's output holds along one axis.
//
//  - min-max reduction (axis 0): keeps the extremes of consecutive segments,
//    in their time order, so that peaks stay visible;
//  - decimation (axis 0): picks input samples;
//  - average reduction (axis 0 or 1): replaces groups of samples (or of
//    traces) by their rounded mean.
//
// Ni and No are the numbers of input and output positions along the reduced
// axis (max - min + 1 of the caller's buffers) and R = Ni / No (double) is
// the reduction factor. The two other axes are matched: input and output are
// narrowed to their common index ranges on them, and only there is the output
// written. The reduced axis is never narrowed.
//
// Results:
//    0  done; the output's view is unchanged
//    1  done; the output reached beyond the input on a matched axis and the
//       caller's output now views the common region
//   -1  R <= 1, nothing to reduce (min-max reduction and decimation); also
//       an average-reduction axis other than 0 or 1, and, for any
//       reduction, a per-call table that could not be allocated (nothing
//       written)
//   -2  no common range on a matched axis; also a buffer without storage or
//       an empty reduced axis (Ni or No below 1)
//   -3  element sizes differ, or are equal but not 2 (only 16-bit samples)
//   -4  narrowing the output to the common region failed
//   -5  narrowing the input to the common region failed
//   -6  average reduction: R * 32767 > 2147483647; any reduction: the final
//       narrowing of the caller's output failed
// On failure the caller's buffers are unchanged (apart from code -6 after the
// walk, where the output samples are already written).
//
// Choices made where the behaviour was left open:
//  - the average reduction never lets a group sum wrap: a group of R + 1
//    samples of -32768 near the R limit gives its true mean;
//  - no reduction ever writes more than No output positions per line, and
//    the average reduction writes at most Ni (the rest stay as they were);
//  - the output must not share samples with the input.
//
// The tables below are built once per call; blocks of lines are then reduced
// together in vector lanes (see reductions.cc), every lane doing exactly
// what the per-line rule does.
#ifndef VANTIR3_PROCESSES_REDUCTIONS_H_
#define VANTIR3_PROCESSES_REDUCTIONS_H_

#include <cstdint>

#include "vantir3/data/data_buffer.h"

namespace vantir3 {

// The vector kernels run on the processor's best instruction set
// (numeric/simd_path.h); every one gives the same bits.
int MinMaxReduction(MeboDataPtr& out, const MeboDataPtr& in);
int Decimation(MeboDataPtr& out, const MeboDataPtr& in);
// axis 0: groups of samples within each trace; axis 1: groups of traces at
// each sample index.
int AverageReduction(MeboDataPtr& out, const MeboDataPtr& in, int axis);

// ---- Per-call tables ------------------------------------------------------
// They depend only on Ni, No and R, so each reduction builds its table once
// per call and every line reuses it. Each function writes at most `capacity`
// entries and returns how many it wrote.

// One segment of the min-max reduction: it ends after input sample end - 1
// (end counted from 1) and writes two samples (pair) or one (single).
struct MinMaxSegment {
    int32_t end;
    bool pair;
};
// Segments of a line of ni samples reduced to no: pairs end at the first
// count >= next * R (next = 2, 4, ...) or at the last sample; for odd no the
// last segment writes one sample. At most (no + 1) / 2 entries.
int32_t MinMaxSegments(int32_t ni, int32_t no, double r, MinMaxSegment* seg, int32_t capacity);

// Input index of each output sample of the decimation: the first index j
// with j >= w * R for output w, and the last input index for the last output
// when nothing else reached it. At most no entries.
int32_t DecimationIndices(int32_t ni, int32_t no, double r, int32_t* index, int32_t capacity);

// End (exclusive input index) of each group of the average reduction: groups
// of floor(R) and floor(R) + 1 samples, the carried fraction choosing the
// longer ones. At most min(ni, no) entries; a partial group at the end of
// the line writes nothing.
int32_t AverageGroupEnds(int32_t ni, int32_t no, double r, int32_t* end, int32_t capacity);

}  // namespace vantir3

#endif  // VANTIR3_PROCESSES_REDUCTIONS_H_
