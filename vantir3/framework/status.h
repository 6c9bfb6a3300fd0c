// Status codes of the library's calls, by name. Every data call returns an
// int: negative is a failure, 0 a success, positive a success with a notice.
// The same number can mean different things in different families of calls
// (-1 is also "nothing to reduce" for the reductions, -7 to -9 differ by
// algorithm, the SEC2 set-up reuses -200 and -201), so each family has its
// own names; compare a result with the names of the call that gave it.
#ifndef VANTIR3_FRAMEWORK_STATUS_H_
#define VANTIR3_FRAMEWORK_STATUS_H_

namespace vantir3 {

// ---- Data buffers: MeboIntersectRanges (a, b) and MeboDataPtrIntersect
// give kStatusNoCommonRegion, 0 (equal ranges) or these bits: the common
// region is narrower than a's ranges, narrower than b's.
constexpr int kIntersectNarrowerThanFirst = 1;
constexpr int kIntersectNarrowerThanSecond = 2;

// ---- Processes (GetDataCdp), their algorithms and the static entry points.
constexpr int kStatusOk = 0;
// Success; the caller's output reached beyond the input and its view was
// narrowed to the region that both share.
constexpr int kStatusOutputNarrowed = 1;
// Input and output share no sample (also MeboIntersectRanges and
// MeboDataPtrIntersect).
constexpr int kStatusNoCommonRegion = -1;
// An output or working buffer could not be allocated.
constexpr int kStatusAllocationFailed = -1;
// Setting a view on the common region failed (also MeboDataPtrIntersect).
constexpr int kStatusViewFailed = -2;
// Input and output have no common range on a matched axis (the sample
// reductions and the view set-up of the depth conversions).
constexpr int kStatusNoCommonRange = -2;
// Input and output element sizes differ (or are not 16-bit samples).
constexpr int kStatusElemSizeMismatch = -3;
// Narrowing the output, or the input, to the common region failed.
constexpr int kStatusNarrowOutputFailed = -4;
constexpr int kStatusNarrowInputFailed = -5;
// The final narrowing of the caller's output view failed.
constexpr int kStatusFinalNarrowFailed = -6;
// GetDataCdp of a process that has no data source.
constexpr int kStatusNoDataSource = -200;
// The data source gives no SEGprParam.
constexpr int kStatusNoGprParam = -201;

// ---- Sample reductions (CdpMinMaxReduction, CdpAverageReduction,
// CdpDecimation); 0, 1, -2 to -6 as above, and:
// Nothing to reduce: the reduction factor is at most 1 (min-max reduction,
// decimation), or the axis is neither 0 nor 1.
constexpr int kReduceNothingToReduce = -1;
// Average reduction: a group's sum would not fit 32 bits.
constexpr int kReduceSumTooLarge = -6;

// ---- Codes of particular algorithms, beyond the common ones.
// Background subtraction: the output does not cover the input's ranges.
constexpr int kOutputDoesNotCoverInput = -7;
// Dewow, background subtraction: the auxiliary buffer (averaged trace,
// background trace) holds fewer samples than the common region's traces.
constexpr int kAuxTooSmall = -8;
// Depth conversions (deseparation, topographic and combined shift): the
// geometry has no depth scale and the input was copied unchanged (a notice).
constexpr int kDepthNotConverted = 2;
// Depth conversions: a velocity or sample interval that is not a positive
// finite number, a non-finite separation or time-zero position (and, for the
// deseparation, a negative time zero).
constexpr int kDepthBadGeometry = -7;
// Migration: velocity, trace spacing, sample interval or start sample
// unusable (or so extreme that the result would overflow); input and output
// differing in an index range or stride; a section too large to transform.
constexpr int kMigrateBadNumbers = -7;
constexpr int kMigrateLayoutMismatch = -8;
constexpr int kMigrateTooLarge = -9;

// ---- Parameter strings (SetParams): 0 all applied, +n line n's value
// refused, -n line n malformed, or:
constexpr int kParamsOutOfMemory = -9999;

// ---- CDeclarationParam::SetVal (and SetToDefault, SetToListVal).
constexpr int kSetValStored = 1;    // stored unchanged
constexpr int kSetValAdjusted = -1;  // stored after adjustment to the bounds or grid
constexpr int kSetValRefused = 0;   // refused; the held value unchanged

// ---- SEC2 automatic set-up (SecAutoSetParams, SecAutoSetParamStruct).
// The attenuation search broke off (a SEC2 run failed, or no sample after
// time zero stayed below the maximum gain).
constexpr int kSecAutoSearchBrokeOff = -100;
// No usable SEGprParam (none, or a sample interval or antenna frequency that
// is not a positive finite number, or a time-zero position not finite).
constexpr int kSecAutoNoGprParam = -200;
constexpr int kSecAutoBadMaxGain = -201;       // maxGainSpec not above 0 or not finite
constexpr int kSecAutoBadTailFraction = -202;  // tailFraction not in (0, 1]
constexpr int kSecAutoBadTargetSlope = -203;   // targetSlope not finite
constexpr int kSecAutoBadStep = -204;          // attenuationStep not above 0 or not finite
// No usable statistics: none could be gathered from the process's source,
// or the buffer given holds no statistics records.
constexpr int kSecAutoNoStatistics = -205;
// A null process, or one that is not a SEC2 gain.
constexpr int kSecAutoNotSec2 = -999;

}  // namespace vantir3

#endif  // VANTIR3_FRAMEWORK_STATUS_H_
