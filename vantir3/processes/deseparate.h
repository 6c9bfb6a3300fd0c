// Antenna deseparation: converts traces whose samples are equally spaced in
// two-way travel time into traces whose samples are equally spaced in depth,
// allowing for the distance between transmitter and receiver.
//
// Orientation: these conversions resample along axis 1 of the caller's
// buffers (the sample axis) and step across traces along axis 0; axis 2 is a
// stack of independent sections. Internally the working views have axes 0
// and 1 exchanged, so that "working axis 0" is the sample axis.
//
// The depth resampling machinery below (DepthPlan, ApplyDepthPlan) is shared
// with the topographic shift: a conversion depends only on the sample
// geometry, never on the samples, so each call computes once which input
// samples and which fraction make every output sample, and then applies
// that plan to all traces.
#ifndef VANTIR3_PROCESSES_DESEPARATE_H_
#define VANTIR3_PROCESSES_DESEPARATE_H_

#include <cstdint>
#include <vector>

#include "vantir3/data/data_buffer.h"
#include "vantir3/framework/param_table.h"
#include "vantir3/framework/status.h"

// Depth of a reflector whose echo arrives after two-way time t (ns) with the
// antennas s metres apart, at velocity v (m/ns): sqrt(((v*t)^2 - s^2) / 4),
// or 0 when that radicand is not positive (v*t <= s, or NaN).
double ReflectorDepth(double v, double t, double s);

// Prepares working views of out and in. outView and inView must hold a
// buffer or be cleared; they become further references to out and in.
// Flags: 8 requires equal element sizes (else -3); any of 1, 2, 4 narrows
// both views to their common axis-0 range (-2 when there is none; -4 / -5
// when the output / input view could not be re-viewed). The caller's buffers
// are not changed. 0 on success. The caller releases both views in every
// case.
int SetBoundingBox(const MeboDataPtr& out, const MeboDataPtr& in, MeboDataPtr& outView,
                   MeboDataPtr& inView, int flags);

namespace vantir3 {
extern const ProcessDecl kDeseparateDecl;

// Converts every trace of in (caller's axis 1 = samples, axis 0 = traces)
// into out, with velocity v (m/ns), antenna separation s (m), time-zero
// position t0 (samples, counted from 1) and sample interval dt (ns). Input
// and output keep their own sample ranges: input samples m..M become output
// samples o..O.
//
// Per trace: the samples before time zero are copied unchanged; from the
// first sample at or after time zero on, the trace is resampled to depths
// D, 2D, 3D, ... where D is the depth spacing of the last two input samples,
// by linear interpolation truncated toward zero. When the converted trace
// would not fit, up to trunc(t0) leading samples are dropped. Output samples
// that the conversion does not reach (input exhausted first) keep their
// content; the input is never modified.
//
// Traces and sections are matched by index: the walk covers the traces and
// sections that input and output have in common, and output traces outside
// them are left alone.
//
// Results: 0 done; kDepthNotConverted when the geometry has no depth scale
// (a single input sample per trace, or v*dt*N <= s so that the depth spacing
// D is not positive): every common trace is then copied unchanged, sample by
// sample from the first, as far as the shorter of the two traces reaches;
// kDepthBadGeometry for unusable numbers (output untouched); -1 a buffer holds
// no storage or input and output share no trace or section; -3 a buffer does
// not hold 16-bit samples.
int Deseparate(MeboDataPtr& out, const MeboDataPtr& in, double v, double s, double t0, double dt);

// Sets every sample of buf's view to 0 (a 16-bit buffer; others are left
// alone). The process classes clear their fresh output with it, so that
// samples a conversion does not reach are 0 rather than leftover memory.
void ZeroSamples(MeboDataPtr& buf);

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
};

// Instruction sets for ApplyDepthPlan; every one gives the same samples.
enum class DepthIsa { kBest, kBaseline, kAvx2, kAvx512 };

// Writes every output sample that the plan makes and that lands inside the
// output. Walks trace by trace when the sample axis is the tighter one in
// memory, otherwise output row by output row with the traces innermost, so
// that memory is read and written in order either way; the samples are the
// same. isa selects the vectorised code (kBest: the widest the processor
// has); false, with nothing written, when the processor lacks it.
bool ApplyDepthPlan(const DepthPlan& plan, const DepthWalk& walk, DepthIsa isa = DepthIsa::kBest);

// trunc(x) limited to lo ... hi; NaN gives lo.
int64_t TruncClamp(double x, int64_t lo, int64_t hi);

// Bound for sample counts derived from a geometry: far beyond any buffer
// (whose byte size is a signed 32-bit number), yet small enough that sums of
// a few of them cannot overflow.
constexpr int64_t kBigCount = int64_t{1} << 40;

// Local working views that are released when the holder goes out of scope.
template <int N>
struct WorkingViews {
    MeboDataPtr view[N];
    WorkingViews() {
        for (MeboDataPtr& v : view) MeboDataPtrClear(&v);
    }
    ~WorkingViews() {
        for (MeboDataPtr& v : view) MeboDataPtrRelease(&v);
    }
    WorkingViews(const WorkingViews&) = delete;
    WorkingViews& operator=(const WorkingViews&) = delete;
};

}  // namespace vantir3

// The deseparation process ("ANDSEP"): one parameter, the velocity VELOC@ in
// m/ns (0.003 ... 0.3), set to the declared default 0.1 by the constructor.
// Its declaration ends in a units line ("m/ns"), which the declaration
// parser refuses, so the toolbox's SetProcessParamsToDefaults leaves the
// velocity out of the string it builds and the current value stays.
// Reads timeZeroSample, sampleInterval and antennaSeparation from its
// source; -201 when the source gives none. Its output is cleared before the
// conversion, so unreached samples are 0.
class CCdpPrcDeSeparate : public vantir3::CTableProcess {
public:
    CCdpPrcDeSeparate();
    int ProcessData(MeboDataPtr& out, MeboDataPtr& in, MeboDataPtr* aux) override;

private:
    double* ParamSlot(uint32_t index) override;

    double velocity_;
};

#endif  // VANTIR3_PROCESSES_DESEPARATE_H_
