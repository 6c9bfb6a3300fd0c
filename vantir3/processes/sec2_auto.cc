#include "vantir3/processes/sec2_auto.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>

#include "kol_utils/kol_utils.h"
#include "vantir3/framework/toolbox.h"
#include "vantir3/numeric/statistics.h"
#include "vantir3/processes/sec2_gain.h"

namespace vantir3 {

namespace {

constexpr int32_t kRecordSize = static_cast<int32_t>(sizeof(SCDPPrc_DataStatsMode));

// A buffer released when the holder goes out of scope.
struct ScratchBuffer {
    MeboDataPtr buf;
    ScratchBuffer() { MeboDataPtrClear(&buf); }
    ~ScratchBuffer() { MeboDataPtrRelease(&buf); }
    ScratchBuffer(const ScratchBuffer&) = delete;
    ScratchBuffer& operator=(const ScratchBuffer&) = delete;
};

bool HoldsSamples(const MeboDataPtr& data) {
    return data.storage != nullptr && data.axis.base != nullptr && data.axis.elemSize == 2;
}

// Number of records along axis 0 of a statistics buffer, or 0 when it holds
// no records.
int64_t RecordCount(const MeboDataPtr* stats) {
    if (stats == nullptr || stats->storage == nullptr || stats->axis.base == nullptr ||
        stats->axis.elemSize != kRecordSize)
        return 0;
    const MeboAxisDim* d = stats->axis.dim;
    for (int k = 0; k < 3; ++k)
        if (d[k].max < d[k].min) return 0;
    return int64_t{d[0].max} - d[0].min + 1;
}

inline SCDPPrc_DataStatsMode LoadRecord(const uint8_t* p) {
    SCDPPrc_DataStatsMode r;
    std::memcpy(&r, p, sizeof r);
    return r;
}

// Folds the records of `from` into those of `into`, index by index along
// axis 0 from both minimum corners until either ends.
void MergeRecords(MeboDataPtr& into, const MeboDataPtr& from) {
    const int64_t n = RecordCount(&into) < RecordCount(&from) ? RecordCount(&into)
                                                                : RecordCount(&from);
    uint8_t* dst = into.axis.base;
    const uint8_t* src = from.axis.base;
    for (int64_t i = 0; i < n; ++i, dst += into.axis.dim[0].stride, src += from.axis.dim[0].stride) {
        SCDPPrc_DataStatsMode a = LoadRecord(dst);
        const SCDPPrc_DataStatsMode b = LoadRecord(src);
        a.count += b.count;
        a.sum += b.sum;
        if (b.maxValue > a.maxValue) a.maxValue = b.maxValue;
        if (b.minValue < a.minValue) a.minValue = b.minValue;
        std::memcpy(dst, &a, sizeof a);
    }
}

// The peak curve of a statistics buffer and the numbers the set-up takes
// from it.
struct PeakSummary {
    double peakAll = -32767.0;
    double peakAfter = -32767.0;
    double tailMean = 0.0;
};

// Writes the peak curve (a(i) clamped to +-32767, truncated) into curve[0 ...
// n-1] and gathers peakAll, peakAfter (indices >= afterFirst) and the mean
// over the tail (indices >= tailStart).
PeakSummary BuildPeakCurve(const MeboDataPtr& stats, int64_t n, double afterFirst,
                           int64_t tailStart, int16_t* curve) {
    PeakSummary p;
    double tailSum = 0.0;
    const uint8_t* rec = stats.axis.base;
    for (int64_t i = 0; i < n; ++i, rec += stats.axis.dim[0].stride) {
        const SCDPPrc_DataStatsMode r = LoadRecord(rec);
        const double hi = std::fabs(r.maxValue), lo = std::fabs(r.minValue);
        double a = hi > lo ? hi : lo;
        if (!(a >= 0.0)) a = 0.0;  // a record holding NaN counts as silence
        curve[i] = static_cast<int16_t>(a < 32767.0 ? a : 32767.0);
        if (a > p.peakAll) p.peakAll = a;
        if (static_cast<double>(i) >= afterFirst && a > p.peakAfter) p.peakAfter = a;
        if (i >= tailStart) tailSum += a;
    }
    p.tailMean = tailSum / static_cast<double>(n - tailStart);
    return p;
}

// Least-squares slope of y[0 ... n-1] over x = 0, 1, ...
double CurveSlope(const int16_t* y, int64_t n) {
    double slope = 0.0;
    CDPPrc_linear_fit(nullptr, &slope, static_cast<int>(n), y, nullptr);
    return slope;
}

}  // namespace

bool GatherSampleStats(MeboDataPtr& stats, const MeboDataPtr& data, bool merge) {
    if (!HoldsSamples(data)) return false;
    const MeboAxisDim& range = data.axis.dim[0];
    if (merge && (RecordCount(&stats) == 0 || stats.axis.dim[0].min != range.min ||
                  stats.axis.dim[0].max != range.max))
        return false;
    ScratchBuffer scratch;
    MeboDataPtr& target = merge ? scratch.buf : stats;
    MeboDataPtrRelease(&target);
    SCDPPrc_DataStatsMode record;
    SCDPPrc_InitStats(&record);
    record.mode = STATS_MINMAX;
    record.indexStats = &target;
    CDPPrc_sample_stats(&record, &data);
    if (RecordCount(&target) == 0) return false;
    if (merge) MergeRecords(stats, scratch.buf);
    return true;
}

}  // namespace vantir3

// The statistics step needs no process object of its own to run in.
bool CCdpProcessToolbox::GetDataMinMaxStats(MeboDataPtr& out, const MeboDataPtr& in, bool merge) {
    return vantir3::GatherSampleStats(out, in, merge);
}

int CCdpProcessToolbox::SecAutoSetParamStruct(Sec2GainParam* params,
                                              const ICdpDataSource::SEGprParam* gpr,
                                              double maxGainSpec, double tailFraction,
                                              double targetSlope, double attenuationStep,
                                              MeboDataPtr* stats, unsigned int pulsePeakPercent,
                                              unsigned int overallPeakPercent) {
    using namespace vantir3;
    if (!(maxGainSpec > 0.0) || !std::isfinite(maxGainSpec)) return kSecAutoBadMaxGain;
    if (!(tailFraction > 0.0 && tailFraction <= 1.0)) return kSecAutoBadTailFraction;
    if (!std::isfinite(targetSlope)) return kSecAutoBadTargetSlope;
    if (!(attenuationStep > 0.0) || !std::isfinite(attenuationStep)) return kSecAutoBadStep;
    if (params == nullptr) return kSecAutoNotSec2;
    if (gpr == nullptr) return kSecAutoNoGprParam;
    const double z = gpr->timeZeroSample, dt = gpr->sampleInterval, f = gpr->antennaFrequency;
    if (!std::isfinite(z) || !(dt > 0.0) || !std::isfinite(dt) || !(f > 0.0) || !std::isfinite(f))
        return kSecAutoNoGprParam;
    // The peak curve is a buffer of n 16-bit samples, whose byte size must
    // stay a signed 32-bit number.
    const int64_t n = RecordCount(stats);
    if (n == 0 || n > (int64_t{1} << 30)) return kSecAutoNoStatistics;

    // Positions on the curve, whose indices count from 0 at the first record.
    const double t0 = std::ceil(z) - 1.0;
    const double afterFirst = t0 + std::floor(0.5 + 1500.0 / (f * dt));
    int64_t tailStart = n - 1;
    if (tailFraction > 0.0 && tailFraction < 1.0) {
        const double s = std::floor(0.5 + static_cast<double>(n) * (1.0 - tailFraction));
        tailStart = s < 0.0 ? 0 : (s > static_cast<double>(n - 1) ? n - 1 : static_cast<int64_t>(s));
    }

    ScratchBuffer curve, gained;
    if (!MeboDataPtrAllocateCounts(&curve.buf, 2, static_cast<int32_t>(n), 1, 1, 0) ||
        !MeboDataPtrAllocateCounts(&gained.buf, 2, static_cast<int32_t>(n), 1, 1, 0))
        return kSecAutoNoStatistics;
    int16_t* curveSamples = reinterpret_cast<int16_t*>(curve.buf.axis.base);
    const int16_t* gainedSamples = reinterpret_cast<const int16_t*>(gained.buf.axis.base);
    PeakSummary peaks = BuildPeakCurve(*stats, n, afterFirst, tailStart, curveSamples);
    if (!(peaks.peakAll >= 1.0)) peaks.peakAll = 1.0;
    if (!(peaks.tailMean >= 1.0)) peaks.tailMean = 1.0;
    if (!(peaks.peakAfter >= 1.0)) peaks.peakAfter = 1.0;

    const double overallTerm = 32767.0 * overallPeakPercent / (peaks.peakAll * 100.0);
    const double pulseTerm = 32767.0 * pulsePeakPercent / (peaks.peakAfter * 100.0);
    double startGain = overallTerm < pulseTerm ? overallTerm : pulseTerm;
    double maxGain = maxGainSpec;
    if (maxGainSpec < 1.0) {
        maxGain = maxGainSpec * peaks.peakAll / peaks.tailMean;
        if (maxGain < 1.0) maxGain = 1.0;
    }
    if (startGain > maxGain) startGain = maxGain;
    params->attenuation = 0.0;
    params->startGain = startGain;
    params->maxGain = maxGain;

    // The slope is fitted from time zero (or the first sample) to the last
    // sample below the maximum gain.
    const int64_t fitFirst = t0 > 0.0 ? (t0 < static_cast<double>(n) ? static_cast<int64_t>(t0) : n) : 0;
    double slope = 32767.0, previous = slope;
    do {
        previous = slope;
        int last = -1;
        const int run = Sec2Gain(gained.buf, curve.buf, *params, z, dt, f, &last);
        if (run < 0 || static_cast<int64_t>(last) <= fitFirst) return kSecAutoSearchBrokeOff;
        slope = CurveSlope(gainedSamples + fitFirst, int64_t{last} - fitFirst + 1);
        params->attenuation = params->attenuation + attenuationStep;
    } while (slope < targetSlope && params->attenuation <= kSecAutoMaxAttenuation);

    params->attenuation = params->attenuation - attenuationStep;
    if (slope != previous)
        params->attenuation = params->attenuation -
                              (slope - targetSlope) * attenuationStep / (slope - previous);
    return 0;
}

int CCdpProcessToolbox::SecAutoSetParams(CCdpProcess* process, double maxGainSpec,
                                         double tailFraction, double targetSlope,
                                         double attenuationStep, MeboDataPtr* stats,
                                         unsigned int pulsePeakPercent,
                                         unsigned int overallPeakPercent) {
    using namespace vantir3;
    if (process == nullptr || process->GetProcessUID() != KOL::Str2UID("SECCGN"))
        return kSecAutoNotSec2;
    CCdpPrcSec2Gain* sec2 = dynamic_cast<CCdpPrcSec2Gain*>(process);
    if (sec2 == nullptr) return kSecAutoNotSec2;

    ScratchBuffer gathered;
    if (stats == nullptr) {
        const ICdpDataSource* source = process->GetDataSource();
        if (source == nullptr) return kSecAutoNoStatistics;
        ScratchBuffer data;
        if (source->GetDataCdp(data.buf, nullptr, nullptr) < 0 ||
            !GatherSampleStats(gathered.buf, data.buf, false))
            return kSecAutoNoStatistics;
        stats = &gathered.buf;
    }
    const ICdpDataSource::SEGprParam* gpr = process->GprParamPtr();
    if (gpr == nullptr) return kSecAutoNoGprParam;

    Sec2GainParam chosen;
    const int status = SecAutoSetParamStruct(&chosen, gpr, maxGainSpec, tailFraction, targetSlope,
                                             attenuationStep, stats, pulsePeakPercent,
                                             overallPeakPercent);
    if (status != 0) return status;
    // The new values reach the process as a parameter text, through the same
    // formatting, parsing and validation as a user's.
    Sec2GainParam& current = sec2->Params();
    const Sec2GainParam kept = current;
    current = chosen;
    const std::string text = process->GetParams();
    current = kept;
    return process->SetParams(text.c_str());
}
