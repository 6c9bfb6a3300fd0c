// SEC2 automatic set-up: derives the three SEC2 gain parameters from the
// amplitude statistics of the data.
//
// The statistics are one SCDPPrc_DataStatsMode record per sample index
// (axis 0) over all traces and planes (CDPPrc_sample_stats, min-max mode).
// From them the set-up builds the peak curve a(i) = max(|maxValue|,
// |minValue|), chooses a start gain that brings the strongest peak to a
// percentage of full scale, a maximum gain, and then searches the
// attenuation (in steps, up to the first value above 500 dB/m) at which the
// SEC2-gained peak curve's least-squares slope after time zero reaches the
// wanted slope, interpolating linearly between the last two attenuations
// tried.
//
// The toolbox members CCdpProcessToolbox::GetDataMinMaxStats,
// SecAutoSetParamStruct and SecAutoSetParams are defined in sec2_auto.cc.
// Their result codes:
//   0     set-up done (SecAutoSetParams: the process's SetParams result);
//   -100  the attenuation search broke off: a SEC2 run failed, or no sample
//         after time zero stayed below the maximum gain (the last sample
//         below it is not after the first sample of the slope fit);
//   -200  no SEGprParam (SecAutoSetParams: the process's source gives none;
//         SecAutoSetParamStruct: a null pointer), or one whose sample
//         interval or antenna frequency is not a positive finite number or
//         whose time-zero position is not finite;
//   -201  maxGainSpec not above 0 (or not finite);
//   -202  tailFraction not in (0, 1];
//   -203  targetSlope not finite;
//   -204  attenuationStep not above 0 (or not finite);
//   -205  no usable statistics: SecAutoSetParams could not gather them from
//         the process's source, or the buffer given holds no statistics
//         records (null, wrong element size, no sample);
//   -999  SecAutoSetParams: a null process or one that is not a SEC2 gain
//         process; SecAutoSetParamStruct: a null parameter record.
// Parameter errors (-201 ... -204) are checked in that order, before anything
// is allocated.
//
// Choices where the behaviour was open:
//  - Time zero before the first sample (t0 < 0): the slope fit starts at
//    sample 0 (there is nothing before it); the search breaks off when the
//    last sample below the maximum gain is not after the fit's first sample.
//  - When the last two slopes of the search are equal the interpolation has
//    no direction; the attenuation of the last run is kept.
//  - The statistics records are read along the buffer's axis-0 stride.
#ifndef VANTIR3_PROCESSES_SEC2_AUTO_H_
#define VANTIR3_PROCESSES_SEC2_AUTO_H_

#include "vantir3/data/data_buffer.h"
#include "vantir3/framework/status.h"

namespace vantir3 {

// Attenuation at which the search stops at the latest, dB/m.
constexpr double kSecAutoMaxAttenuation = 500.0;

// The statistics step. Without merge, `stats` is released and reallocated as
// one min-max record per sample index of `data` (along axis 0, indices
// 0 ... n-1). With merge, `stats` must hold records whose axis-0 range equals
// the data's; the new statistics are then folded into them record by record
// (counts and sums added, the larger maximum and the smaller minimum kept).
// false, with `stats` unchanged, when the data buffer holds no 16-bit samples
// (no storage, no view base, element size not 2), when merging into a buffer
// that is not a records buffer or whose axis-0 range differs from the data's,
// or when the records cannot be allocated (without merge `stats` is then
// left empty).
bool GatherSampleStats(MeboDataPtr& stats, const MeboDataPtr& data, bool merge);

}  // namespace vantir3

#endif  // VANTIR3_PROCESSES_SEC2_AUTO_H_
