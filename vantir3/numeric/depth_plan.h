// Depth resampling along the sample axis, shared by antenna deseparation and
// the topographic (and combined) shift: a conversion depends only on the
// sample geometry, never on the samples, so a caller computes once which
// input samples and which fraction make every output sample (a DepthPlan)
// and then applies that plan to every trace (ApplyDepthPlan), optionally
// moving each trace by its own number of places.
#ifndef VANTIR3_NUMERIC_DEPTH_PLAN_H_
#define VANTIR3_NUMERIC_DEPTH_PLAN_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vantir3/data/data_buffer.h"

namespace vantir3 {

// How an output sample is made from the input samples p (previous) and c
// (current) and the fraction f of the way from p to c.
enum class DepthRule {
    kTruncate,  // p + trunc(f * (c - p))
    kRound,     // p + floor(0.5 + (c - p) * f), the increment limited to +-32767
};

// The conversion of one trace, the same for all traces. Step r makes the
// output sample r places after the output's first (before any shift) from
// the input samples prev[r] and cur[r] (indices counted from the input's
// first sample of the trace; prev[r] < 0 stands for a zero sample) and the
// fraction frac[r], which lies in [0, 1]. prev[r] == cur[r] copies that
// sample (either rule gives it exactly).
struct DepthPlan {
    DepthRule rule = DepthRule::kTruncate;
    std::vector<int32_t> prev;
    std::vector<int32_t> cur;
    std::vector<double> frac;

    int64_t Size() const { return static_cast<int64_t>(cur.size()); }
    void Add(int64_t p, int64_t c, double f) {
        prev.push_back(static_cast<int32_t>(p));
        cur.push_back(static_cast<int32_t>(c));
        frac.push_back(f);
    }
    void Clear() {
        prev.clear();
        cur.clear();
        frac.clear();
    }
    void Reserve(int64_t n) {
        prev.reserve(static_cast<size_t>(n));
        cur.reserve(static_cast<size_t>(n));
        frac.reserve(static_cast<size_t>(n));
    }
};

// What becomes of the output samples of the walk's traces that the plan does
// not write (places before a trace's shifted start or after its end).
enum class Unwritten {
    kKeep,  // they keep their content
    kZero,  // they are set to 0, as if the output had been cleared first
};

// The walk over which a plan is applied. Views are working views (axis 0
// samples, axis 1 traces, axis 2 sections) of 16-bit samples; the trace and
// section ranges must lie inside both views, and every step's indices inside
// the input's sample range.
struct DepthWalk {
    const Mebo3DDataAxis* in;
    const Mebo3DDataAxis* out;
    int32_t firstTrace, lastTrace;
    int32_t firstPlane, lastPlane;
    // Per section and trace (section-major, traces innermost) the number of
    // output places by which the trace moves down (negative: up); null for
    // no shift. Samples moved outside the output are not written.
    const int64_t* shifts;
    Unwritten unwritten = Unwritten::kKeep;
};

// Writes every output sample that the plan makes and that lands inside the
// output. Walks trace by trace when the sample axis is the tighter one in
// memory, otherwise output row by output row with the traces innermost, so
// that memory is read and written in order either way. The sample loops run
// on the best instruction set (numeric/simd_path.h), each giving exactly the
// bits of the scalar formula.
void ApplyDepthPlan(const DepthPlan& plan, const DepthWalk& walk);

// Sets every sample of buf's view to 0 (a 16-bit buffer; others are left
// alone).
void ZeroSamples(MeboDataPtr& buf);

// What a depth conversion (deseparation, topographic shift) does with the
// samples of out that it does not write. With Unwritten::kZero: when the walk
// never runs (an error), out is cleared as this goes out of scope; Ready hands the walk the rule, clearing
// out first instead where the walk does not cover all of out's traces and
// sections (the walk clears only within its own).
class UnwrittenSamples {
public:
    UnwrittenSamples(MeboDataPtr& out, Unwritten unwritten) : out_(out), unwritten_(unwritten) {}
    ~UnwrittenSamples() {
        if (pending_ && unwritten_ == Unwritten::kZero) ZeroSamples(out_);
    }
    UnwrittenSamples(const UnwrittenSamples&) = delete;
    UnwrittenSamples& operator=(const UnwrittenSamples&) = delete;
    // walk's traces and sections are the caller's axis-0 and axis-2 indices.
    void Ready(DepthWalk& walk);

private:
    MeboDataPtr& out_;
    Unwritten unwritten_;
    bool pending_ = true;
};

// trunc(x) limited to lo ... hi; NaN gives lo.
int64_t TruncClamp(double x, int64_t lo, int64_t hi);

// Bound for sample counts derived from a geometry: far beyond any buffer
// (whose byte size is a signed 32-bit number), yet small enough that sums of
// a few of them cannot overflow.
constexpr int64_t kBigCount = int64_t{1} << 40;

}  // namespace vantir3

#endif  // VANTIR3_NUMERIC_DEPTH_PLAN_H_
