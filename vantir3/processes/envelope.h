// Envelope: turns every trace (axis 0) into its amplitude envelope. For each
// sample n a short discrete Hilbert filter estimates the quadrature component
//     h = 0.6366197832271441 * sum over odd k = 1, 3, ..., K of (x[n+k] - x[n-k]) / k
// with indices mirrored at both trace ends (the end sample not repeated), and
// the output is trunc(min(sqrt((x[n]^2 + h^2) / 2.0), 32767) + 0.5). The
// statistics of the output samples can be gathered in the same pass.
//
// Results: 0 done; -1 the input does not cover the output's region, a
// buffer holds no storage or the working memory for one trace could not be
// had: nothing is written and the statistics record is left as it was; -2 a
// view could not be set; -3 element sizes differ or are not 2.
//
// Choices made where the behaviour was left open:
//  - the output's ranges drive the walk and the input is read at the same
//    indices (it must contain them), with its own strides;
//  - lags reach at most S - 1 (S = samples per trace): the sum runs over odd
//    k <= min(K, S - 1), so one reflection at each end always lands inside
//    the trace; a single-sample trace has h = 0;
//  - when the statistics working copies cannot be allocated, the envelope is
//    still written and the record is left as it was.
//
// Each trace is copied once into a mirrored, padded row of doubles, so the
// filter needs no index mirroring; the vector paths divide through a
// reciprocal split in two parts (or, for lags of 2^17 and more, a rounded
// one with an exact correction) and give exactly the bits of the formula
// above.
#ifndef VANTIR3_PROCESSES_ENVELOPE_H_
#define VANTIR3_PROCESSES_ENVELOPE_H_

#include <cstdint>

#include "vantir3/data/data_buffer.h"
#include "vantir3/numeric/statistics.h"

namespace vantir3 {

// The largest Hilbert lag for a filter window: w = window / 2 and
// K = (w / 2) * 2 + 1, truncating divisions (10 -> 5, 8 -> 5, 7 -> 3,
// 0 and 1 -> 1, -4 or less -> below 1, i.e. no quadrature term).
int32_t EnvelopeLag(int32_t window);

// The envelope of `in` into `out` over the output's region; statistics of
// the output samples into *stats when it is not null (per sample position
// when stats->indexStats is set). The vector kernel runs on the processor's
// best instruction set (numeric/simd_path.h); every one gives the same bits.
int Envelope(MeboDataPtr& out, const MeboDataPtr& in, SCDPPrc_DataStatsMode* stats, int32_t window);

// t / k for count values t, computed the way the envelope's vector kernel on
// this processor computes it (without a division instruction where it has a
// fused multiply-add).
void EnvelopeDivideValues(const double* t, int32_t k, double* out, int32_t count);

}  // namespace vantir3

#endif  // VANTIR3_PROCESSES_ENVELOPE_H_
